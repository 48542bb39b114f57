#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/inspect_request.h"
#include "archive/backup_scan.h"
#include "builder/backup_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

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
  inspection.result = InspectBackup(PosixFileSystem(), ui, path, mode, inspection.listing);
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

TEST(InspectTest, ListsSingleEntriesWithTheirPayloadOffsets) {
  for (ScanMode mode : {ScanMode::kList, ScanMode::kVerify}) {
    const Inspection i =
        Inspect(BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kA).Entry("b.wav", kB), mode);
    EXPECT_EQ(i.result, RunResult::kCompleted);
    EXPECT_TRUE(i.messages.empty());
    EXPECT_EQ(i.listing.kind, BackupKind::k4);
    EXPECT_FALSE(i.listing.passwordProtected);
    ExpectEntries(i.listing.entries, {{"a.wav", 100, 104}, {"b.wav", 200, 284}});
  }
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

TEST(InspectTest, StopsAtTheFirstFaultWithTheExtractionStatus) {
  struct Case {
    const char* label;
    BackupBuilder backup;
    ScanMode mode;
    std::optional<std::string> password;
    std::vector<std::string> messages;
  };
  const BackupBuilder good = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA);
  const Case cases[] = {
      {"not a WAV, listed", BackupBuilder(good).Entry("b.wav", Bytes(50, 1)), ScanMode::kList, {}, {}},
      {"not a WAV, verified",
       BackupBuilder(good).Entry("b.wav", Bytes(50, 1)),
       ScanMode::kVerify,
       {},
       {"Wave file format error."}},
      {"short payload, verified",
       BackupBuilder(good).Entry("b.wav", WavPayload(11)),
       ScanMode::kVerify,
       {},
       {"Wave file format error."}},
      {"payload past the end",
       BackupBuilder(good).Entry("b.wav", kA, 101),
       ScanMode::kList,
       {},
       {"System error(10)"}},
      {"trailing bytes", BackupBuilder(good).Raw(Bytes(3, 0)), ScanMode::kList, {}, {"System error(10)"}},
      {"unsafe name", BackupBuilder(good).Entry("../b.wav", kA), ScanMode::kList, {}, {"System error(9)"}},
      {"wrong password",
       BackupBuilder::Paired("42").Files("a.wav", kA),
       ScanMode::kList,
       "24",
       {"The password is not correct."}},
      {"password cancelled", BackupBuilder::Paired("42").Files("a.wav", kA), ScanMode::kList, "cancel", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Inspection i = Inspect(c.backup, c.mode, c.password);
    EXPECT_EQ(i.messages, c.messages);
    const RunResult expected = c.messages.empty()
                                   ? (c.password ? RunResult::kCancelled : RunResult::kCompleted)
                                   : RunResult::kFailed;
    EXPECT_EQ(i.result, expected);
  }
}

TEST(InspectTest, MissingOrUnnamedBackupIsReported) {
  FakeUi ui;
  BackupListing listing;
  EXPECT_EQ(InspectBackup(PosixFileSystem(), ui, "", ScanMode::kList, listing), RunResult::kFailed);
  EXPECT_EQ(InspectBackup(PosixFileSystem(), ui, "/nonexistent/box.bkp", ScanMode::kList, listing),
            RunResult::kFailed);
  EXPECT_EQ(ui.MessageTexts(),
            (std::vector<std::string>{"Backup file is not specified.", "The specified file is not found."}));
}

}  // namespace
}  // namespace larkspool::testing
