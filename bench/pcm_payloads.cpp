// larkspool-bench-pcm-gen FILE FORMAT COUNT SECONDS: writes a kind 3 backup
// of COUNT messages of SECONDS seconds each, 8 kHz mono, encoded by libsndfile
// in FORMAT (pcm16, ulaw, ima, ms or gsm): a tone over a slow sweep, so the
// codecs have something to work on.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/backup_builder.h"

namespace {

using larkspool::testing::Bytes;

constexpr int kRate = 8000;

// One message in `encoding`, written by the library through a scratch file.
Bytes Message(int encoding, long seconds, const std::string& scratch) {
  const auto frames = static_cast<std::size_t>(seconds * kRate);
  std::vector<short> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double sweep =
        2 * std::numbers::pi * (100 * t + 900 * t * t / (2.0 * static_cast<double>(seconds)));
    samples[i] = static_cast<short>(8000 * std::sin(2 * std::numbers::pi * 440 * t) + 6000 * std::sin(sweep));
  }
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | encoding;
  SNDFILE* out = sf_open(scratch.c_str(), SFM_WRITE, &info);
  if (out == nullptr) throw std::runtime_error(sf_strerror(nullptr));
  sf_writef_short(out, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(out);
  std::ifstream in(scratch, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, int> encodings{{"pcm16", SF_FORMAT_PCM_16},
                                             {"ulaw", SF_FORMAT_ULAW},
                                             {"ima", SF_FORMAT_IMA_ADPCM},
                                             {"ms", SF_FORMAT_MS_ADPCM},
                                             {"gsm", SF_FORMAT_GSM610}};
  if (argc != 5 || !encodings.contains(argv[2])) {
    std::fprintf(stderr, "usage: %s FILE pcm16|ulaw|ima|ms|gsm COUNT SECONDS\n", argv[0]);
    return 2;
  }
  try {
    const std::string file = argv[1];
    const Bytes message = Message(encodings.at(argv[2]), std::stol(argv[4]), file + ".wav");
    std::filesystem::remove(file + ".wav");
    larkspool::testing::BackupBuilder backup =
        larkspool::testing::BackupBuilder::Single(larkspool::BackupKind::k3);
    const long count = std::stol(argv[3]);
    for (long i = 0; i < count; ++i) backup.Entry("message-" + std::to_string(i) + ".wav", message);
    backup.WriteTo(file);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "larkspool-bench-pcm-gen: %s\n", error.what());
    return 1;
  }
  return 0;
}
