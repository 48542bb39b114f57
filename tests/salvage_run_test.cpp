// A salvage run's copies: they move the progress display and hear Cancel,
// and a fault or an exception inside a carved copy leaves no partial file,
// while the files saved before it stay and the report holds them.
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

#include "tests/support/faulty_file_system.h"
#include "tests/support/salvage_fixture.h"

namespace larkspool::testing {
namespace {

// Counts the percentages shown while `watched` exists (while its copy runs),
// and runs out of memory there when told to.
class WatchingUi : public FakeUi {
 public:
  void ShowPercent(int percent, const std::string& text) override {
    FakeUi::ShowPercent(percent, text);
    if (watched.empty() || !std::filesystem::exists(watched)) return;
    ++shownDuringCopy;
    if (throwDuringCopy) throw std::bad_alloc();
  }

  std::string watched;
  bool throwDuringCopy = false;
  int shownDuringCopy = 0;
};

struct CopyCase {
  const char* label;
  std::optional<Fault> fault;  // of the carved file's write
  bool throwDuringCopy = false;
  int cancelAtPump = 0;
  RunResult result;
};
class SalvageCopyTest : public ::testing::TestWithParam<CopyCase> {};

// a, b, c (3 MiB) and d; c's header is zeroed, so c is carved as
// recovered-OFFSET.wav.
TEST_P(SalvageCopyTest, ACarvedCopyMovesTheBarAndLeavesNoPartialFile) {
  const CopyCase& c = GetParam();
  const BuiltBackup built(false, {3000, 4000, 3 << 20, 5000});
  Bytes bytes = built.bytes;
  std::fill_n(bytes.begin() + built['c'].header, 80, std::uint8_t{0});
  const std::string carved = RecoveredName(built['c'].offset);
  FaultyFileSystem disk;
  if (c.fault) disk.Inject(*c.fault);
  Session s;
  WatchingUi ui;
  ui.watched = s.folder + "/" + carved;
  ui.throwDuringCopy = c.throwDuringCopy;
  ui.cancelAtPump = c.cancelAtPump;
  WriteFile(s.backup, bytes);
  SalvageReport report;
  Salvager salvager(disk, ui, TickingClock());
  if (c.throwDuringCopy) {
    EXPECT_THROW(salvager.OnSalvage(s.backup, s.folder, report), std::bad_alloc);
  } else {
    EXPECT_EQ(salvager.OnSalvage(s.backup, s.folder, report), c.result);
  }
  const Files files = s.Output();
  EXPECT_EQ(files.at("a.wav"), built['a'].original);
  EXPECT_EQ(files.at("b.wav"), built['b'].original);
  if (c.result == RunResult::kCompleted) {
    EXPECT_EQ(files.at(carved), built['c'].original);
    EXPECT_EQ(files.at("d.wav"), built['d'].original);
    // The bar moved through the copy, not after it.
    EXPECT_GE(ui.shownDuringCopy, 50);
    return;
  }
  EXPECT_EQ(files.size(), 2u) << "a partial file stayed";
  if (!c.throwDuringCopy) {
    EXPECT_EQ(StatesOf(report),
              (std::map<std::string, std::string>{{"a.wav", "complete"}, {"b.wav", "complete"}}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Copies, SalvageCopyTest,
    ::testing::Values(
        CopyCase{"sound copy", std::nullopt, false, 0, RunResult::kCompleted},
        CopyCase{"write fault inside", WriteAt("recovered-7264.wav", 1 << 20), false, 0, RunResult::kFailed},
        CopyCase{"disk full inside", WriteAt("recovered-7264.wav", 1 << 20, FaultEffect::kShort), false, 0,
                 RunResult::kFailed},
        CopyCase{"exception inside", std::nullopt, true, 0, RunResult::kFailed},
        // Pumps 1-3 at the headers of a, b and c; the 4th a MiB
        // into the carve.
        CopyCase{"cancel inside", std::nullopt, false, 4, RunResult::kCancelled}),
    ByLabel());

// Cancel during the first message of a sound backup: that message is
// written, the others are not.
TEST(SalvageCancelTest, CancelDuringTheFirstOfThreeStopsAfterIt) {
  const BuiltBackup built(false, {3000, 4000, 5000});
  Session s;
  s.ui.cancelAtPump = 1;
  const SalvageOutcome o = SalvageInto(s, built.bytes);
  EXPECT_EQ(o.result, RunResult::kCancelled);
  EXPECT_EQ(o.files, (Files{{"a.wav", built['a'].original}}));
  EXPECT_EQ(StatesOf(o.report), (std::map<std::string, std::string>{{"a.wav", "complete"}}));
}

}  // namespace
}  // namespace larkspool::testing
