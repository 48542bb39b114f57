// Bytes of the backup that cannot be read are damage, not the end: the same
// table of bad sectors through the file layer's fault seam (in the process)
// and, on Linux, below the program at the system-call level, driving the real
// larkspool-cli. Every saved file is compared with the message as built.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/cli_process.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/salvage_fixture.h"

namespace larkspool::testing {
namespace {

// Six messages of 6000 bytes, one entry each: a's header at 24, each next
// header 6080 bytes on (b 6104, c 12184, d 18264, e 24344, f 30424), each
// payload 80 bytes after its header; the file ends at 36504.
BuiltBackup SixMessages() { return BuiltBackup(false, std::vector<std::size_t>(6, 6000)); }

struct Bad {
  std::int64_t begin;
  std::int64_t end;
};

struct ReadErrorCase {
  const char* label;
  std::vector<Bad> unreadable;                 // whole sectors
  bool damageTagsOfB = false;                  // "RIFX" for b's "RIFF"
  std::map<std::string, std::string> states;   // output name (stored name when lost) -> state
  std::map<std::string, std::size_t> partial;  // stored name -> bytes saved
};

const std::map<std::string, std::string> kAllBut(
    std::initializer_list<std::pair<const std::string, std::string>> changed,
    std::initializer_list<std::string> gone = {}) {
  std::map<std::string, std::string> states;
  for (const char name : std::string("abcdef")) states[std::string(1, name) + ".wav"] = "complete";
  for (const std::string& name : gone) states.erase(name);
  for (const auto& [name, state] : changed) {
    states.erase(name.substr(0, 1) + ".wav");
    states[name] = state;
  }
  return states;
}

const ReadErrorCase kCases[] = {
    // The backup is otherwise sound: the copy of b meets the bad sectors.
    {"inside a payload",
     {{7680, 11776}},
     false,
     kAllBut({{"b.partial.wav", "partial"}}),
     {{"b.wav", 7680 - 6184}}},
    // The sector with c's header also holds b's last bytes and c's tags.
    {"inside a header",
     {{11776, 12288}},
     false,
     kAllBut({{"b.partial.wav", "partial"}}, {"c.wav"}),
     {{"b.wav", 11776 - 6184}}},
    {"in several places",
     {{7680, 8192}, {19968, 20480}, {30208, 30720}},
     false,
     kAllBut({{"b.partial.wav", "partial"}, {"d.partial.wav", "partial"}, {"e.partial.wav", "partial"}},
             {"f.wav"}),
     {{"b.wav", 7680 - 6184}, {"d.wav", 19968 - 18344}, {"e.wav", 30208 - 24424}}},
    // A search past b's damaged tags reads ahead into f's bad sectors; it
    // must cost nothing before them.
    {"after a search",
     {{31744, 35840}},
     true,
     kAllBut({{"b.wav", "lost"}, {"f.partial.wav", "partial"}}),
     {{"f.wav", 31744 - 30504}}},
};

class SalvageReadErrorTest : public ::testing::TestWithParam<ReadErrorCase> {
 protected:
  Bytes Backup() const {
    Bytes bytes = built_.bytes;
    if (GetParam().damageTagsOfB) bytes[static_cast<std::size_t>(built_['b'].offset + 3)] = 'X';
    return bytes;
  }
  // The files must be the originals, whole or their first bytes.
  void ExpectFiles(const Files& files) const {
    const ReadErrorCase& c = GetParam();
    std::size_t saved = 0;
    for (const PlacedMessage& m : built_.messages) {
      if (c.partial.contains(m.name)) {
        const std::string name = m.name.substr(0, 1) + ".partial.wav";
        ASSERT_TRUE(files.contains(name)) << name;
        EXPECT_EQ(files.at(name), SavedPart(m.original, c.partial.at(m.name))) << name;
        ++saved;
      } else if (c.states.contains(m.name) && c.states.at(m.name) == "complete") {
        ASSERT_TRUE(files.contains(m.name)) << m.name;
        EXPECT_EQ(files.at(m.name), m.original) << m.name;
        ++saved;
      }
    }
    EXPECT_EQ(files.size(), saved);
  }

  const BuiltBackup built_ = SixMessages();
};

TEST_P(SalvageReadErrorTest, SavesAroundUnreadableSectorsAndReportsThem) {
  const ReadErrorCase& c = GetParam();
  FaultyFileSystem disk;
  for (const Bad& bad : c.unreadable) disk.Inject(ReadRange(bad.begin, bad.end - bad.begin));
  Session s;
  const SalvageOutcome o = SalvageInto(s, Backup(), disk);
  ASSERT_EQ(o.result, RunResult::kCompleted);
  EXPECT_EQ(StatesOf(o.report), c.states);
  ExpectFiles(o.files);
  std::vector<std::pair<std::int64_t, std::int64_t>> told;
  for (const DamagedRange& range : o.report.damaged) {
    if (range.unreadable) told.emplace_back(range.begin, range.end);
    EXPECT_EQ(range.unreadable, range.reason == kUnreadableReason) << range.reason;
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> expected;
  for (const Bad& bad : c.unreadable) expected.emplace_back(bad.begin, bad.end);
  EXPECT_EQ(told, expected);
  EXPECT_TRUE(o.report.unreadable);
}

#ifdef LARKSPOOL_UNREADABLE_SECTORS
// The same sectors fail below the program: every read, pread, splice, ... of
// the backup by larkspool-cli.
TEST_P(SalvageReadErrorTest, TheProgramSavesAroundSectorsTheSystemCannotRead) {
  const ReadErrorCase& c = GetParam();
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  WriteFile(dir / "box.bkp", Backup());
  std::string ranges;
  for (const Bad& bad : c.unreadable) {
    ranges += (ranges.empty() ? "" : ",") + std::to_string(bad.begin) + "-" + std::to_string(bad.end);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  const Process run = RunCliWithEnvironment(
      {"salvage", "box.bkp", "out"}, dir.path(),
      {std::string("LD_PRELOAD=") + LARKSPOOL_UNREADABLE_SECTORS,
       "LARKSPOOL_UNREADABLE_FILE=" + (dir / "box.bkp"), "LARKSPOOL_UNREADABLE_RANGES=" + ranges,
       // The preloaded library comes before a sanitizer's runtime.
       std::string("ASAN_OPTIONS=verify_asan_link_order=0") +
           (asan != nullptr ? std::string(":") + asan : "")});
  EXPECT_EQ(run.status, 1) << run.err;
  ExpectFiles(FilesIn(dir / "out"));
  for (const Bad& bad : c.unreadable) {
    const std::string line = "bytes " + std::to_string(bad.begin) + "-" + std::to_string(bad.end - 1) + " (";
    const std::size_t at = run.out.find(line);
    ASSERT_NE(at, std::string::npos) << line << "\n" << run.out;
    EXPECT_NE(run.out.find(kUnreadableReason, at), std::string::npos) << run.out;
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(Sectors, SalvageReadErrorTest, ::testing::ValuesIn(kCases), ByLabel());

}  // namespace
}  // namespace larkspool::testing
