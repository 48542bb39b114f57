// The salvage benchmark's damage run: builds backups of both layouts, damages
// each at random (a cut, a zeroed 4 KiB block, a burst of noise, flipped
// bytes), salvages them with the core, and carves the same files with a
// name-blind carver written here (every "RIFF....WAVE", as long as its RIFF
// size says). Prints, per layout and side by side, how much comes back.
//
//   larkspool-bench-salvage BACKUPS_PER_LAYOUT SCRATCH_DIR [SEED]
#include <algorithm>
#include <cstdio>
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
};

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
    const Bytes payload = testing::WavPayload(size, static_cast<std::uint8_t>(random()));
    if (paired && i + 1 < count && random() % 2 == 0) {
      const std::size_t sizeB = 2000 + random() % 40000;
      const std::string nameB = "msg" + std::to_string(i + 1) + ".wav";
      builder.Files(name, payload, nameB, testing::WavPayload(sizeB, static_cast<std::uint8_t>(random())));
      built.messages.push_back({name, at, at + 256, static_cast<std::int64_t>(size)});
      built.messages.push_back(
          {nameB, at, at + 256 + static_cast<std::int64_t>(size), static_cast<std::int64_t>(sizeB)});
      at += 256 + static_cast<std::int64_t>(size + sizeB);
      ++i;
    } else if (paired) {
      builder.Files(name, payload);
      built.messages.push_back({name, at, at + 256, static_cast<std::int64_t>(size)});
      at += 256 + static_cast<std::int64_t>(size);
    } else {
      builder.Entry(name, payload);
      built.messages.push_back({name, at, at + 80, static_cast<std::int64_t>(size)});
      at += 80 + static_cast<std::int64_t>(size);
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
  int wrong = 0, carverWrong = 0;
};

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
    // A file under a stored name must hold that message's bytes, as the
    // damaged backup has them where the message lies.
    for (const auto& [name, content] : files) {
      const auto m = std::find_if(built.messages.begin(), built.messages.end(),
                                  [&](const Placed& p) { return p.name == name; });
      if (m == built.messages.end()) continue;
      t.wrong += !(m->offset + m->size <= size &&
                   std::equal(content.begin(), content.end(), damaged.begin() + m->offset) &&
                   static_cast<std::int64_t>(content.size()) == m->size);
    }
    for (const auto& [offset, content] : carved) {
      const auto m = std::find_if(built.messages.begin(), built.messages.end(),
                                  [&](const Placed& p) { return p.offset == offset; });
      t.carverWrong += m == built.messages.end() || static_cast<std::int64_t>(content.size()) > m->size;
    }
  }
  std::printf("%s layout: %d damaged backups\n", paired ? "paired-entry" : "single-entry", t.backups);
  Pct("untouched messages, byte for byte under their names", t.untouchedNamed, t.untouched, 0);
  Pct("untouched messages, byte for byte under any name", t.untouchedAny, t.untouched, t.carverUntouched);
  Pct("untouched payloads of damaged headers, byte for byte", t.headerOnlySaved, t.headerOnly,
      t.carverHeaderOnly);
  Pct("... of them without their names", t.headerOnlyUnnamed, t.headerOnly, -1);
  Pct("payloads cut by the end, saved in part", t.cutPartial, t.cut, t.carverCut);
  std::printf("  %-52s %6d            carver %6d\n",
              "files with wrong bytes (salvage: under stored names; carver: any)", t.wrong, t.carverWrong);
}

}  // namespace
}  // namespace larkspool::bench

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s BACKUPS_PER_LAYOUT SCRATCH_DIR [SEED]\n", argv[0]);
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
