// The command-line program, run as a real process: exit statuses, the exact
// text on stdout and stderr, and the files it leaves behind.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "tests/support/cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

// Neither a FIFO nor a device is a backup to read; on Windows the null
// device stands for the FIFO.
#ifdef _WIN32
const std::string kNotAFile = "NUL";
#else
const std::string kNotAFile = "fifo.bkp";
#endif

const Bytes kWavA = WavPayload(40000, 1);  // more than one copy chunk
const Bytes kWavB = WavPayload(100, 2);

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "out"); }
  std::string Path(const std::string& name) const { return dir_ / name; }
  std::string Out() const { return dir_ / "out"; }
  // A kind 3 backup holding a.wav and b.wav.
  void WriteTwoFiles() const {
    BackupBuilder::Single(BackupKind::k3)
        .Entry("a.wav", kWavA)
        .Entry("b.wav", kWavB)
        .WriteTo(Path("box.bkp"));
  }

  ScratchDir dir_;
};

TEST_F(CliTest, ExtractWritesEveryFileAndReportsCompletion) {
  WriteTwoFiles();
  const Process run = RunCli({"extract", Path("box.bkp"), Out()}, dir_.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Extraction completed.\n");
  EXPECT_EQ(run.err, "");  // stderr is not a terminal: no progress
  EXPECT_EQ(FilesIn(Out()), (Files{{"a.wav", kWavA}, {"b.wav", kWavB}}));
}

// Arguments, paths and names outside the system's code page (Ł is not in
// the Western one) and a path of more than 260 characters; the file line
// names the backup as it is.
TEST_F(CliTest, PathsOfAnyNameAndLengthWork) {
  namespace fs = std::filesystem;
  const std::string polish = "\xC5\x81ukasz";  // Łukasz
  const std::string deep =
      polish + "/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c');
  const fs::path there = fs::path(dir_.path()) / fs::path(std::u8string(deep.begin(), deep.end()));
  fs::create_directories(there);
  WriteTwoFiles();
  fs::rename(Path("box.bkp"), there / u8"Wiadomo\u015Bci.bkp");
  const Process run = RunCli({"extract",
                              deep + "/Wiadomo\xC5\x9B"
                                     "ci.bkp",
                              deep},
                             dir_.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(there / "a.wav"));
  EXPECT_TRUE(fs::exists(there / "b.wav"));
}

struct SalvageCliCase {
  const char* label;
  std::vector<std::string> args;  // before BACKUP DIR
  std::size_t cutBy;              // bytes cut off the end of the backup
  int status;
  std::string out;  // the printed report, ending with the counts
  Files written;
};
class SalvageCliTest : public ::testing::TestWithParam<SalvageCliCase> {};

// The backup of WriteTwoFiles, whole or cut inside b.wav's payload.
TEST_P(SalvageCliTest, SavesReportsAndExitsByTheDamage) {
  const SalvageCliCase& c = GetParam();
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  Bytes backup = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kWavA).Entry("b.wav", kWavB).bytes();
  backup.resize(backup.size() - c.cutBy);
  WriteFile(dir / "box.bkp", backup);
  std::vector<std::string> args = {"salvage"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.insert(args.end(), {"box.bkp", "out"});
  const Process run = RunCli(args, dir.path());
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(FilesIn(dir / "out"), c.written);
}

Bytes Mended(Bytes cut) {
  // WavPayload has no data chunk: only the RIFF size is mended.
  const auto riff = static_cast<std::uint32_t>(cut.size() - 8);
  for (std::size_t i = 0; i < 4; ++i) cut[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return cut;
}

INSTANTIATE_TEST_SUITE_P(
    Salvage, SalvageCliTest,
    ::testing::Values(
        SalvageCliCase{
            "sound",
            {},
            0,
            0,
            "Backup: box.bkp\nRead as kind 3\ncomplete  a.wav at byte 104\ncomplete  b.wav at byte 40184\n"
            "2 complete, 0 partial, 0 unnamed, 0 lost\n",
            {{"a.wav", kWavA}, {"b.wav", kWavB}}},
        SalvageCliCase{
            "cut",
            {},
            40,
            1,
            "Backup: box.bkp\nRead as kind 3\ncomplete  a.wav at byte 104\n"
            "partial (60 of 100 bytes)  b.partial.wav (stored as b.wav) at byte 40184: the backup ends "
            "inside it\ndamaged  bytes 40244-40283 (40 bytes): missing: the backup ends inside b.wav\n"
            "1 complete, 1 partial, 0 unnamed, 0 lost\n",
            {{"a.wav", kWavA}, {"b.partial.wav", Mended(Bytes(kWavB.begin(), kWavB.begin() + 60))}}},
        SalvageCliCase{
            "json",
            {"--json", "-q"},
            40,
            1,
            R"({"backup":"box.bkp","result":"completed","kind":3,"kind_assumed":false,"damaged":true,)"
            R"("unreadable":false,"unreadable_bytes":0,"complete":1,)"
            R"("partial":1,"unnamed":0,"lost":0,"messages":[{"state":"complete","name":"a.wav",)"
            R"("file":"a.wav","offset":104,"saved":40000,"size":40000,"note":"","kept_existing":false},)"
            R"({"state":"partial","name":"b.wav","file":"b.partial.wav","offset":40184,"saved":60,)"
            R"("size":100,"note":"the backup ends inside it","kept_existing":false}],"damaged_ranges":)"
            R"([{"begin":40244,"end":40284,"reason":"missing: the backup ends inside b.wav","unreadable":false}]})"
            "\n",
            {{"a.wav", kWavA}, {"b.partial.wav", Mended(Bytes(kWavB.begin(), kWavB.begin() + 60))}}}),
    ByLabel());

TEST_F(CliTest, ListAndVerifyWithSalvageShowWhatWouldBeSavedAndWriteNothing) {
  Bytes backup = BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kWavA).Entry("b.wav", kWavB).bytes();
  backup.resize(backup.size() - 40);
  WriteFile(Path("box.bkp"), backup);
  const Process list = RunCli({"list", "--salvage", "box.bkp"}, dir_.path());
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.out.find("partial (60 of 100 bytes)  b.partial.wav"), std::string::npos) << list.out;
  const Process verify = RunCli({"verify", "--salvage", "box.bkp"}, dir_.path());
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out,
            "box.bkp: damaged, 2 of 2 messages can be saved (1 in part, 0 without their names), 1 damaged "
            "ranges\n");
  EXPECT_TRUE(FilesIn(Out()).empty());
  EXPECT_EQ(FilesIn(dir_.path()).size(), 1u);  // the backup alone
}

TEST_F(CliTest, QuietExtractPrintsNothing) {
  WriteTwoFiles();
  const Process run = RunCli({"extract", "-q", Path("box.bkp"), Out()}, dir_.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(FilesIn(Out()).size(), 2u);
}

TEST_F(CliTest, RelativeBackupIsFoundFromTheStartingFolder) {
  std::filesystem::create_directory(Path("in"));
  BackupBuilder::Single(BackupKind::k4).Entry("a.wav", kWavA).WriteTo(Path("in/box.bkp"));
  const Process run = RunCli({"extract", "in/box.bkp", "out"}, dir_.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FilesIn(Out()), (Files{{"a.wav", kWavA}}));
}

struct FailureCase {
  const char* label;
  std::vector<std::string> args;
  std::string stderrStart;
};
class CliFailureTest : public CliTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CliFailureTest, ExtractFailuresPrintTheCatalogueTextAndExitOne) {
  BackupBuilder::Header(9, 0, 64).WriteTo(Path("other.bkp"));
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(Path(kNotAFile).c_str(), 0600), 0);
#endif
  std::filesystem::create_directory(Path("folder.bkp"));
  BackupBuilder::Single(BackupKind::k3)
      .Entry("good.wav", kWavB)
      .Entry("bad.wav", Bytes(20, 'x'))
      .WriteTo(Path("bad.bkp"));
  std::vector<std::string> args{"extract"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const Process run = RunCli(args, dir_.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.substr(0, GetParam().stderrStart.size()), GetParam().stderrStart);
  EXPECT_EQ(run.out, "");
  // A failed file is removed; the one before it stays.
  EXPECT_EQ(FilesIn(Out()), GetParam().args[0] == "bad.bkp" ? (Files{{"good.wav", kWavB}}) : Files{});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CliFailureTest,
    ::testing::Values(
        FailureCase{"missing folder",
                    {"box.bkp", "missing"},
                    "larkspool-cli: The specified folder is not found.: missing: "},
        FailureCase{
            "missing backup", {"nothing.bkp", "out"}, "larkspool-cli: The specified file is not found.: "},
        FailureCase{
            "not a backup", {"other.bkp", "out"}, "larkspool-cli: This file is not a voice backup data.\n"},
        // Neither can be opened as a backup; a FIFO without a writer must not
        // block the open.
        FailureCase{"backup is a fifo or device",
                    {kNotAFile, "out"},
                    "larkspool-cli: The specified file is not found.: "},
        FailureCase{
            "backup is a folder", {"folder.bkp", "out"}, "larkspool-cli: The specified file is not found.: "},
        FailureCase{"empty backup path", {"", "out"}, "larkspool-cli: Backup file is not specified.\n"},
        FailureCase{"payload not a WAV file",
                    {"bad.bkp", "out"},
                    "larkspool-cli: Wave file format error.: bad.wav\n"}),
    ByLabel());

struct PasswordCase {
  const char* label;
  std::vector<std::string> flags;
  std::optional<std::string> input;
  int status;
  std::string err;
};
class CliPasswordTest : public CliTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(CliPasswordTest, PasswordIsReadFromStdinOrTheRunIsCancelled) {
  const PasswordCase& c = GetParam();
  BackupBuilder::Paired("1234").Files("m.wav", kWavB).WriteTo(Path("box.bkp"));
  std::vector<std::string> args{"extract", "-q", "box.bkp", "out"};
  args.insert(args.end(), c.flags.begin(), c.flags.end());
  const Process run = RunCli(args, dir_.path(), c.input);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(std::filesystem::exists(Path("out/m.wav")), c.status == 0);
}

const std::string kNotCorrect = "larkspool-cli: The password is not correct.\n";
INSTANTIATE_TEST_SUITE_P(
    Inputs, CliPasswordTest,
    ::testing::Values(
        PasswordCase{"line", {"--password-stdin"}, "1234\n", 0, ""},
        PasswordCase{"line with CR and more", {"--password-stdin"}, "1234\r\nmore", 0, ""},
        PasswordCase{"wrong", {"--password-stdin"}, "12345\n", 1, kNotCorrect},
        PasswordCase{
            "trailing blanks", {"--password-stdin"}, "1234" + std::string(2000, ' '), 1, kNotCorrect},
        PasswordCase{
            "no terminal",
            {},
            std::nullopt,
            2,
            "larkspool-cli: box.bkp is password-protected: use --password-stdin or run on a terminal\n"}),
    ByLabel());

struct PolicyCase {
  const char* label;
  std::string flag;
  int status;
  Files files;
  std::string err;
};
class CliOverwriteTest : public CliTest, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(CliOverwriteTest, OverwritePolicyDecidesAboutExistingFiles) {
  WriteTwoFiles();
  WriteFile(Path("out/a.wav"), kOld);
  const Process run = RunCli({"extract", "-q", GetParam().flag, "box.bkp", "out"}, dir_.path());
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_EQ(run.err, GetParam().err);
  EXPECT_EQ(FilesIn(Out()), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, CliOverwriteTest,
    ::testing::Values(
        // Without a terminal, asking is cancelling.
        PolicyCase{"ask",
                   "--overwrite=ask",
                   2,
                   {{"a.wav", kOld}},
                   "larkspool-cli: a.wav already exists; use --overwrite=all or --overwrite=never\n"},
        PolicyCase{"all", "--overwrite=all", 0, {{"a.wav", kWavA}, {"b.wav", kWavB}}, ""},
        PolicyCase{"never", "--overwrite=never", 0, {{"a.wav", kOld}, {"b.wav", kWavB}}, ""}),
    ByLabel());

// Windows refuses names with a quote or a control character before listing
// them (files_windows_test.cpp).
#ifndef _WIN32
TEST_F(CliTest, ListEscapesNamesThatAreNotPrintableUtf8) {
  BackupBuilder::Single(BackupKind::k3)
      .Entry("caf\xC3\xA9.wav", kWavB)
      .Entry("\xFF\xC3(\x01\x7F\xED\xA0\x80.wav", kWavB)  // a lone lead, a cut sequence, a surrogate
      .Entry("say \"hi\".wav", WavPayload(12))
      .WriteTo(Path("box.bkp"));
  const Process text = RunCli({"list", "box.bkp"}, dir_.path());
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out,
            "100\tcaf\xC3\xA9.wav\n100\t\\xFF\\xC3(\\x01\\x7F\\xED\\xA0\\x80.wav\n12\tsay \"hi\".wav\n");

  const Process json = RunCli({"list", "--json", "box.bkp"}, dir_.path());
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(
      json.out,
      R"({"kind": 3, "protected": false, "entries": [)"
      R"({"name": "caf)"
      "\xC3\xA9"
      R"(.wav", "size": 100, "offset": 104, "audio": null}, )"
      R"({"name": "\\xFF\\xC3(\\x01\\x7F\\xED\\xA0\\x80.wav", "size": 100, "offset": 284, "audio": null}, )"
      R"({"name": "say \"hi\".wav", "size": 12, "offset": 464, "audio": null}]})"
      "\n");
}
#endif

TEST_F(CliTest, ListOfAPairedBackupSkipsRecordsThatSelectNoFile) {
  PairRecordSpec none;  // a type that selects nothing
  none.type = 7;
  none.nameA = "ghost.wav";
  PairRecordSpec empty;  // file A's slot holds size 0
  empty.nameA = "empty.wav";
  empty.nameB = "b.wav";
  empty.payloadB = kWavB;
  empty.presentB = 1;
  BackupBuilder::Paired("42").Files("a.wav", kWavA).Record(none).Record(empty).WriteTo(Path("box.bkp"));
  const Process run = RunCli({"list", "--json", "--password-stdin", "box.bkp"}, dir_.path(), "42\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, R"({"kind": 5, "protected": true, "entries": [)"
                     R"({"name": "a.wav", "size": 40000, "offset": 307, "audio": null}, )"
                     R"({"name": "b.wav", "size": 100, "offset": 40819, "audio": null}]})"
                     "\n");
  EXPECT_EQ(RunCli({"list", "box.bkp"}, dir_.path()).status, 2);  // no password: cancelled
}

TEST_F(CliTest, LongListingAndJsonShowTheAudioDetails) {
  WaveShape mulaw;  // 8 kHz mono 8-bit: 12000 bytes are 1.5 s
  mulaw.formatTag = 7;
  mulaw.byteRate = 8000;
  mulaw.blockAlign = 1;
  mulaw.bitsPerSample = 8;
  mulaw.dataBytes = 12000;
  Bytes cut = WavWithFormat(mulaw);
  cut.resize(30);  // ends inside the "fmt " chunk
  BackupBuilder::Single(BackupKind::k4)
      .Entry("caf\xC3\xA9.wav", WavFile(std::vector<std::int16_t>(4000, 7), 16000))  // 0.25 s
      .Entry("mu.wav", WavWithFormat(mulaw))
      .Entry("cut.wav", cut)
      .WriteTo(Path("box.bkp"));
  const Process text = RunCli({"list", "--long", "box.bkp"}, dir_.path());
  EXPECT_EQ(text.status, 0) << text.err;
#ifdef _WIN32
  // Windows reads stored names in the ANSI code page (Western under Wine):
  // the two bytes of é are two characters there.
  const std::string cafe = "caf\xC3\x83\xC2\xA9.wav";
#else
  const std::string cafe = "caf\xC3\xA9.wav";
#endif
  EXPECT_EQ(text.out, "      8044    0:00.3  PCM          16000  " + cafe +
                          "\n"
                          "     12044    0:01.5  \xC2\xB5-law         8000  mu.wav\n"
                          "        30         -  -                -  cut.wav\n");
  const Process json = RunCli({"list", "--json", "box.bkp"}, dir_.path());
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find(R"("size": 8044, "offset": 104, "audio": {"format": "PCM", "format_tag": 1, )"
                          R"("rate": 16000, "channels": 1, "bits": 16, "duration_s": 0.25}})"),
            std::string::npos)
      << json.out;
  EXPECT_NE(
      json.out.find(R"("audio": {"format": ")"
                    "\xC2\xB5"
                    R"(-law", "format_tag": 7, "rate": 8000, "channels": 1, "bits": 8, "duration_s": 1.5}})"),
      std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find(R"({"name": "cut.wav", "size": 30, "offset": 20352, "audio": null}]})"),
            std::string::npos)
      << json.out;
}

TEST_F(CliTest, VerifyAcceptsASoundBackupAndNamesTheFirstFault) {
  WriteTwoFiles();
  BackupBuilder::Single(BackupKind::k6)
      .Entry("a.wav", kWavA)
      .Entry("b.wav", Bytes(64, 0))
      .WriteTo(Path("bad.bkp"));
  const Process sound = RunCli({"verify", "box.bkp"}, dir_.path());
  EXPECT_EQ(sound.status, 0);
  EXPECT_EQ(sound.out, "box.bkp: OK, 2 files\n");
  const Process bad = RunCli({"verify", "bad.bkp"}, dir_.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "larkspool-cli: Wave file format error.: b.wav\n");
  EXPECT_EQ(FilesIn(dir_.path()).size(), 2u);  // verify writes nothing
}

// A backup of four messages in which the last but one entry's name would
// leave the folder, so every run that takes it fails.
struct SelectionCase {
  const char* label;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  Files files;
};
class CliSelectionTest : public CliTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(CliSelectionTest, PatternsChooseTheEntriesOfEveryCommand) {
  const SelectionCase& c = GetParam();
  BackupBuilder::Single(BackupKind::k3)
      .Entry("Greeting.wav", kWavB)
      .Entry("msg-001.wav", kWavA)
      .Entry("msg-002.wav", kWavB)
      .Entry("../msg-x.wav", kWavB)
      .Entry("msg-003.wav", kWavA)
      .WriteTo(Path("box.bkp"));
  // The same entries, then one whose payload runs past the end.
  Bytes cut =
      BackupBuilder::Single(BackupKind::k3).Entry("msg-001.wav", kWavA).Entry("z.wav", kWavB, 999).bytes();
  WriteFile(Path("cut.bkp"), cut);
  const Process run = RunCli(c.args, dir_.path());
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(FilesIn(Out()), c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, CliSelectionTest,
    ::testing::Values(
        SelectionCase{"list by pattern",
                      {"list", "box.bkp", "msg-00?.wav"},
                      0,
                      "40000\tmsg-001.wav\n100\tmsg-002.wav\n40000\tmsg-003.wav\n",
                      "",
                      {}},
        SelectionCase{"list by two patterns and an exclusion",
                      {"list", "box.bkp", "*1.wav", "msg-00[2-9].wav", "--exclude", "*3*"},
                      0,
                      "40000\tmsg-001.wav\n100\tmsg-002.wav\n",
                      "",
                      {}},
        SelectionCase{"case matters",
                      {"list", "box.bkp", "greeting.wav"},
                      1,
                      "",
                      "larkspool-cli: no entry matches greeting.wav\n",
                      {}},
        SelectionCase{
            "ignore case", {"list", "-i", "box.bkp", "greeting.wav"}, 0, "100\tGreeting.wav\n", "", {}},
        SelectionCase{"one pattern matches nothing",
                      {"list", "box.bkp", "G*", "*.mp3"},
                      1,
                      "100\tGreeting.wav\n",
                      "larkspool-cli: no entry matches *.mp3\n",
                      {}},
        SelectionCase{"a pattern whose entries are all excluded still matched",
                      {"verify", "box.bkp", "G*", "--exclude=*.wav"},
                      0,
                      "box.bkp: OK, 0 files\n",
                      "",
                      {}},
        SelectionCase{"extract",
                      {"extract", "box.bkp", "out", "msg-*", "--exclude", "*2.wav", "--exclude", "*3.wav"},
                      0,
                      "Extraction completed.\n",
                      "",
                      Files{{"msg-001.wav", kWavA}}},
        SelectionCase{
            "extract reaches the unsafe name",
            {"extract", "-q", "box.bkp", "out", "*msg-x*"},
            1,
            "",
            "larkspool-cli: System error(9): ../msg-x.wav: refused, the name would leave the extraction "
            "folder\n",
            {}},
        SelectionCase{"a fault past the selection is still a fault",
                      {"extract", "-q", "cut.bkp", "out", "msg-*"},
                      1,
                      "",
                      "larkspool-cli: System error(10): z.wav: backup ends inside a payload\n",
                      Files{{"msg-001.wav", kWavA}}}),
    ByLabel());

// A range takes both its bounds, in either case with -i, also one that
// spans the letters' cases.
TEST_F(CliTest, PatternRangesTakeBothBounds) {
  BackupBuilder builder = BackupBuilder::Single(BackupKind::k3);
  for (const char* name : {"0-low.wav", "9-high.wav", "a-low.wav", "c-high.wav", "d-out.wav", "C-upper.wav"})
    builder.Entry(name, kWavB);
  builder.WriteTo(Path("box.bkp"));
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"[0-9]*"}, "100\t0-low.wav\n100\t9-high.wav\n"},
      {{"[a-c]*"}, "100\ta-low.wav\n100\tc-high.wav\n"},
      {{"-i", "[A-C]*"}, "100\ta-low.wav\n100\tc-high.wav\n100\tC-upper.wav\n"},
      {{"-i", "[Z-a]*"}, "100\ta-low.wav\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"list", "box.bkp"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Process run = RunCli(args, dir_.path());
    EXPECT_EQ(run.status, 0) << c.args.back() << run.err;
    EXPECT_EQ(run.out, c.out) << c.args.back();
  }
}

TEST_F(CliTest, CatWritesOnePayloadToStandardOutput) {
  const Bytes first = WavPayload(300, 5);
  BackupBuilder::Paired("42")
      .Files("a.wav", kWavA, "dup.wav", first)
      .Files("dup.wav", kWavB, "bad.wav", Bytes(40, 'x'))
      .WriteTo(Path("box.bkp"));
  const struct {
    std::string name;
    int status;
    Bytes out;
    std::string err;
  } cases[] = {
      {"a.wav", 0, kWavA, ""},
      {"dup.wav", 0, kWavB, ""},  // the last of that name, as extract leaves it
      {"none.wav", 1, {}, "larkspool-cli: no entry named none.wav\n"},
      {"bad.wav", 1, {}, "larkspool-cli: Wave file format error.: bad.wav\n"},
  };
  for (const auto& c : cases) {
    const Process run = RunCli({"cat", "--password-stdin", "box.bkp", c.name}, dir_.path(), "42\n");
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_EQ(run.out, std::string(c.out.begin(), c.out.end())) << c.name;
    EXPECT_EQ(run.err, c.err) << c.name;
  }
  EXPECT_EQ(RunCli({"cat", "--password-stdin", "box.bkp", "a.wav"}, dir_.path(), "41\n").err,
            "larkspool-cli: The password is not correct.\n");
}

TEST_F(CliTest, NameEncodingWritesAndShowsLegacyNamesAsUtf8) {
  // "メッセージ.wav" and "ソ.wav" in CP932; the second byte of ソ is 0x5C,
  // a backslash as a stored byte.
  const std::string message = "\x83\x81\x83\x62\x83\x5A\x81\x5B\x83\x57.wav";
  const std::string so = "\x83\x5C.wav";
  const std::string messageUtf8 = "\xE3\x83\xA1\xE3\x83\x83\xE3\x82\xBB\xE3\x83\xBC\xE3\x82\xB8.wav";
  const std::string soUtf8 = "\xE3\x82\xBD.wav";
  BackupBuilder::Single(BackupKind::k6).Entry(message, kWavA).Entry(so, kWavB).WriteTo(Path("box.bkp"));
  BackupBuilder::Single(BackupKind::k6).Entry("\x83.wav", kWavB).WriteTo(Path("bad.bkp"));

  const Process list = RunCli({"list", "--name-encoding=CP932", "box.bkp"}, dir_.path());
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "40000\t" + messageUtf8 + "\n100\t" + soUtf8 + "\n");
  const Process picked =
      RunCli({"list", "--name-encoding", "cp932", "box.bkp", "\xE3\x83\xA1*"}, dir_.path());
  EXPECT_EQ(picked.out, "40000\t" + messageUtf8 + "\n");
  const Process extract = RunCli({"extract", "--name-encoding=CP932", "box.bkp", "out"}, dir_.path());
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(FilesIn(Out()), (Files{{messageUtf8, kWavA}, {soUtf8, kWavB}}));
  const Process cat = RunCli({"cat", "--name-encoding=CP932", "box.bkp", soUtf8}, dir_.path());
  EXPECT_EQ(cat.out, std::string(kWavB.begin(), kWavB.end()));

  // As stored bytes the backslash makes the name unsafe; a byte sequence
  // that is not CP932 is refused, naming the entry.
  EXPECT_EQ(RunCli({"list", "box.bkp"}, dir_.path()).status, 1);
  const Process bad = RunCli({"list", "--name-encoding=CP932", "bad.bkp"}, dir_.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "larkspool-cli: System error(9): \\x83.wav: the name is not valid CP932\n");

  // A name of 45 bytes above 0x7F in CP1252 takes twice as many in UTF-8.
  std::string umlauts;
  for (int i = 0; i < 45; ++i) umlauts += "\xC3\xBC";
  BackupBuilder::Single(BackupKind::k3).Entry(std::string(45, '\xFC'), kWavB).WriteTo(Path("long.bkp"));
  const Process latin = RunCli({"list", "--name-encoding=CP1252", "long.bkp"}, dir_.path());
  EXPECT_EQ(latin.status, 0) << latin.err;
  EXPECT_EQ(latin.out, "100\t" + umlauts + "\n");
}

class CliUsageTest : public CliTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(CliUsageTest, BadUsageExitsWith64) {
  const Process run = RunCli(GetParam(), dir_.path());
  EXPECT_EQ(run.status, 64);
  EXPECT_NE(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsageTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"unpack", "box.bkp"},
                      std::vector<std::string>{"extract", "box.bkp"},
                      std::vector<std::string>{"extract", "--overwrite=maybe", "box.bkp", "out"},
                      std::vector<std::string>{"list", "--password", "1234", "box.bkp"},
                      std::vector<std::string>{"cat", "box.bkp"},
                      std::vector<std::string>{"list", "--name-encoding=NO-SUCH-SET", "box.bkp"}),
    [](const auto& test) {
      std::string name = "Args";
      for (const std::string& arg : test.param) name += "_" + CaseName(arg);
      return name;
    });

TEST_F(CliTest, VersionAndHelpExitZero) {
  const Process version = RunCli({"--version"}, dir_.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "larkspool-cli 1.0.1\n");
  const Process help = RunCli({"extract", "--help"}, dir_.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--overwrite"), std::string::npos);
}

}  // namespace
}  // namespace larkspool::testing
