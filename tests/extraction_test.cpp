#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "builder/backup_builder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

namespace fs = std::filesystem;

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(16384, 2);
const Bytes kC = WavPayload(16385, 3);
const Files kAll = {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}};
const Files kOnlyA = {{"a.wav", kA}};

BackupBuilder Single() { return BackupBuilder::Single(BackupKind::k3); }
BackupBuilder ThreeEntries(BackupBuilder header = Single()) {
  return header.Entry("a.wav", kA).Entry("b.wav", kB).Entry("c.wav", kC);
}

struct RequestCase {
  const char* label;
  bool backupGiven, folderGiven, backupExists, folderExists;
  StatusCode code;
};
class ExtractRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(ExtractRequestTest, RefusesMissingPathsAndFoldersBeforeReadingTheBackup) {
  const RequestCase& c = GetParam();
  Session s;
  if (c.backupExists) Single().Entry("a.wav", kA).WriteTo(s.backup);
  const std::string backup = c.backupGiven ? s.backup + (c.backupExists ? "" : ".missing") : "";
  const std::string folder = c.folderGiven ? s.folder + (c.folderExists ? "" : "/missing") : "";
  EXPECT_EQ(Extractor(NativeFileSystem(), s.ui).OnExtract(backup, folder), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(c.code));
  EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kExclamation);
  EXPECT_EQ(s.ui.events.size(), 1u);  // the message alone
  EXPECT_TRUE(s.Output().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExtractRequestTest,
    ::testing::Values(RequestCase{"both empty", false, false, true, true, StatusCode::kBothPathsEmpty},
                      RequestCase{"backup empty", false, true, true, true, StatusCode::kBackupPathEmpty},
                      RequestCase{"folder empty", true, false, true, true, StatusCode::kFolderPathEmpty},
                      RequestCase{"folder missing", true, true, true, false, StatusCode::kFolderNotFound},
                      RequestCase{"backup missing", true, true, false, true, StatusCode::kBackupNotFound}),
    ByLabel());

TEST(ExtractRequestTest, ResolvesARelativeBackupPathInsideTheFolder) {
  Session s;
  const BackupBuilder builder = Single().Entry("a.wav", kA);
  builder.WriteTo(s.folder + "/box.bkp");
  fs::current_path(s.scratch.path());
  EXPECT_EQ(Extractor(NativeFileSystem(), s.ui).OnExtract("box.bkp", s.folder), RunResult::kCompleted);
  EXPECT_EQ(s.Output(), (Files{{"a.wav", kA}, {"box.bkp", builder.bytes()}}));
  EXPECT_EQ(fs::current_path(), fs::path(s.folder));
}

struct LayoutCase {
  const char* label;
  BackupBuilder backup;
  std::int64_t total;
};
class SingleEntryTest : public ::testing::TestWithParam<LayoutCase> {};

// Kind 6 entries start at 60: the 36 bytes before are neither read as an
// entry nor counted as done, though 100 % stands for them.
TEST_P(SingleEntryTest, WritesEveryPayloadAndCountsEveryEntryByte) {
  Session s;
  EXPECT_EQ(s.Extract(GetParam().backup), RunResult::kCompleted);
  EXPECT_EQ(s.ui.MessageTexts(), EndText(RunResult::kCompleted));
  EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kInformation);
  EXPECT_EQ(s.Output(), kAll);
  EXPECT_EQ(s.doneBytes, 33109u);
  EXPECT_EQ(s.totalBytes, GetParam().total);
  EXPECT_TRUE(std::is_sorted(s.ui.percents.begin(), s.ui.percents.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SingleEntryTest,
    ::testing::Values(LayoutCase{"kind 3", ThreeEntries(), 33109},
                      LayoutCase{"kind 4", ThreeEntries(BackupBuilder::Single(BackupKind::k4)), 33109},
                      LayoutCase{"kind 6",
                                 ThreeEntries(BackupBuilder::Header(3, 25, 24).Raw(Bytes(36, 0x41))),
                                 33109 + 36}),
    ByLabel());

TEST(SingleEntryTest, NameWithoutNulIsCutAtTheFieldEnd) {
  Session s;
  ASSERT_EQ(s.Extract(Single().Entry(std::string(46, 'n') + "xyz", kA)), RunResult::kCompleted);
  EXPECT_EQ(s.Output(), (Files{{std::string(46, 'n'), kA}}));
}

PairRecordSpec MakeRecord(std::uint8_t type, std::uint8_t markerA, std::uint8_t tail,
                          std::uint32_t presentB) {
  PairRecordSpec record;
  record.type = type;
  record.markerA = markerA;
  record.tailMarker = tail;
  record.nameA = "a.wav";
  record.nameB = "b.wav";
  record.payloadA = kA;
  record.payloadB = WavPayload(44, 4);
  record.presentB = presentB;
  return record;
}

// A file that is not selected has no payload after the record, whatever its
// stored size.
PairRecordSpec WithoutB(PairRecordSpec record) {
  record.payloadB.clear();
  record.sizeB = 500;
  return record;
}
PairRecordSpec Empty(PairRecordSpec record) {
  record.payloadA.clear();
  record.sizeA = 500;
  return WithoutB(record);
}
PairRecordSpec WithoutA(PairRecordSpec record) {
  record.payloadA.clear();
  return record;
}

struct RecordCase {
  const char* label;
  PairRecordSpec record;
  Files written;
};
class PairedEntryTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(PairedEntryTest, RecordTypeSelectsTheFilesAndTheNextRecordFollows) {
  Session s;
  EXPECT_EQ(s.Extract(BackupBuilder::Paired().Record(GetParam().record).Files("next.wav", kC)),
            RunResult::kCompleted);
  Files written = GetParam().written;
  written["next.wav"] = kC;
  EXPECT_EQ(s.Output(), written);
  EXPECT_EQ(s.ui.MessageTexts(), EndText(RunResult::kCompleted));
  EXPECT_EQ(s.doneBytes, static_cast<std::uint64_t>(s.totalBytes));
}

const Files kBoth = {{"a.wav", kA}, {"b.wav", WavPayload(44, 4)}};
INSTANTIATE_TEST_SUITE_P(
    Records, PairedEntryTest,
    ::testing::Values(
        RecordCase{"type 0, marker A set, tail clear", Empty(MakeRecord(0, 0xFF, 0, 1)), {}},
        RecordCase{"type 0, both markers set", MakeRecord(0, 0xFF, 0xFF, 1), kBoth},
        RecordCase{"type 0, no marker", MakeRecord(0, 0, 0, 1), kBoth},
        RecordCase{"type 1 with B present", MakeRecord(1, 0, 0, 1), kBoth},
        RecordCase{"type 1 without B", WithoutB(MakeRecord(1, 0, 0, 0)), kOnlyA},
        RecordCase{"type 2 ignores B", WithoutB(MakeRecord(2, 0, 0, 1)), kOnlyA},
        RecordCase{"type 3", Empty(MakeRecord(3, 0, 0, 1)), {}},
        RecordCase{"type 200", Empty(MakeRecord(200, 0, 0, 1)), {}},
        RecordCase{"type 1, A of size 0", WithoutA(MakeRecord(1, 0, 0, 1)), {{"b.wav", WavPayload(44, 4)}}}),
    ByLabel());

struct FaultCase {
  const char* label;
  BackupBuilder backup;
  StatusCode code;
  Files written;
  bool beforeRun = false;  // classification refuses the file; no display opens
};
class ExtractFaultTest : public ::testing::TestWithParam<FaultCase> {};

// A fault met during the walk is shown while the display is still up.
TEST_P(ExtractFaultTest, EachFaultShowsOneMessageAndKeepsEarlierFiles) {
  const FaultCase& c = GetParam();
  Session s;
  EXPECT_EQ(s.Extract(c.backup), RunResult::kFailed);
  ASSERT_EQ(s.ui.MessageTexts(), FaultText(c.code));
  EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kExclamation);
  EXPECT_EQ(s.Output(), c.written);
  const auto close = std::find(s.ui.events.begin(), s.ui.events.end(), "close");
  if (c.beforeRun) {
    EXPECT_EQ(close, s.ui.events.end());
  } else {
    ASSERT_NE(close, s.ui.events.end());
    EXPECT_EQ(*std::prev(close), "message:" + FaultText(c.code)[0]);
  }
}

PairRecordSpec TruncatedRecord() {
  PairRecordSpec truncated = WithoutB(MakeRecord(1, 0, 0, 0));
  truncated.sizeA = 200;
  return truncated;
}

const BackupBuilder kGood = Single().Entry("a.wav", kA);
using enum StatusCode;
INSTANTIATE_TEST_SUITE_P(
    Backups, ExtractFaultTest,
    ::testing::Values(
        FaultCase{"too short to classify", BackupBuilder::Header(3, 0, 15), kReadFailed, {}, true},
        FaultCase{
            "unknown kind", BackupBuilder::Header(7, 0, 24).Entry("a.wav", kA), kNotVoiceBackup, {}, true},
        FaultCase{"no entries", BackupBuilder::Single(BackupKind::k4), kReadFailed, {}},
        FaultCase{"trailing bytes", BackupBuilder(kGood).Raw(Bytes(79, 0)), kReadFailed, kOnlyA},
        FaultCase{"payload past the end", BackupBuilder(kGood).Entry("b.wav", kA, 101), kReadFailed, kOnlyA},
        FaultCase{"record cut short", BackupBuilder::Paired().Files("a.wav", kA).Raw(Bytes(255, 0)),
                  kReadFailed, kOnlyA},
        FaultCase{"paired payload past the end",
                  BackupBuilder::Paired().Record(TruncatedRecord()),
                  kReadFailed,
                  {}},
        FaultCase{"payload not a WAV file", BackupBuilder(kGood).Entry("b.wav", Bytes(100, 0x52)),
                  kWaveFormat, kOnlyA},
        FaultCase{"payload shorter than the tags", BackupBuilder(kGood).Entry("b.wav", WavPayload(11)),
                  kWaveFormat, kOnlyA},
        // The first chunk (16384 bytes) is read whole before its tags are
        // tested, so a payload cut short inside it fails the read first.
        FaultCase{"untagged payload cut inside the first chunk",
                  BackupBuilder(kGood).Entry("b.wav", Bytes(16000, 0x52), 16200), kReadFailed, kOnlyA},
        FaultCase{"single entry of size 0", BackupBuilder(kGood).Entry("b.wav", {}), kWaveFormat, kOnlyA}),
    ByLabel());

class OutputNameTest : public ::testing::TestWithParam<const char*> {};

TEST_P(OutputNameTest, UnsafeNamesAreRefusedBeforeAnythingIsCreatedOrAsked) {
  Session s;
  fs::create_directory(s.folder + "/sub");
  EXPECT_EQ(s.Extract(Single().Entry(GetParam(), kA)), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kOpenFailed));
  EXPECT_TRUE(s.Output().empty());
  EXPECT_TRUE(fs::is_empty(s.folder + "/sub"));
  EXPECT_EQ(FilesIn(s.scratch.path()).size(), 1u);  // the backup alone
}

INSTANTIATE_TEST_SUITE_P(Names, OutputNameTest,
                         ::testing::Values("", ".", "..", "../up.wav", "sub/x.wav", "sub\\x.wav", "C:x.wav",
                                           "z:"),
                         [](const auto& test) { return "Name" + std::to_string(test.index); });

struct OverwriteCase {
  const char* label;
  std::vector<OverwriteAnswer> answers;
  RunResult result;
  std::vector<std::string> prompts;
  Files written;
};
class OverwriteTest : public ::testing::TestWithParam<OverwriteCase> {};

// a.wav and c.wav exist before the run.
TEST_P(OverwriteTest, AnswersDecideWhatHappensToExistingFiles) {
  const OverwriteCase& c = GetParam();
  Session s;
  s.Put("a.wav");
  s.Put("c.wav");
  s.ui.overwriteAnswers.assign(c.answers.begin(), c.answers.end());
  EXPECT_EQ(s.Extract(ThreeEntries()), c.result);
  EXPECT_EQ(s.ui.overwritePrompts, c.prompts);
  EXPECT_EQ(s.Output(), c.written);
  EXPECT_EQ(s.ui.MessageTexts(), EndText(c.result));
  EXPECT_EQ(s.doneBytes, c.result == RunResult::kCompleted ? 33109u : 16644u);
}

using enum OverwriteAnswer;
const std::vector<std::string> kBothPrompts = {"a.wav", "c.wav"};
INSTANTIATE_TEST_SUITE_P(
    Answers, OverwriteTest,
    ::testing::Values(OverwriteCase{"yes", {kYes, kYes}, RunResult::kCompleted, kBothPrompts, kAll},
                      OverwriteCase{"yes to all", {kYesToAll}, RunResult::kCompleted, {"a.wav"}, kAll},
                      OverwriteCase{"cancel",
                                    {kYes, kCancel},
                                    RunResult::kCancelled,
                                    kBothPrompts,
                                    {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kOld}}},
                      OverwriteCase{"skip",
                                    {kSkip, kYes},
                                    RunResult::kCompleted,
                                    kBothPrompts,
                                    {{"a.wav", kOld}, {"b.wav", kB}, {"c.wav", kC}}}),
    ByLabel());

TEST(OverwriteTest, SkippedPayloadMustLieInsideTheBackup) {
  Session s;
  s.Put("a.wav");
  s.ui.overwriteAnswers = {kSkip};
  EXPECT_EQ(s.Extract(Single().Entry("a.wav", kA, 101)), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(kReadFailed));
  EXPECT_EQ(s.Output(), (Files{{"a.wav", kOld}}));
}

TEST(OverwriteTest, SameNameInBothSlotsAsksForFileB) {
  Session s;
  s.ui.overwriteAnswers = {kYes};
  EXPECT_EQ(s.Extract(BackupBuilder::Paired().Files("x.wav", kA, "x.wav", kB)), RunResult::kCompleted);
  EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{"x.wav"});
  EXPECT_EQ(s.Output(), (Files{{"x.wav", kB}}));
}

struct CancelCase {
  const char* label;
  bool paired;
  int pump;
  RunResult result;
  Files written;
};
class CancelTest : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CancelTest, CancelTakesEffectAfterTheEntryUnlessItWasTheLast) {
  const CancelCase& c = GetParam();
  Session s;
  s.ui.cancelAtPump = c.pump;
  EXPECT_EQ(s.Extract(c.paired ? BackupBuilder::Paired().Files("a.wav", kA, "b.wav", kB).Files("c.wav", kC)
                               : ThreeEntries()),
            c.result);
  EXPECT_EQ(s.Output(), c.written);
  EXPECT_EQ(s.ui.MessageTexts(), EndText(c.result));
  EXPECT_EQ(s.ui.events.back(), "busy:0");
}

const Files kAAndB = {{"a.wav", kA}, {"b.wav", kB}};
INSTANTIATE_TEST_SUITE_P(
    Pumps, CancelTest,
    ::testing::Values(CancelCase{"single, first entry", false, 1, RunResult::kCancelled, kOnlyA},
                      CancelCase{"single, second entry", false, 2, RunResult::kCancelled, kAAndB},
                      CancelCase{"single, last entry", false, 3, RunResult::kCompleted, kAll},
                      CancelCase{"paired, first record", true, 1, RunResult::kCancelled, kAAndB},
                      CancelCase{"paired, last record", true, 2, RunResult::kCompleted, kAll}),
    ByLabel());

// Neither a Cancel nor a Yes to All of one run carries over to the next.
TEST(CancelTest, NextRunOfTheSameExtractorStartsAfresh) {
  Session s;
  s.Put("a.wav");
  ThreeEntries().WriteTo(s.backup);
  Extractor extractor(NativeFileSystem(), s.ui, TickingClock());
  s.ui.overwriteAnswers = {kYesToAll};
  s.ui.cancelAtPump = 1;
  ASSERT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kCancelled);
  s.ui.overwriteAnswers = {kYes};
  EXPECT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kCompleted);
  EXPECT_EQ(s.ui.overwritePrompts, (std::vector<std::string>{"a.wav", "a.wav"}));
  EXPECT_EQ(s.Output(), kAll);
}

TEST(ProgressDisplayTest, RunShowsProgressThenTheMessageThenCloses) {
  Session s;
  ASSERT_EQ(s.Extract(Single().Entry("a.wav", kA)), RunResult::kCompleted);
  // 100 of 180 bytes after the payload, all of them after the header.
  const std::vector<std::string> expected = {"busy:1",      "open",
                                             "reset",       "percent:55",
                                             "percent:100", "elapsed:Elapsed Time: 00:00:01",
                                             "pump",        "message:Extraction completed.",
                                             "close",       "busy:0"};
  EXPECT_EQ(s.ui.events, expected);
  EXPECT_EQ(s.ui.lines.fileLine, "Backup File: box.bkp");
  EXPECT_EQ(s.ui.lines.percentText, "0%");
  EXPECT_EQ(s.ui.lines.elapsedText, "Elapsed Time: 00:00:00");
}

TEST(ProgressDisplayTest, DisplayThatCannotOpenIsTheOnlyMessage) {
  Session s;
  s.ui.progressCanOpen = false;
  EXPECT_EQ(s.Extract(ThreeEntries()), RunResult::kProgressWindowFailed);
  ASSERT_EQ(s.ui.MessageTexts(), std::vector<std::string>{"CProgressDlg DoModal failed."});
  EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kPlain);
  EXPECT_TRUE(s.Output().empty());
}

}  // namespace
}  // namespace larkspool::testing
