#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/inspect_request.h"
#include "archive/backup_scan.h"
#include "builder/backup_builder.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(200, 2);

struct Inspection {
  RunResult result;
  BackupListing listing;
  std::vector<std::string> messages;
  int passwordPrompts;
};

// Inspects `backup`, checking that nothing but the backup is in its folder
// afterwards and that the backup is unchanged.
Inspection Inspect(const BackupBuilder& backup, ScanMode mode, std::optional<std::string> password = {}) {
  ScratchDir scratch;
  const std::string path = scratch / "box.bkp";
  backup.WriteTo(path);
  FakeUi ui;
  if (password) ui.passwordAnswers = {*password == "cancel" ? std::nullopt : password};
  Inspection inspection{RunResult::kFailed, {}, {}, 0};
  inspection.result = InspectBackup(NativeFileSystem(), ui, path, mode, inspection.listing);
  inspection.messages = ui.MessageTexts();
  inspection.passwordPrompts = ui.passwordPrompts;
  EXPECT_EQ(FilesIn(scratch.path()), (std::map<std::string, Bytes>{{"box.bkp", backup.bytes()}}));
  return inspection;
}

void ExpectEntries(const std::vector<ListedEntry>& entries, const std::vector<ListedEntry>& expected) {
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].size, expected[i].size);
    EXPECT_EQ(entries[i].offset, expected[i].offset);
  }
}

class ScanModeTest : public ::testing::TestWithParam<ScanMode> {};

TEST_P(ScanModeTest, ListsSingleEntriesWithTheirPayloadOffsets) {
  const Inspection i =
      Inspect(BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kA).Entry("b.wav", kB), GetParam());
  EXPECT_EQ(i.result, RunResult::kCompleted);
  EXPECT_TRUE(i.messages.empty());
  EXPECT_EQ(i.listing.kind, BackupKind::k4);
  EXPECT_FALSE(i.listing.passwordProtected);
  ExpectEntries(i.listing.entries, {{"a.wav", 100, 104}, {"b.wav", 200, 284}});
}

INSTANTIATE_TEST_SUITE_P(Modes, ScanModeTest, ::testing::Values(ScanMode::kList, ScanMode::kVerify),
                         [](const auto& test) { return test.param == ScanMode::kList ? "List" : "Verify"; });

// The NUL in the last byte of the field ends the name; it is not part of it.
TEST(InspectTest, ListsANameOf45BytesWithoutItsNul) {
  const std::string name(45, 'n');
  const Inspection i = Inspect(BackupBuilder::Single(BackupKind::k3).Entry(name, kA), ScanMode::kList);
  EXPECT_EQ(i.result, RunResult::kCompleted);
  ExpectEntries(i.listing.entries, {{name, 100, 104}});
}

TEST(InspectTest, ListsPairedEntriesOfAProtectedBackup) {
  const Inspection i = Inspect(BackupBuilder::Paired("42").Files("a.wav", kA, "b.wav", kB).Files("c.wav", kA),
                               ScanMode::kVerify, "42");
  EXPECT_EQ(i.result, RunResult::kCompleted);
  EXPECT_EQ(i.passwordPrompts, 1);
  EXPECT_EQ(i.listing.kind, BackupKind::k5);
  EXPECT_TRUE(i.listing.passwordProtected);
  ExpectEntries(i.listing.entries, {{"a.wav", 100, 307}, {"b.wav", 200, 407}, {"c.wav", 100, 863}});
}

struct ScanFaultCase {
  const char* label;
  BackupBuilder backup;
  ScanMode mode;
  std::optional<std::string> password;
  std::vector<std::string> messages;
};
class ScanFaultTest : public ::testing::TestWithParam<ScanFaultCase> {};

TEST_P(ScanFaultTest, StopsAtTheFirstFaultWithTheExtractionStatus) {
  const ScanFaultCase& c = GetParam();
  const Inspection i = Inspect(c.backup, c.mode, c.password);
  EXPECT_EQ(i.messages, c.messages);
  const RunResult expected =
      c.messages.empty() ? (c.password ? RunResult::kCancelled : RunResult::kCompleted) : RunResult::kFailed;
  EXPECT_EQ(i.result, expected);
}

const BackupBuilder kGood = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA);
using enum ScanMode;
using enum StatusCode;
INSTANTIATE_TEST_SUITE_P(
    Faults, ScanFaultTest,
    ::testing::Values(
        ScanFaultCase{"not a WAV, listed", BackupBuilder(kGood).Entry("b.wav", Bytes(50, 1)), kList, {}, {}},
        ScanFaultCase{"not a WAV, verified",
                      BackupBuilder(kGood).Entry("b.wav", Bytes(50, 1)),
                      kVerify,
                      {},
                      FaultText(kWaveFormat)},
        ScanFaultCase{"short payload, verified",
                      BackupBuilder(kGood).Entry("b.wav", WavPayload(11)),
                      kVerify,
                      {},
                      FaultText(kWaveFormat)},
        ScanFaultCase{"payload past the end",
                      BackupBuilder(kGood).Entry("b.wav", kA, 101),
                      kList,
                      {},
                      FaultText(kReadFailed)},
        ScanFaultCase{
            "trailing bytes", BackupBuilder(kGood).Raw(Bytes(3, 0)), kList, {}, FaultText(kReadFailed)},
        ScanFaultCase{
            "unsafe name", BackupBuilder(kGood).Entry("../b.wav", kA), kList, {}, FaultText(kOpenFailed)},
        ScanFaultCase{"wrong password", BackupBuilder::Paired("42").Files("a.wav", kA), kList, "24",
                      FaultText(kWrongPassword)},
        ScanFaultCase{
            "password cancelled", BackupBuilder::Paired("42").Files("a.wav", kA), kList, "cancel", {}}),
    ByLabel());

TEST(InspectTest, MissingOrUnnamedBackupIsReported) {
  FakeUi ui;
  BackupListing listing;
  EXPECT_EQ(InspectBackup(NativeFileSystem(), ui, "", ScanMode::kList, listing), RunResult::kFailed);
  EXPECT_EQ(InspectBackup(NativeFileSystem(), ui, "/nonexistent/box.bkp", ScanMode::kList, listing),
            RunResult::kFailed);
  EXPECT_EQ(ui.MessageTexts(),
            (std::vector<std::string>{"Backup file is not specified.", "The specified file is not found."}));
}

}  // namespace
}  // namespace larkspool::testing
