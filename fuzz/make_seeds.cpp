// Writes the seed corpus of the fuzz targets, built with the test backup
// builder: larkspool_fuzz_seeds CORPUS_DIR writes CORPUS_DIR/<target>/<seed>.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "builder/backup_builder.h"
#include "fuzz/fuzz_input.h"
#include "password/md5.h"
#include "password/password_gate.h"

namespace larkspool::fuzz {
namespace {

namespace fs = std::filesystem;
using testing::BackupBuilder;
using testing::Bytes;
using testing::PairRecordSpec;
using testing::WavPayload;

struct Seed {
  const char* name;
  std::uint8_t script;
  Bytes backup;
};

BackupBuilder Single(BackupKind kind = BackupKind::k3) { return BackupBuilder::Single(kind); }

PairRecordSpec Typed(std::uint8_t type, std::uint8_t markerA, std::uint8_t tail) {
  PairRecordSpec record;
  record.type = type;
  record.markerA = markerA;
  record.tailMarker = tail;
  record.nameA = "e.wav";
  record.payloadA = type == 3 || (markerA == 0xFF && tail != 0xFF) ? Bytes{} : WavPayload(30, 5);
  return record;
}

std::vector<Seed> ExtractSeeds() {
  const Bytes a = WavPayload(100, 1);
  const Bytes b = WavPayload(200, 2);
  const std::uint8_t yes = 0, all = 1, skip = 2, cancel = 3;
  return {
      {"kind3-two-files", yes, Single().Entry("a.wav", a).Entry("d.wav", b).bytes()},
      {"kind4-existing-file-skipped", kPlaceFile | skip, Single(BackupKind::k4).Entry("a.wav", a).bytes()},
      {"kind4-existing-file-cancelled", kPlaceFile | cancel,
       Single(BackupKind::k4).Entry("d.wav", b).Entry("a.wav", a).bytes()},
      {"kind6-link-in-the-way", kPlaceLink | yes, Single(BackupKind::k6).Entry("b.wav", a).bytes()},
      {"kind6-dangling-link", kPlaceLink | kLinkDangles | all,
       Single(BackupKind::k6).Entry("b.wav", a).bytes()},
      {"kind3-directory-in-the-way", kPlaceDirectory | all, Single().Entry("c.wav", a).bytes()},
      {"kind3-audio-details", yes,
       Single().Entry("d.wav", testing::WavFile({0, 1000, -1000, 2000})).Entry("a.wav", a).bytes()},
      {"kind3-selected-and-renamed", kSelectNotA | kMapNames | kPlaceFile | yes,
       Single().Entry("a.wav", a).Entry("d.wav", b).Entry(std::string(46, 'n'), a).bytes()},
      {"kind5-unmappable-name", kMapNames | yes,
       BackupBuilder::Paired().Files("d.wav", a, "\xF0.wav", b).bytes()},
      {"kind3-two-chunks", yes, Single().Entry("d.wav", WavPayload(16400, 3)).bytes()},
      {"kind3-same-name-twice", all, Single().Entry("d.wav", a).Entry("d.wav", b).bytes()},
      {"kind3-payload-past-the-end", yes, Single().Entry("a.wav", a).Entry("d.wav", b, 300).bytes()},
      {"kind3-payload-without-tags", yes, Single().Entry("d.wav", Bytes(40, 'x')).bytes()},
      {"kind3-two-chunks-without-tags-past-the-end", yes,
       Single().Entry("d.wav", Bytes(16400, 'x'), 20000).bytes()},
      {"kind3-eleven-byte-payload", yes, Single().Entry("d.wav", WavPayload(11)).bytes()},
      {"kind3-unsafe-name", yes, Single().Entry("../d.wav", a).bytes()},
      {"kind3-trailing-bytes", yes, Single().Entry("d.wav", a).Raw(Bytes(20, 0)).bytes()},
      {"kind7-not-a-backup", yes, BackupBuilder::Header(7, 0, 24).Entry("d.wav", a).bytes()},
      {"too-short", yes, Bytes(10, 0)},
      {"kind5-two-files", yes, BackupBuilder::Paired().Files("a.wav", a, "d.wav", b).bytes()},
      {"kind5-record-types", kPlaceFile | skip,
       BackupBuilder::Paired()
           .Record(Typed(0, 0xFF, 0))
           .Record(Typed(0, 0xFF, 0xFF))
           .Record(Typed(2, 0, 0))
           .Record(Typed(3, 0, 0))
           .Files("a.wav", a)
           .bytes()},
      {"kind5-password", kPlaceDirectory | yes,
       BackupBuilder::Paired(kPassword).Files("c.wav", a, "d.wav", b).bytes()},
      {"kind5-other-password", yes, BackupBuilder::Paired("987").Files("d.wav", a).bytes()},
      {"kind5-short-record", yes, BackupBuilder::Paired().Files("d.wav", a).Raw(Bytes(100, 1)).bytes()},
  };
}

std::vector<std::pair<const char*, Bytes>> PasswordSeeds() {
  const auto withText = [](Bytes digest, std::string_view text) {
    digest.insert(digest.end(), text.begin(), text.end());
    return digest;
  };
  const std::optional<PasswordDigest> block = PasswordBlock(kPassword);
  const Md5Hash digest = MD5Digest(block->data(), block->size());
  const Bytes stored(digest.begin(), digest.end());
  return {
      {"right-password", withText(stored, kPassword)},           {"wrong-password", withText(stored, "1235")},
      {"no-password-set", withText(Bytes(16, 0xFF), kPassword)}, {"letter", withText(stored, "12a4")},
      {"sixteen-digits", withText(stored, "1234567890123456")},  {"empty-text", stored},
  };
}

std::vector<std::pair<const char*, Bytes>> WaveSeeds() {
  const auto waveFormat = [](std::uint16_t tag, std::uint32_t byteRate, std::uint16_t bits,
                             std::uint32_t data) {
    testing::WaveShape wave;
    wave.formatTag = tag;
    wave.byteRate = byteRate;
    wave.bitsPerSample = bits;
    wave.dataBytes = data;
    return wave;
  };
  testing::WaveShape listFirst = waveFormat(7, 8000, 8, 100);
  listFirst.beforeData = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  testing::WaveShape extensible = waveFormat(0xFFFE, 16000, 16, 64);
  extensible.subFormat = 1;
  testing::WaveShape cutData = waveFormat(0x31, 1625, 0, 65);
  cutData.dataSize = 0xFFFFFFFF;
  return {
      {"pcm", testing::WavWithFormat(waveFormat(1, 16000, 16, 200))},
      {"mu-law-after-list", testing::WavWithFormat(listFirst)},
      {"extensible", testing::WavWithFormat(extensible)},
      {"gsm-data-past-the-end", testing::WavWithFormat(cutData)},
      {"tags-only", WavPayload(12)},
  };
}

// Payloads of the formats the decoder reads, their data a pattern, and the
// audio-details seeds.
std::vector<std::pair<const char*, Bytes>> AudioSeeds() {
  const auto waveFormat = [](std::uint16_t tag, std::uint16_t channels, std::uint16_t blockAlign,
                             std::uint16_t bits, std::uint32_t data) {
    testing::WaveShape wave;
    wave.formatTag = tag;
    wave.channels = channels;
    wave.byteRate = 8000u * blockAlign;
    wave.blockAlign = blockAlign;
    wave.bitsPerSample = bits;
    wave.dataBytes = data;
    return wave;
  };
  std::vector<std::pair<const char*, Bytes>> seeds = WaveSeeds();
  seeds.emplace_back("pcm-8-stereo", testing::WavWithFormat(waveFormat(1, 2, 2, 8, 400)));
  seeds.emplace_back("float", testing::WavWithFormat(waveFormat(3, 1, 4, 32, 400)));
  seeds.emplace_back("a-law", testing::WavWithFormat(waveFormat(6, 1, 1, 8, 300)));
  seeds.emplace_back("ima-adpcm", testing::WavWithFormat(waveFormat(0x11, 1, 256, 4, 1024)));
  seeds.emplace_back("gsm", testing::WavWithFormat(waveFormat(0x31, 1, 65, 0, 650)));
  return seeds;
}

// Damaged backups of both layouts: cut, zeroed, a size burst, a kind lost.
std::vector<std::pair<const char*, Bytes>> SalvageSeeds() {
  const Bytes a = WavPayload(300, 1);
  const Bytes b = WavPayload(500, 2);
  const Bytes single =
      Single().Entry("a.wav", a).Entry("b.wav", b).Entry("c.wav", WavPayload(400, 3)).bytes();
  const Bytes paired = BackupBuilder::Paired().Files("a.wav", a, "b.wav", b).Files("c.wav", a).bytes();
  Bytes cut(single.begin(), single.end() - 100);
  Bytes zeroed = single;
  std::fill_n(zeroed.begin() + 350, 300, std::uint8_t{0});
  Bytes burst = paired;
  burst[51 + 256 + 300 + 500 + 100] ^= 0x5A;
  Bytes kindLost = paired;
  kindLost[8] = 0x77;
  // Messages with a format chunk (carved without their names), and sectors 1
  // and 3 (bytes 512-1023 and 1536-2047) that cannot be read.
  testing::WaveShape shape;
  shape.dataBytes = 700;
  const Bytes wave = testing::WavWithFormat(shape);
  Bytes unreadable = Single().Entry("a.wav", wave).Entry("b.wav", wave).Entry("c.wav", wave).bytes();
  const std::uint8_t sectors[] = {1, 0, 3, 0, 2, 'E', 'I', 'O', '!'};
  unreadable.insert(unreadable.end(), std::begin(sectors), std::end(sectors));
  return {{"single-cut", cut},
          {"single-zeroed", zeroed},
          {"paired-size-burst", burst},
          {"paired-kind-lost", kindLost},
          {"single-unreadable-sectors", unreadable}};
}

void Write(const fs::path& path, const Bytes& bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fclose(out);
}

}  // namespace
}  // namespace larkspool::fuzz

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace larkspool::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 64;
  }
  const fs::path extract = fs::path(argv[1]) / "extract_fuzz";
  const fs::path password = fs::path(argv[1]) / "password_fuzz";
  fs::create_directories(extract);
  const fs::path wave = fs::path(argv[1]) / "wav_info_fuzz";
  fs::create_directories(password);
  fs::create_directories(wave);
  for (const Seed& seed : ExtractSeeds()) {
    Bytes input{seed.script};
    input.insert(input.end(), seed.backup.begin(), seed.backup.end());
    Write(extract / seed.name, input);
  }
  for (const auto& [name, bytes] : PasswordSeeds()) Write(password / name, bytes);
  for (const auto& [name, bytes] : WaveSeeds()) Write(wave / name, bytes);
  const fs::path salvage = fs::path(argv[1]) / "salvage_fuzz";
  fs::create_directories(salvage);
  for (const auto& [name, bytes] : SalvageSeeds()) Write(salvage / name, bytes);
  const fs::path audio = fs::path(argv[1]) / "audio_fuzz";
  fs::create_directories(audio);
  for (const auto& [name, bytes] : AudioSeeds()) Write(audio / name, bytes);
  return 0;
}
