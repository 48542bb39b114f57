#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "builder/backup_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;

std::int64_t gTicks = 0;
std::int64_t TickingClock() { return ++gTicks; }

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(16384, 2);
const Bytes kC = WavPayload(16385, 3);
const Bytes kOld = {'o', 'l', 'd'};
const Files kAll = {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}};
const Files kOnlyA = {{"a.wav", kA}};

std::vector<std::string> FaultText(StatusCode code) { return {StatusMessage(code).text}; }
// A completed run says so; a cancelled one says nothing.
std::vector<std::string> EndText(RunResult result) {
  if (result == RunResult::kCompleted) return {"Extraction completed."};
  return {};
}

// One extraction into scratch/out, with the backup beside the folder so that
// the folder holds exactly what the run wrote.
struct Session {
  ScratchDir scratch;
  std::string backup = scratch / "box.bkp";
  std::string folder = scratch / "out";
  FakeUi ui;
  std::uint64_t doneBytes = 0;
  std::int64_t totalBytes = 0;

  Session() { fs::create_directory(folder); }

  RunResult Extract(const BackupBuilder& builder, FileSystem& files = PosixFileSystem()) {
    builder.WriteTo(backup);
    Extractor extractor(files, ui, &TickingClock);
    const RunResult result = extractor.OnExtract(backup, folder);
    doneBytes = extractor.run().progress().done_bytes();
    totalBytes = extractor.run().progress().total_bytes();
    EXPECT_EQ(ReadFile(backup), builder.bytes()) << "the backup was changed";
    return result;
  }
  Files Output() const { return FilesIn(folder); }
  void Put(const std::string& name) const { WriteFile(folder + "/" + name, kOld); }
};

BackupBuilder Single() { return BackupBuilder::Single(BackupKind::k3); }
BackupBuilder ThreeEntries(BackupBuilder header = Single()) {
  return header.Entry("a.wav", kA).Entry("b.wav", kB).Entry("c.wav", kC);
}

TEST(ExtractRequestTest, RefusesMissingPathsAndFoldersBeforeReadingTheBackup) {
  struct Case {
    bool backupGiven, folderGiven, backupExists, folderExists;
    StatusCode code;
  };
  for (const Case& c : {Case{false, false, true, true, StatusCode::kBothPathsEmpty},
                        Case{false, true, true, true, StatusCode::kBackupPathEmpty},
                        Case{true, false, true, true, StatusCode::kFolderPathEmpty},
                        Case{true, true, true, false, StatusCode::kFolderNotFound},
                        Case{true, true, false, true, StatusCode::kBackupNotFound}}) {
    SCOPED_TRACE(static_cast<int>(c.code));
    Session s;
    if (c.backupExists) Single().Entry("a.wav", kA).WriteTo(s.backup);
    const std::string backup = c.backupGiven ? s.backup + (c.backupExists ? "" : ".missing") : "";
    const std::string folder = c.folderGiven ? s.folder + (c.folderExists ? "" : "/missing") : "";
    EXPECT_EQ(Extractor(PosixFileSystem(), s.ui).OnExtract(backup, folder), RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(), FaultText(c.code));
    EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kExclamation);
    EXPECT_EQ(s.ui.events.size(), 1u);  // the message alone
    EXPECT_TRUE(s.Output().empty());
  }
}

TEST(ExtractRequestTest, ResolvesARelativeBackupPathInsideTheFolder) {
  Session s;
  const BackupBuilder builder = Single().Entry("a.wav", kA);
  builder.WriteTo(s.folder + "/box.bkp");
  ASSERT_EQ(::chdir(s.scratch.path().c_str()), 0);
  EXPECT_EQ(Extractor(PosixFileSystem(), s.ui).OnExtract("box.bkp", s.folder), RunResult::kCompleted);
  EXPECT_EQ(s.Output(), (Files{{"a.wav", kA}, {"box.bkp", builder.bytes()}}));
  EXPECT_EQ(fs::current_path(), fs::path(s.folder));
}

// Kind 6 entries start at 60: the 36 bytes before are neither read as an
// entry nor counted as done, though 100 % stands for them.
TEST(SingleEntryTest, WritesEveryPayloadAndCountsEveryEntryByte) {
  struct Case {
    BackupBuilder backup;
    std::int64_t total;
  };
  for (const Case& c :
       {Case{ThreeEntries(), 33109}, Case{ThreeEntries(BackupBuilder::Single(BackupKind::k4)), 33109},
        Case{ThreeEntries(BackupBuilder::Header(3, 25, 24).Raw(Bytes(36, 0x41))), 33109 + 36}}) {
    SCOPED_TRACE(c.total);
    Session s;
    EXPECT_EQ(s.Extract(c.backup), RunResult::kCompleted);
    EXPECT_EQ(s.ui.MessageTexts(), EndText(RunResult::kCompleted));
    EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kInformation);
    EXPECT_EQ(s.Output(), kAll);
    EXPECT_EQ(s.doneBytes, 33109u);
    EXPECT_EQ(s.totalBytes, c.total);
    EXPECT_TRUE(std::is_sorted(s.ui.percents.begin(), s.ui.percents.end()));
  }
}

TEST(SingleEntryTest, NameWithoutNulIsCutAtTheFieldEnd) {
  Session s;
  ASSERT_EQ(s.Extract(Single().Entry(std::string(46, 'n') + "xyz", kA)), RunResult::kCompleted);
  EXPECT_EQ(s.Output(), (Files{{std::string(46, 'n'), kA}}));
}

struct RecordCase {
  const char* label;
  PairRecordSpec record;
  Files written;
};

PairRecordSpec MakeRecord(std::uint8_t type, std::uint8_t markerA, std::uint8_t tail,
                          std::uint32_t presentB) {
  PairRecordSpec record;
  record.type = type;
  record.markerA = markerA;
  record.tailMarker = tail;
  record.nameA = "a.wav";
  record.payloadA = kA;
  record.nameB = "b.wav";
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

std::vector<RecordCase> RecordCases() {
  const Files both = {{"a.wav", kA}, {"b.wav", WavPayload(44, 4)}};
  PairRecordSpec noA = MakeRecord(1, 0, 0, 1);
  noA.payloadA.clear();
  return {
      {"type 0, marker A set, tail clear", Empty(MakeRecord(0, 0xFF, 0, 1)), {}},
      {"type 0, both markers set", MakeRecord(0, 0xFF, 0xFF, 1), both},
      {"type 0, no marker", MakeRecord(0, 0, 0, 1), both},
      {"type 1 with B present", MakeRecord(1, 0, 0, 1), both},
      {"type 1 without B", WithoutB(MakeRecord(1, 0, 0, 0)), {{"a.wav", kA}}},
      {"type 2 ignores B", WithoutB(MakeRecord(2, 0, 0, 1)), {{"a.wav", kA}}},
      {"type 3", Empty(MakeRecord(3, 0, 0, 1)), {}},
      {"type 200", Empty(MakeRecord(200, 0, 0, 1)), {}},
      {"type 1, A of size 0", noA, {{"b.wav", WavPayload(44, 4)}}},
  };
}

TEST(PairedEntryTest, RecordTypeSelectsTheFilesAndTheNextRecordFollows) {
  for (RecordCase& c : RecordCases()) {
    SCOPED_TRACE(c.label);
    Session s;
    EXPECT_EQ(s.Extract(BackupBuilder::Paired().Record(c.record).Files("next.wav", kC)),
              RunResult::kCompleted);
    c.written["next.wav"] = kC;
    EXPECT_EQ(s.Output(), c.written);
    EXPECT_EQ(s.ui.MessageTexts(), EndText(RunResult::kCompleted));
    EXPECT_EQ(s.doneBytes, static_cast<std::uint64_t>(s.totalBytes));
  }
}

struct FaultCase {
  const char* label;
  BackupBuilder backup;
  StatusCode code;
  Files written;
  bool beforeRun = false;  // classification refuses the file; no display opens
};

// A fault met during the walk is shown while the display is still up.
TEST(ExtractFaultTest, EachFaultShowsOneMessageAndKeepsEarlierFiles) {
  PairRecordSpec truncated = WithoutB(MakeRecord(1, 0, 0, 0));
  truncated.sizeA = 200;
  const BackupBuilder good = Single().Entry("a.wav", kA);
  using enum StatusCode;
  const FaultCase cases[] = {
      {"too short to classify", BackupBuilder::Header(3, 0, 15), kReadFailed, {}, true},
      {"unknown kind", BackupBuilder::Header(7, 0, 24).Entry("a.wav", kA), kNotVoiceBackup, {}, true},
      {"no entries", BackupBuilder::Single(BackupKind::k4), kReadFailed, {}},
      {"trailing bytes", BackupBuilder(good).Raw(Bytes(79, 0)), kReadFailed, kOnlyA},
      {"payload past the end", BackupBuilder(good).Entry("b.wav", kA, 101), kReadFailed, kOnlyA},
      {"record cut short", BackupBuilder::Paired().Files("a.wav", kA).Raw(Bytes(255, 0)), kReadFailed,
       kOnlyA},
      {"paired payload past the end", BackupBuilder::Paired().Record(truncated), kReadFailed, {}},
      {"payload not a WAV file", BackupBuilder(good).Entry("b.wav", Bytes(100, 0x52)), kWaveFormat, kOnlyA},
      {"payload shorter than the tags", BackupBuilder(good).Entry("b.wav", WavPayload(11)), kWaveFormat,
       kOnlyA},
      {"single entry of size 0", BackupBuilder(good).Entry("b.wav", {}), kWaveFormat, kOnlyA},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.label);
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
}

// Reads: classify 1, then header, payload for a.wav (2, 3), header and two
// chunks for c.wav (4, 5, 6). Writes: a.wav 1, c.wav 2 and 3.
TEST(ExtractFaultTest, FileSystemFaultsRemoveThePartialFile) {
  struct Case {
    Fault fault;
    StatusCode code;
  };
  for (const Case& c : {Case{{FaultyCall::kRead, 6, FaultEffect::kShort}, StatusCode::kReadFailed},
                        Case{{FaultyCall::kRead, 5, FaultEffect::kFail}, StatusCode::kReadFailed},
                        Case{{FaultyCall::kRead, 4, FaultEffect::kShort}, StatusCode::kReadFailed},
                        Case{{FaultyCall::kWrite, 3, FaultEffect::kShort}, StatusCode::kWriteFailed},
                        Case{{FaultyCall::kWrite, 2, FaultEffect::kFail}, StatusCode::kWriteFailed},
                        Case{{FaultyCall::kAllocateRecordBuffer, 2}, StatusCode::kNoMemory}}) {
    SCOPED_TRACE(static_cast<int>(c.code));
    Session s;
    FaultyFileSystem faulty;
    faulty.Inject(c.fault);
    EXPECT_EQ(s.Extract(Single().Entry("a.wav", kA).Entry("c.wav", kC), faulty), RunResult::kFailed);
    EXPECT_GE(faulty.calls(c.fault.call), c.fault.nth);
    EXPECT_EQ(s.ui.MessageTexts(), FaultText(c.code));
    EXPECT_EQ(s.Output(), kOnlyA);
  }
}

TEST(OutputNameTest, UnsafeNamesAreRefusedBeforeAnythingIsCreatedOrAsked) {
  for (const char* name : {"", ".", "..", "../up.wav", "sub/x.wav", "sub\\x.wav", "C:x.wav", "z:"}) {
    SCOPED_TRACE(name);
    Session s;
    fs::create_directory(s.folder + "/sub");
    EXPECT_EQ(s.Extract(Single().Entry(name, kA)), RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(), FaultText(StatusCode::kOpenFailed));
    EXPECT_TRUE(s.Output().empty());
    EXPECT_TRUE(fs::is_empty(s.folder + "/sub"));
    EXPECT_EQ(FilesIn(s.scratch.path()).size(), 1u);  // the backup alone
  }
}

struct OverwriteCase {
  const char* label;
  std::vector<OverwriteAnswer> answers;
  RunResult result;
  std::vector<std::string> prompts;
  Files written;
};

// a.wav and c.wav exist before the run.
TEST(OverwriteTest, AnswersDecideWhatHappensToExistingFiles) {
  using enum OverwriteAnswer;
  const Files aKept = {{"a.wav", kOld}, {"b.wav", kB}, {"c.wav", kC}};
  const Files cKept = {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kOld}};
  const std::vector<std::string> both = {"a.wav", "c.wav"};
  const OverwriteCase cases[] = {
      {"yes", {kYes, kYes}, RunResult::kCompleted, both, kAll},
      {"yes to all", {kYesToAll}, RunResult::kCompleted, {"a.wav"}, kAll},
      {"cancel", {kYes, kCancel}, RunResult::kCancelled, both, cKept},
      {"skip", {kSkip, kYes}, RunResult::kCompleted, both, aKept},
  };
  for (const OverwriteCase& c : cases) {
    SCOPED_TRACE(c.label);
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
}

TEST(OverwriteTest, SkippedPayloadMustLieInsideTheBackup) {
  Session s;
  s.Put("a.wav");
  s.ui.overwriteAnswers = {OverwriteAnswer::kSkip};
  EXPECT_EQ(s.Extract(Single().Entry("a.wav", kA, 101)), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(StatusCode::kReadFailed));
  EXPECT_EQ(s.Output(), (Files{{"a.wav", kOld}}));
}

TEST(OverwriteTest, SameNameInBothSlotsAsksForFileB) {
  Session s;
  s.ui.overwriteAnswers = {OverwriteAnswer::kYes};
  EXPECT_EQ(s.Extract(BackupBuilder::Paired().Files("x.wav", kA, "x.wav", kB)), RunResult::kCompleted);
  EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{"x.wav"});
  EXPECT_EQ(s.Output(), (Files{{"x.wav", kB}}));
}

// Neither a directory nor a link is opened, not even after Yes; the link's
// target outside the folder stays as it was.
TEST(OverwriteTest, OnlyRegularFilesAreOverwritten) {
  for (const bool link : {false, true}) {
    Session s;
    const std::string target = s.scratch / "outside.wav";
    WriteFile(target, kOld);
    link ? fs::create_symlink(target, s.folder + "/a.wav") : (void)fs::create_directory(s.folder + "/a.wav");
    s.ui.overwriteAnswers = {OverwriteAnswer::kYes};
    EXPECT_EQ(s.Extract(Single().Entry("a.wav", kA)), RunResult::kFailed);
    EXPECT_EQ(s.ui.overwritePrompts, std::vector<std::string>{"a.wav"});
    EXPECT_EQ(s.ui.MessageTexts(), FaultText(StatusCode::kOpenFailed));
    EXPECT_EQ(ReadFile(target), kOld);
    EXPECT_EQ(fs::symlink_status(s.folder + "/a.wav").type(),
              link ? fs::file_type::symlink : fs::file_type::directory);
  }
}

TEST(CancelTest, CancelTakesEffectAfterTheEntryUnlessItWasTheLast) {
  struct Case {
    bool paired;
    int pump;
    RunResult result;
    Files written;
  };
  const Files aAndB = {{"a.wav", kA}, {"b.wav", kB}};
  const Case cases[] = {
      {false, 1, RunResult::kCancelled, kOnlyA}, {false, 2, RunResult::kCancelled, aAndB},
      {false, 3, RunResult::kCompleted, kAll},   {true, 1, RunResult::kCancelled, aAndB},
      {true, 2, RunResult::kCompleted, kAll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pump) + (c.paired ? " paired" : " single"));
    Session s;
    s.ui.cancelAtPump = c.pump;
    EXPECT_EQ(s.Extract(c.paired ? BackupBuilder::Paired().Files("a.wav", kA, "b.wav", kB).Files("c.wav", kC)
                                 : ThreeEntries()),
              c.result);
    EXPECT_EQ(s.Output(), c.written);
    EXPECT_EQ(s.ui.MessageTexts(), EndText(c.result));
    EXPECT_EQ(s.ui.events.back(), "busy:0");
  }
}

// Neither a Cancel nor a Yes to All of one run carries over to the next.
TEST(CancelTest, NextRunOfTheSameExtractorStartsAfresh) {
  Session s;
  s.Put("a.wav");
  ThreeEntries().WriteTo(s.backup);
  Extractor extractor(PosixFileSystem(), s.ui, &TickingClock);
  s.ui.overwriteAnswers = {OverwriteAnswer::kYesToAll};
  s.ui.cancelAtPump = 1;
  ASSERT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kCancelled);
  s.ui.overwriteAnswers = {OverwriteAnswer::kYes};
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
