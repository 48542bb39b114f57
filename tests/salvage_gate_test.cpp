// What a salvage decides before it saves anything, and what it hands back:
// the password gate of a backup whose kind field or digest is damaged, files
// that are no backup at all, the names messages are saved under, and the
// report after a fault, a cancel, or a message that has the report's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "desktop/main_window_model.h"
#include "tests/support/cli_process.h"
#include "tests/support/salvage_fixture.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

const Bytes kA = WaveMessage(5000, 1), kB = WaveMessage(5000, 2), kC = WaveMessage(5000, 3),
            kD = WaveMessage(5000, 4);
const Files kFour = {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}, {"d.wav", kD}};

// Four messages, two a record, in a kind 5 backup; the first record's
// payloads end at 10307.
Bytes Paired(std::optional<std::string> password) {
  return BackupBuilder::Paired(std::move(password))
      .Files("a.wav", kA, "b.wav", kB)
      .Files("c.wav", kC, "d.wav", kD)
      .bytes();
}

void Fill(Bytes& b, std::size_t from, std::size_t to, std::uint8_t value) {
  std::fill(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to),
            value);
}

const std::string kUndecided =
    "Nothing can be saved: the backup's header is damaged, and it cannot be told whether a mailbox password "
    "protects it.";
const std::string kNotABackup = "This file is not a voice backup data.";

// A protected backup (1234) damaged where the layout and the password are
// told: while the paired layout cannot be ruled out the password is asked
// for and checked, and when the digest cannot tell, nothing is asked and
// nothing is written, whatever the user would answer.
struct GateCase {
  const char* label;
  std::function<void(Bytes&)> damage;
  std::string refusal;  // empty: the password is asked for
  Files right = kFour;  // written after the right password
  BackupKind kind = BackupKind::k5;
};
class SalvageGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(SalvageGateTest, APairedBackupNeverOpensWithoutItsPassword) {
  const GateCase& c = GetParam();
  Bytes backup = Paired("1234");
  c.damage(backup);
  struct Answer {
    std::optional<std::string> typed;
    RunResult result;
    std::vector<std::string> messages;
  };
  const Answer answers[] = {{std::nullopt, RunResult::kCancelled, {}},
                            {"", RunResult::kFailed, {"The password is not correct."}},
                            {"4321", RunResult::kFailed, {"The password is not correct."}},
                            {"1234", RunResult::kCompleted, {}}};
  for (const Answer& answer : answers) {
    SCOPED_TRACE(answer.typed.value_or("(cancel)"));
    Session s;
    s.ui.passwordAnswers = {answer.typed};
    const SalvageOutcome o = SalvageInto(s, backup);
    if (!c.refusal.empty()) {
      EXPECT_EQ(o.result, RunResult::kFailed);
      EXPECT_EQ(s.ui.passwordPrompts, 0);
      EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{c.refusal});
      EXPECT_TRUE(o.files.empty());
      continue;
    }
    EXPECT_EQ(s.ui.passwordPrompts, 1);
    EXPECT_EQ(o.result, answer.result);
    EXPECT_EQ(s.ui.MessageTexts(), answer.messages);
    if (answer.result == RunResult::kCompleted) {
      EXPECT_EQ(o.files, c.right);
      EXPECT_EQ(o.report.kind, c.kind);
    } else {
      EXPECT_TRUE(o.files.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SalvageGateTest,
    ::testing::Values(
        GateCase{"intact", [](Bytes&) {}, ""}, GateCase{"kind 3", [](Bytes& b) { b[8] = 3; }, ""},
        GateCase{"kind 4", [](Bytes& b) { b[8] = 4; }, ""},
        GateCase{"kind 6 by its variant",
                 [](Bytes& b) {
                   b[8] = 3;
                   b[12] = 20;
                 },
                 ""},
        GateCase{"kind byte 6", [](Bytes& b) { b[8] = 6; }, ""},
        GateCase{"unknown kind", [](Bytes& b) { b[8] = 0x45; }, ""},
        // The first record too: nothing holds from any start, so the kind
        // field stands, but the digest still asks; with the password the
        // payloads are carved.
        GateCase{"kind 3 and the first record damaged",
                 [](Bytes& b) {
                   b[8] = 3;
                   Fill(b, 51, 307 + 12, 0x00);
                 },
                 "",
                 {{"recovered-5307.wav", kB}, {"recovered-10563.wav", kC}, {"recovered-15563.wav", kD}},
                 BackupKind::k3},
        GateCase{"digest zeroed", [](Bytes& b) { Fill(b, 24, 40, 0x00); }, kUndecided},
        GateCase{"digest zeroed and kind 4",
                 [](Bytes& b) {
                   b[8] = 4;
                   Fill(b, 24, 40, 0x00);
                 },
                 kUndecided},
        // An erased block reads 0xFF, the "no password" marker.
        GateCase{"header erased", [](Bytes& b) { Fill(b, 0, 51, 0xFF); }, kUndecided},
        GateCase{"first 4 KiB zeroed", [](Bytes& b) { Fill(b, 0, 4096, 0x00); }, kNotABackup},
        GateCase{"cut inside the digest", [](Bytes& b) { b.resize(30); },
                 "Nothing can be saved: the backup ends inside its header, and it cannot be told whether a "
                 "mailbox password protects it."}),
    ByLabel());

// Where the layout is told apart without a password, the kind field's
// damage costs nothing: no prompt, every message under its name.
TEST(SalvageLayoutTest, ADamagedKindFieldIsReadAsTheLayoutThatHolds) {
  struct Case {
    const char* label;
    Bytes backup;
    Files files;
  };
  Bytes unprotected4 = Paired(std::nullopt);
  unprotected4[8] = 4;
  Bytes unprotectedUnknown = Paired(std::nullopt);
  unprotectedUnknown[8] = 0x45;
  // A kind 3 backup whose first entry is wholly damaged (header and tags)
  // holds nowhere from any start: its kind field stands, and with a
  // "no password" byte where a digest would be, it is read as kind 3.
  const BackupBuilder three =
      BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("b.wav", kB).Entry("c.wav", kC);
  Bytes firstLost = three.bytes();
  Fill(firstLost, 24, 104 + 12, 0x00);
  firstLost[24] = 0xFF;
  Bytes longVariant = three.bytes();
  longVariant[12] = 20;  // reads as kind 6, but entries chain from 24
  const Case cases[] = {
      {"unprotected kind 5 read as 4", unprotected4, kFour},
      {"unprotected kind 5 with an unknown kind", unprotectedUnknown, kFour},
      {"kind 3 without its first entry", firstLost, {{"b.wav", kB}, {"c.wav", kC}}},
      {"kind 3 with a long-header variant", longVariant, {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    const SalvageOutcome o = SalvageInto(s, c.backup);
    EXPECT_EQ(o.result, RunResult::kCompleted);
    EXPECT_EQ(s.ui.passwordPrompts, 0);
    Files named;
    for (const auto& [name, bytes] : o.files) {
      if (!name.starts_with("recovered-")) named.emplace(name, bytes);
    }
    EXPECT_EQ(named, c.files);
  }
  // The same kind 3 damage with the zeros a builder leaves there: it cannot
  // be told from a paired backup whose digest is gone.
  Bytes zeros = three.bytes();
  Fill(zeros, 24, 104 + 12, 0x00);
  Session s;
  const SalvageOutcome o = SalvageInto(s, zeros);
  EXPECT_EQ(o.result, RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{kUndecided});
  EXPECT_TRUE(o.files.empty());
}

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

Bytes Png() {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I',  'H',  'D',  'R', 0,
               0,    1,   0,   0,   0,    1,    0,    8,    2, 0, 0, 0,  0x90, 0x77, 0x53, 0xDE};
  const Bytes data = RandomBytes(20000, 7);
  const Bytes idat = {0, 0, 0x4E, 0x20, 'I', 'D', 'A', 'T'};
  png.insert(png.end(), idat.begin(), idat.end());
  png.insert(png.end(), data.begin(), data.end());
  const Bytes end = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  png.insert(png.end(), end.begin(), end.end());
  return png;
}

Bytes Text() {
  std::string text;
  for (int line = 0; line < 200; ++line) {
    text += "Line " + std::to_string(line) + ": the voice-mail system keeps its messages in a backup file.\n";
  }
  return Bytes(text.begin(), text.end());
}

TEST(SalvageNotABackupTest, AFileThatIsNoBackupIsRefusedAndNothingIsWritten) {
  const struct {
    const char* label;
    Bytes bytes;
  } cases[] = {{"random bytes", RandomBytes(1 << 16, 2026)}, {"a PNG", Png()}, {"a text file", Text()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session s;
    const SalvageOutcome o = SalvageInto(s, c.bytes);
    EXPECT_EQ(o.result, RunResult::kFailed);
    EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{kNotABackup});
    EXPECT_TRUE(o.files.empty());
    EXPECT_EQ(s.ui.passwordPrompts, 0);
  }
}

// The desktop's go-on after an Extract that read a kind field of 4 and
// stopped at the first entry: the gate is passed there too, and the
// messages come back from the records.
TEST(SalvageGateTest, GoingOnFromAnExtractThatReadTheWrongKindAsksForThePassword) {
  Bytes backup = Paired("1234");
  backup[8] = 4;
  for (const char* typed : {"4321", "1234"}) {
    SCOPED_TRACE(typed);
    Session s;
    WriteFile(s.backup, backup);
    s.ui.passwordAnswers = {std::string(typed)};
    SalvageReport report;
    std::string summary;
    const DamagedStop stop{s.backup, s.folder, BackupKind::k4, 24, {}, {}};
    std::filesystem::current_path(s.folder);
    const RunResult result = Salvager(NativeFileSystem(), s.ui, TickingClock()).GoOn(stop, report, summary);
    EXPECT_EQ(s.ui.passwordPrompts, 1);
    if (std::string(typed) == "1234") {
      EXPECT_EQ(result, RunResult::kCompleted);
      Files expected = kFour;
      expected.emplace("larkspool-salvage.txt", ReadFile(s.folder + "/larkspool-salvage.txt"));
      EXPECT_EQ(s.Output(), expected);
    } else {
      EXPECT_EQ(result, RunResult::kFailed);
      EXPECT_TRUE(s.Output().empty());
    }
  }
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Go on after an Extract that stopped at b.wav (its tags damaged).
struct GoneOn {
  RunResult result;
  std::string summary;
  Files files;
};
GoneOn GoOnAfterExtract(Session& s, const BackupBuilder& builder, const EntryOptions& options = {},
                        int cancelAtGoOnPump = 0) {
  builder.WriteTo(s.backup);
  Extractor extractor(NativeFileSystem(), s.ui, TickingClock());
  extractor.set_entry_options(options);
  EXPECT_EQ(extractor.OnExtract(s.backup, s.folder), RunResult::kFailed);
  const std::optional<DamagedStop> stop = extractor.damaged_stop();
  EXPECT_TRUE(stop.has_value());
  if (!stop) return {RunResult::kFailed, {}, {}};
  if (cancelAtGoOnPump > 0) s.ui.cancelAtPump = s.ui.pumps + cancelAtGoOnPump;
  Salvager salvager(NativeFileSystem(), s.ui, TickingClock());
  salvager.set_entry_options(options);
  SalvageReport report;
  GoneOn o{RunResult::kFailed, {}, {}};
  o.result = salvager.GoOn(*stop, report, o.summary);
  o.files = s.Output();
  return o;
}

const Bytes kUntagged(300, 0x55);

TEST(SalvageReportFileTest, NeverReplacesAMessageSavedInTheSameRun) {
  // One message of the report's name before the stop, one of its second
  // name (in other letters) after it.
  Session s;
  const GoneOn o = GoOnAfterExtract(s, BackupBuilder::Single(BackupKind::k3)
                                           .Entry("larkspool-salvage.txt", kA)
                                           .Entry("b.wav", kUntagged)
                                           .Entry("LARKSPOOL-SALVAGE-2.TXT", kC));
  ASSERT_EQ(o.result, RunResult::kCompleted);
  EXPECT_EQ(o.files.at("larkspool-salvage.txt"), kA);
  EXPECT_EQ(o.files.at("LARKSPOOL-SALVAGE-2.TXT"), kC);
  ASSERT_TRUE(o.files.contains("larkspool-salvage-3.txt"));
  const std::string report = Text(o.files.at("larkspool-salvage-3.txt"));
  EXPECT_NE(report.find("the report is larkspool-salvage-3.txt: a message saved in this run is named "
                        "larkspool-salvage.txt\n"),
            std::string::npos)
      << report;
  EXPECT_TRUE(o.summary.ends_with(static_cast<char>(std::filesystem::path::preferred_separator) +
                                  std::string("larkspool-salvage-3.txt (a message saved in this run is named "
                                              "larkspool-salvage.txt)")))
      << o.summary;
}

TEST(SalvageReportFileTest, IsWrittenAfterACancelWithWhatWasFound) {
  Session s;
  const GoneOn o = GoOnAfterExtract(
      s,
      BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("b.wav", kUntagged).Entry("c.wav", kC),
      {}, 1);
  EXPECT_EQ(o.result, RunResult::kCancelled);
  ASSERT_TRUE(o.files.contains("larkspool-salvage.txt"));
  const std::string report = Text(o.files.at("larkspool-salvage.txt"));
  EXPECT_NE(report.find("\ncancelled: "), std::string::npos) << report;
  EXPECT_NE(o.summary.find("the damaged parts are listed in"), std::string::npos) << o.summary;
}

// Bytes the system could not read are summed up, apart from the other
// damage; a run that did not complete says how it ended.
TEST(SalvageReportFileTest, TheTextSaysWhatCouldNotBeReadAndHowTheRunEnded) {
  SalvageReport report;
  report.damaged = {{100, 612, "cannot be read", true},
                    {700, 800, "the name is damaged", false},
                    {4096, 8192, "cannot be read", true}};
  const std::string text = SalvageReportText(report, "box.bkp", {}, RunResult::kCancelled);
  EXPECT_NE(text.find("\nunreadable  4608 bytes in 2 ranges could not be read (bad blocks)\n0 complete"),
            std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with("\ncancelled: the messages after that point were not looked for\n")) << text;
  report.damaged.pop_back();
  report.damaged.erase(report.damaged.begin());
  EXPECT_EQ(SalvageReportText(report, "box.bkp").find("unreadable"), std::string::npos);
}

// Names read as the extraction read them, before and after the stop: a
// mapping such as a code page's, and a name it cannot read.
TEST(SalvageNamesTest, GoingOnNamesFilesAsTheExtractionDid) {
  EntryOptions latin;
  latin.mapName = [](std::string_view stored) -> std::optional<std::string> {
    std::string name;
    for (const char c : stored) {
      if (c == '\xFF') return std::nullopt;
      name += c == '\xFC' ? std::string("\xC3\xBC") : std::string(1, c);
    }
    return name;
  };
  latin.unnamedReason = "the name is not valid LATIN";
  // Through the desktop's own offer: Yes goes on with the names the
  // extraction used.
  Session s;
  BackupBuilder::Single(BackupKind::k3)
      .Entry("M\xFCller-1.wav", kA)
      .Entry("b.wav", kUntagged)
      .Entry("M\xFCller-3.wav", kC)
      .Entry("\xFF.wav", kD)
      .WriteTo(s.backup);
  s.ui.yesNoAnswers = {true};
  desktop::MainWindowModel model(NativeFileSystem(), s.ui);
  model.extractor().set_entry_options(latin);
  model.OnEditChange(s.backup, s.folder);
  GoneOn o{model.OnExtract(), {}, s.Output()};
  ASSERT_EQ(o.result, RunResult::kCompleted);
  EXPECT_EQ(o.files.at("M\xC3\xBCller-1.wav"), kA);
  EXPECT_EQ(o.files.at("M\xC3\xBCller-3.wav"), kC);
  const std::string at = std::to_string(24 + 4 * 80 + 5000 + 300 + 5000);
  const std::string recovered = "recovered-" + at + ".wav";
  EXPECT_EQ(o.files.at(recovered), kD);
  EXPECT_EQ(o.files.size(), 4u);  // and the report
  const std::string report = Text(o.files.at("larkspool-salvage.txt"));
  EXPECT_NE(report.find("unnamed  " + recovered + " (stored as \xFF.wav) at byte " + at +
                        ": the name is not valid LATIN"),
            std::string::npos)
      << report;
}

// The command line: --name-encoding on salvage and on list --salvage; the
// options a salvage cannot honour are refused beside --salvage; the report
// is printed also after a fault.
class SalvageCliNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(dir_ / "out"); }
  Process Run(const std::vector<std::string>& args) const { return RunCli(args, dir_.path()); }
  Files Out() const { return FilesIn(dir_ / "out"); }
  // The messages, then a last entry the end of the file cuts: read by the
  // salvage scan, not as a sound backup.
  void WriteCut(const std::vector<std::pair<std::string, Bytes>>& messages) const {
    BackupBuilder builder = BackupBuilder::Single(BackupKind::k3);
    for (const auto& [name, payload] : messages) builder.Entry(name, payload);
    Bytes bytes = builder.Entry("cut.wav", kD).bytes();
    bytes.resize(bytes.size() - 1000);
    WriteFile(dir_ / "box.bkp", bytes);
  }
  ScratchDir dir_;
};

TEST_F(SalvageCliNamesTest, NamesAreReadInTheGivenCharacterSet) {
  const std::string mueller = "M\xC3\xBCller.wav", ete = "\xC3\x89t\xC3\xA9.wav";
  WriteCut({{"M\xFCller.wav", kA}, {"\xC9t\xE9.wav", kB}});
  const Process latin = Run({"salvage", "-q", "--name-encoding=CP1252", "box.bkp", "out"});
  EXPECT_EQ(latin.status, 1) << latin.err;
  EXPECT_EQ(Out().at(mueller), kA);
  EXPECT_EQ(Out().at(ete), kB);
  EXPECT_NE(latin.out.find("complete  " + mueller + " at byte 104\n"), std::string::npos) << latin.out;

  // "ソ.wav" in CP932: its second byte is a backslash as a stored byte; a
  // lead byte alone is no CP932 name.
  std::filesystem::remove_all(dir_ / "out");
  std::filesystem::create_directory(dir_ / "out");
  const std::string so = "\xE3\x82\xBD.wav";
  WriteCut({{"\x83\x5C.wav", kA}, {"\x83.wav", kB}});
  const Process japanese = Run({"salvage", "-q", "--name-encoding=CP932", "box.bkp", "out"});
  EXPECT_EQ(japanese.status, 1) << japanese.err;
  EXPECT_EQ(Out().at(so), kA);
  EXPECT_EQ(Out().at("recovered-5184.wav"), kB);
  EXPECT_NE(
      japanese.out.find("unnamed  recovered-5184.wav (stored as \\x83.wav) at byte 5184: the name is not "
                        "valid CP932\n"),
      std::string::npos)
      << japanese.out;
  const Process list = Run({"list", "--salvage", "--json", "--name-encoding=CP932", "box.bkp"});
  EXPECT_NE(list.out.find(R"("name":")" + so + R"(","file":")" + so + "\""), std::string::npos) << list.out;
}

TEST_F(SalvageCliNamesTest, OptionsASalvageCannotHonourAreRefused) {
  WriteCut({{"a.wav", kA}});
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"list", "--salvage", "box.bkp", "a*"},
                                             {"list", "--salvage", "--exclude", "a*", "box.bkp"},
                                             {"list", "--salvage", "-i", "box.bkp"},
                                             {"list", "--salvage", "--long", "box.bkp"},
                                             {"verify", "--salvage", "box.bkp", "a*"},
                                             {"verify", "--salvage", "--ignore-case", "box.bkp"}}) {
    SCOPED_TRACE(args[2] + " " + args[3]);
    const Process run = Run(args);
    EXPECT_EQ(run.status, 64);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("--salvage"), std::string::npos) << run.err;
  }
}

TEST_F(SalvageCliNamesTest, TheReportIsPrintedAfterAFault) {
  WriteCut({{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}});
  std::filesystem::create_directory(dir_ / "out/b.wav");  // no file to replace
  const Process run = Run({"salvage", "--overwrite=all", "box.bkp", "out"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("System error(9)"), std::string::npos) << run.err;
  EXPECT_EQ(run.out,
            "Backup: box.bkp\nRead as kind 3\ncomplete  a.wav at byte 104\n"
            "1 complete, 0 partial, 0 unnamed, 0 lost\n"
            "stopped by a fault: the messages after it were not looked for\n");
  EXPECT_EQ(Out(), (Files{{"a.wav", kA}}));
}

}  // namespace
}  // namespace larkspool::testing
