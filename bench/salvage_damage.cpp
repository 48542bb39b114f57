// The salvage benchmark's damage run: builds backups of both layouts, keeps
// every message as built, damages each backup at random (a cut, a zeroed
// 4 KiB block, a burst of noise, flipped bytes), salvages them with the core,
// and carves the same files with a name-blind carver written here (every
// "RIFF....WAVE", as long as its RIFF size says). Prints, per layout and side
// by side, how much comes back, every file compared with the original
// messages. It also writes the hostile files the scan is timed on.
//
//   larkspool-bench-salvage BACKUPS_PER_LAYOUT SCRATCH_DIR [SEED]
//   larkspool-bench-salvage --hostile tags|format|riff|zeros SIZE FILE
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/salvage_request.h"
#include "builder/backup_builder.h"

namespace larkspool::bench {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;

// Shows nothing; existing files are replaced.
class SilentUi final : public SilentUserInterface {
 public:
  OverwriteAnswer AskOverwrite(const std::string& /*name*/) override { return OverwriteAnswer::kYesToAll; }
};

struct Placed {
  std::string name;
  std::int64_t header = 0;  // its entry header or record
  std::int64_t offset = 0;
  std::int64_t size = 0;
  Bytes original;
};

// A voice message as a recorder writes it: the tags, a format chunk and a
// data chunk, `size` bytes in all, its samples depending on `seed`.
Bytes Message(std::size_t size, std::uint8_t seed) {
  testing::WaveShape shape;
  shape.dataBytes = static_cast<std::uint32_t>(size - 44);
  Bytes wav = testing::WavWithFormat(shape);
  for (std::size_t i = 44; i < wav.size(); ++i)
    wav[i] = static_cast<std::uint8_t>(i * 31 + seed * 7 + (i >> 8));
  return wav;
}

struct Built {
  Bytes bytes;
  std::vector<Placed> messages;
};

Built Build(bool paired, std::mt19937& random) {
  Built built;
  testing::BackupBuilder builder =
      paired ? testing::BackupBuilder::Paired() : testing::BackupBuilder::Single(BackupKind::k3);
  std::int64_t at = paired ? 51 : 24;
  const int count = 6 + static_cast<int>(random() % 7);
  for (int i = 0; i < count; ++i) {
    const std::size_t size = 2000 + random() % 40000;
    const std::string name = "msg" + std::to_string(i) + ".wav";
    const Bytes payload = Message(size, static_cast<std::uint8_t>(random()));
    const auto length = static_cast<std::int64_t>(size);
    if (paired && i + 1 < count && random() % 2 == 0) {
      const std::size_t sizeB = 2000 + random() % 40000;
      const std::string nameB = "msg" + std::to_string(i + 1) + ".wav";
      const Bytes payloadB = Message(sizeB, static_cast<std::uint8_t>(random()));
      builder.Files(name, payload, nameB, payloadB);
      built.messages.push_back({name, at, at + 256, length, payload});
      built.messages.push_back({nameB, at, at + 256 + length, static_cast<std::int64_t>(sizeB), payloadB});
      at += 256 + length + static_cast<std::int64_t>(sizeB);
      ++i;
    } else if (paired) {
      builder.Files(name, payload);
      built.messages.push_back({name, at, at + 256, length, payload});
      at += 256 + length;
    } else {
      builder.Entry(name, payload);
      built.messages.push_back({name, at, at + 80, length, payload});
      at += 80 + length;
    }
  }
  built.bytes = builder.bytes();
  return built;
}

using Span = std::pair<std::int64_t, std::int64_t>;

// One to three damages past the backup header; the spans they touched. A
// fifth of them land on an entry header or record.
std::vector<Span> Damage(Bytes& bytes, const Built& built, std::int64_t start, std::mt19937& random) {
  std::vector<Span> touched;
  for (int n = 1 + static_cast<int>(random() % 3); n > 0; --n) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (size <= start + 1) break;
    std::int64_t at = start + static_cast<std::int64_t>(random() % static_cast<unsigned>(size - start));
    std::int64_t length = 0;
    const auto kind = static_cast<unsigned>(random() % 5);
    if (kind == 4) {
      const Placed& m = built.messages[random() % built.messages.size()];
      at = m.header + static_cast<std::int64_t>(random() % static_cast<unsigned>(m.offset - m.header));
      if (at >= size) continue;
    }
    switch (kind == 4 ? 2 : kind) {
      case 0:
        bytes.resize(static_cast<std::size_t>(at));
        touched.emplace_back(at, INT64_MAX);
        continue;
      case 1:
        length = 4096;
        break;
      case 2:
        length = 1 + random() % 32;
        break;
      default:
        length = 1;
    }
    length = std::min(length, size - at);
    for (std::int64_t i = 0; i < length; ++i) {
      bytes[static_cast<std::size_t>(at + i)] = length == 4096 ? 0 : static_cast<std::uint8_t>(random());
    }
    touched.emplace_back(at, at + length);
  }
  return touched;
}

bool Touches(const std::vector<Span>& touched, std::int64_t begin, std::int64_t end) {
  return std::any_of(touched.begin(), touched.end(),
                     [&](const Span& t) { return t.first < end && t.second > begin; });
}

// The name-blind carver: every place with "RIFF" and "WAVE" 8 bytes later,
// as long as its RIFF size says or up to the end of the file.
std::map<std::int64_t, Bytes> Carve(const Bytes& bytes) {
  std::map<std::int64_t, Bytes> files;
  std::size_t at = 0;
  while (at + 12 <= bytes.size()) {
    if (std::memcmp(bytes.data() + at, "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + at + 8, "WAVE", 4) != 0) {
      ++at;
      continue;
    }
    std::uint32_t riff = 0;
    std::memcpy(&riff, bytes.data() + at + 4, 4);
    const std::size_t end = std::min<std::size_t>(bytes.size(), at + std::size_t{riff} + 8);
    files[static_cast<std::int64_t>(at)] = Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
    at = std::max(end, at + 1);
  }
  return files;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Tally {
  int backups = 0;
  int untouched = 0, untouchedNamed = 0, untouchedAny = 0, carverUntouched = 0;
  int headerOnly = 0, headerOnlySaved = 0, headerOnlyUnnamed = 0, carverHeaderOnly = 0;
  int cut = 0, cutPartial = 0, carverCut = 0;
  int named = 0, wrongIntact = 0, wrongTouched = 0;  // files under stored names
  int partial = 0, partialWrong = 0, partialUntouched = 0;
  int unnamed = 0, unnamedWrong = 0, unnamedTouched = 0;
  int carved = 0, carverWrong = 0;
};

// A saved part of `original`: its first bytes, the RIFF and data sizes of a
// part set to fit (the data chunk of Message begins at 36).
bool IsPartOf(const Bytes& file, const Bytes& original) {
  if (file.size() > original.size()) return false;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const bool sizeField = file.size() < original.size() && ((i >= 4 && i < 8) || (i >= 40 && i < 44));
    if (!sizeField && file[i] != original[i]) return false;
  }
  return true;
}

void Pct(const char* label, int part, int whole, int carver) {
  std::printf("  %-52s %6.1f %%  (%d of %d)", label, whole ? 100.0 * part / whole : 0.0, part, whole);
  if (carver >= 0) std::printf("   carver %6.1f %%", whole ? 100.0 * carver / whole : 0.0);
  std::printf("\n");
}

void Run(bool paired, int count, const fs::path& scratch, std::mt19937& random) {
  Tally t;
  for (int n = 0; n < count; ++n) {
    const Built built = Build(paired, random);
    Bytes damaged = built.bytes;
    const std::vector<Span> touched = Damage(damaged, built, paired ? 51 : 24, random);
    fs::remove_all(scratch);
    fs::create_directories(scratch / "out");
    const fs::path backup = scratch / "box.bkp";
    {
      std::ofstream out(backup, std::ios::binary);
      out.write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
    }
    SilentUi ui;
    SalvageReport report;
    const fs::path cwd = fs::current_path();
    Salvager(NativeFileSystem(), ui).OnSalvage(backup.string(), (scratch / "out").string(), report);
    fs::current_path(cwd);
    ++t.backups;
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(scratch / "out")) {
      files[entry.path().filename().string()] = ReadAll(entry.path());
    }
    const std::map<std::int64_t, Bytes> carved = Carve(damaged);
    const auto size = static_cast<std::int64_t>(damaged.size());
    for (const Placed& m : built.messages) {
      const Bytes original(built.bytes.begin() + m.offset, built.bytes.begin() + m.offset + m.size);
      const bool hasFile = [&] {
        return std::any_of(files.begin(), files.end(), [&](const auto& f) { return f.second == original; });
      }();
      const bool carverHas = carved.contains(m.offset) && carved.at(m.offset) == original;
      const bool payloadUntouched = !Touches(touched, m.offset, m.offset + m.size);
      if (!Touches(touched, m.header, m.offset + m.size)) {
        ++t.untouched;
        t.untouchedNamed += files.contains(m.name) && files.at(m.name) == original;
        t.untouchedAny += hasFile;
        t.carverUntouched += carverHas;
      } else if (payloadUntouched) {
        ++t.headerOnly;
        const std::string carvedName = RecoveredName(m.offset);
        t.headerOnlyUnnamed += files.contains(carvedName) && files.at(carvedName) == original;
        t.headerOnlySaved += hasFile;
        t.carverHeaderOnly += carverHas;
      } else if (m.offset + 12 <= size && m.offset + m.size > size && !Touches(touched, m.header, size)) {
        ++t.cut;
        const std::string partial = PartialName(m.name);
        t.cutPartial +=
            files.contains(partial) && files.at(partial).size() == static_cast<std::size_t>(size - m.offset);
        t.carverCut += carved.contains(m.offset);
      }
    }
    // Every file against the original messages: under a stored name it must
    // be that message, whole; a part of one must be its first bytes; an
    // unnamed one, where a message began, that message or its first bytes.
    for (const auto& [name, content] : files) {
      const auto stored = std::find_if(built.messages.begin(), built.messages.end(),
                                       [&](const Placed& p) { return p.name == name; });
      if (stored != built.messages.end()) {
        ++t.named;
        const bool intact = !Touches(touched, stored->offset, stored->offset + stored->size);
        if (content != stored->original) ++(intact ? t.wrongIntact : t.wrongTouched);
        continue;
      }
      const auto partOf = std::find_if(built.messages.begin(), built.messages.end(),
                                       [&](const Placed& p) { return PartialName(p.name) == name; });
      if (partOf != built.messages.end()) {
        ++t.partial;
        // Where the bytes it holds were not damaged, they are the original's.
        const bool intact =
            !Touches(touched, partOf->offset, partOf->offset + static_cast<std::int64_t>(content.size()));
        t.partialUntouched += intact;
        t.partialWrong += intact && !IsPartOf(content, partOf->original);
        continue;
      }
      // Carved, or under a name the damage changed: where its payload was
      // not damaged, it is the message the report places there, or its
      // first bytes.
      ++t.unnamed;
      const auto told = std::find_if(report.messages.begin(), report.messages.end(),
                                     [&](const SalvagedMessage& m) { return m.outputName == name; });
      const auto at = std::find_if(built.messages.begin(), built.messages.end(), [&](const Placed& p) {
        return told != report.messages.end() && p.offset == told->offset;
      });
      if (at != built.messages.end() && Touches(touched, at->offset, at->offset + at->size)) {
        t.unnamedTouched += !IsPartOf(content, at->original);
      } else {
        t.unnamedWrong += at == built.messages.end() || !IsPartOf(content, at->original);
      }
    }
    for (const auto& [offset, content] : carved) {
      ++t.carved;
      const auto m = std::find_if(built.messages.begin(), built.messages.end(),
                                  [&](const Placed& p) { return p.offset == offset; });
      t.carverWrong +=
          m == built.messages.end() ||
          (!Touches(touched, m->offset, m->offset + m->size) && content != m->original &&
           !(offset + static_cast<std::int64_t>(content.size()) == size && IsPartOf(content, m->original)));
    }
  }
  std::printf("%s layout: %d damaged backups\n", paired ? "paired-entry" : "single-entry", t.backups);
  Pct("untouched messages, byte for byte under their names", t.untouchedNamed, t.untouched, 0);
  Pct("untouched messages, byte for byte under any name", t.untouchedAny, t.untouched, t.carverUntouched);
  Pct("untouched payloads of damaged headers, byte for byte", t.headerOnlySaved, t.headerOnly,
      t.carverHeaderOnly);
  Pct("... of them without their names", t.headerOnlyUnnamed, t.headerOnly, -1);
  Pct("payloads cut by the end, saved in part", t.cutPartial, t.cut, t.carverCut);
  std::printf("  %-52s %6d of %d; %d more where the payload was damaged\n",
              "files under stored names unlike the original", t.wrongIntact, t.named, t.wrongTouched);
  std::printf("  %-52s %6d of %d (%d of them hold no damaged byte)\n",
              "partial files not the original's first bytes", t.partialWrong, t.partial, t.partialUntouched);
  std::printf("  %-52s %6d of %d; %d more where the payload was damaged\n",
              "other files not a message (or its first bytes)", t.unnamedWrong, t.unnamed, t.unnamedTouched);
  std::printf("  %-52s %6d of %d\n", "carver: files not a message (or cut by the end)", t.carverWrong,
              t.carved);
}

// A file the scan is timed on: a kind 3 backup header, then `size` bytes of
// `kind`: "RIFF" 01010101 "WAVE" over and over (tags), "RIFF", a tiny size
// and "WAVEfmt " over and over (format), "RIFF" over and over, or zeros.
int WriteHostile(const std::string& kind, std::int64_t size, const char* path) {
  Bytes unit;
  if (kind == "tags") {
    unit = {'R', 'I', 'F', 'F', 1, 1, 1, 1, 'W', 'A', 'V', 'E'};
  } else if (kind == "format") {
    unit = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  } else if (kind == "riff") {
    unit = {'R', 'I', 'F', 'F'};
  } else if (kind == "zeros") {
    unit = {0};
  } else {
    return 64;
  }
  std::ofstream out(path, std::ios::binary);
  const Bytes header = testing::BackupBuilder::Single(BackupKind::k3).bytes();
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  Bytes block;
  while (block.size() < (std::size_t{1} << 20)) block.insert(block.end(), unit.begin(), unit.end());
  for (std::int64_t left = size; left > 0;) {
    const auto n =
        static_cast<std::streamsize>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
    out.write(reinterpret_cast<const char*>(block.data()), n);
    left -= n;
  }
  return out ? 0 : 1;
}

}  // namespace
}  // namespace larkspool::bench

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--hostile") {
    return larkspool::bench::WriteHostile(argv[2], std::atoll(argv[3]), argv[4]);
  }
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s BACKUPS_PER_LAYOUT SCRATCH_DIR [SEED]\n       %s --hostile "
                 "tags|format|riff|zeros SIZE FILE\n",
                 argv[0], argv[0]);
    return 64;
  }
  const int count = std::atoi(argv[1]);
  std::mt19937 random(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 17u);
  const std::filesystem::path scratch = std::filesystem::absolute(argv[2]);
  larkspool::bench::Run(false, count, scratch, random);
  larkspool::bench::Run(true, count, scratch, random);
  std::filesystem::remove_all(scratch);
  return 0;
}
