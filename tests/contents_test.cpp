// The contents window without its toolkit: what it lists for sound,
// protected and damaged backups, the filter and the sort, the status line,
// Extract Selected writing exactly the chosen messages, Verify, and the
// player over an output that records what it is handed. Every expectation
// comes from the messages the test built, never from the model's own view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "desktop/contents_model.h"
#include "desktop/player.h"
#include "tests/support/salvage_fixture.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using desktop::ContentsColumn;
using desktop::ContentsModel;

// A 16-bit mono PCM message of `seconds` at `rate`, its data a pattern.
Bytes Message(double seconds, std::uint32_t rate = 8000) {
  WaveShape shape;
  shape.sampleRate = rate;
  shape.byteRate = rate * 2;
  shape.dataBytes = static_cast<std::uint32_t>(std::lround(seconds * rate)) * 2;
  return WavWithFormat(shape);
}

std::vector<std::string> Column(const ContentsModel& model, ContentsColumn column) {
  std::vector<std::string> cells;
  for (std::size_t row = 0; row < model.size(); ++row) cells.push_back(model.Cell(row, column));
  return cells;
}

// Ten messages whose names, sizes and durations disagree in order: a sort
// by text, or by the wrong column, gives another order. "junk.wav" has the
// tags an Extract checks, but no readable format.
BackupBuilder Mailbox() {
  BackupBuilder b = BackupBuilder::Single(BackupKind::k3);
  b.Entry("msg-10.wav", Message(9.0));                   // 0:09.0
  b.Entry("Msg-9.wav", Message(10.0, 16000));            // 0:10.0, the largest
  b.Entry("junk.wav", WavPayload(30, 9));                // tags, but no format: unknown
  b.Entry("call[1].wav", Message(75.25));                // 1:15.3
  b.Entry("a.wav", Message(9.0));                        // ties with msg-10
  b.Entry("MSG-11.WAV", Message(0.5));                   // 0:00.5
  b.Entry("x", Message(3.6));                            // 0:03.6
  b.Entry("voicemail-001.wav", Message(3661.0 / 1000));  // 0:03.7
  return b;
}

struct ListCase {
  const char* label;
  std::string filter;
  ContentsColumn column;
  bool ascending;
  std::vector<std::string> names;
  std::vector<std::size_t> selected;  // shown rows
  std::string status;
};

class ContentsListing : public ::testing::TestWithParam<ListCase> {};

TEST_P(ContentsListing, FiltersSortsAndCounts) {
  const ListCase& c = GetParam();
  Session s;
  Mailbox().WriteTo(s.backup);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  EXPECT_EQ(model.Title(), "box.bkp - Larkspool");
  EXPECT_EQ(model.columnCount(), 5);
  model.SortBy(c.column, c.ascending);
  model.SetFilter(c.filter);
  EXPECT_EQ(Column(model, ContentsColumn::kName), c.names);
  EXPECT_EQ(model.StatusText(c.selected), c.status);
  EXPECT_TRUE(s.ui.MessageTexts().empty());
}

const ListCase kListCases[] = {
    {"name ascending, letter case aside",
     "",
     ContentsColumn::kName,
     true,
     {"a.wav", "call[1].wav", "junk.wav", "msg-10.wav", "MSG-11.WAV", "Msg-9.wav", "voicemail-001.wav", "x"},
     {},
     "8 messages, 0:01:51 in all"},
    {"substring ignores case",
     "msg-1",
     ContentsColumn::kName,
     false,
     {"MSG-11.WAV", "msg-10.wav"},
     {0},
     "2 of 8 messages, 0:00:10 in all; 1 selected, 0:01"},
    {"a bracket without * or ? is text to find",
     "[1",
     ContentsColumn::kName,
     true,
     {"call[1].wav"},
     {0},
     "1 of 8 messages, 0:01:15 in all; 1 selected, 1:15"},
    {"pattern with ? and * as the command line matches",
     "msg-?.WAV",
     ContentsColumn::kName,
     true,
     {"Msg-9.wav"},
     {},
     "1 of 8 messages, 0:00:10 in all"},
    {"a set in a pattern",
     "*[0-9].wav",
     ContentsColumn::kSize,
     true,
     {"MSG-11.WAV", "voicemail-001.wav", "msg-10.wav", "Msg-9.wav"},
     {},
     "4 of 8 messages, 0:00:23 in all"},
    {"nothing matches", "zzz", ContentsColumn::kName, true, {}, {0}, "0 of 8 messages, 0:00:00 in all"},
    {"duration ascending: ties keep backup order, unknown last",
     "",
     ContentsColumn::kDuration,
     true,
     {"MSG-11.WAV", "x", "voicemail-001.wav", "msg-10.wav", "a.wav", "Msg-9.wav", "call[1].wav", "junk.wav"},
     {0, 1, 2, 3, 4, 5, 6, 7},
     "8 messages, 0:01:51 in all; 8 selected, 1:51"},
    {"duration descending: ties still in backup order, unknown still last",
     "",
     ContentsColumn::kDuration,
     false,
     {"call[1].wav", "Msg-9.wav", "msg-10.wav", "a.wav", "voicemail-001.wav", "x", "MSG-11.WAV", "junk.wav"},
     {6, 7},
     "8 messages, 0:01:51 in all; 2 selected, 0:01"},
    {"size is a number, not text",
     "",
     ContentsColumn::kSize,
     true,
     {"junk.wav", "MSG-11.WAV", "x", "voicemail-001.wav", "msg-10.wav", "a.wav", "Msg-9.wav", "call[1].wav"},
     {},
     "8 messages, 0:01:51 in all"},
    {"rate descending",
     "",
     ContentsColumn::kSampleRate,
     false,
     {"Msg-9.wav", "msg-10.wav", "call[1].wav", "a.wav", "MSG-11.WAV", "x", "voicemail-001.wav", "junk.wav"},
     {},
     "8 messages, 0:01:51 in all"},
    {"selected rows beyond the shown ones are not counted",
     "wav",
     ContentsColumn::kName,
     true,
     {"a.wav", "call[1].wav", "junk.wav", "msg-10.wav", "MSG-11.WAV", "Msg-9.wav", "voicemail-001.wav"},
     {2, 99},
     "7 of 8 messages, 0:01:47 in all; 1 selected, 0:00"},
};

INSTANTIATE_TEST_SUITE_P(Model, ContentsListing, ::testing::ValuesIn(kListCases), ByLabel());

TEST(ContentsModel, CellsAreTheLongListingsTexts) {
  Session s;
  Mailbox().WriteTo(s.backup);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  model.SetFilter("call");
  ASSERT_EQ(model.size(), 1u);
  EXPECT_EQ(model.Cell(0, ContentsColumn::kDuration), "1:15.3");
  EXPECT_EQ(model.Cell(0, ContentsColumn::kSize), std::to_string(Message(75.25).size()));
  EXPECT_EQ(model.Cell(0, ContentsColumn::kFormat), "PCM");
  EXPECT_EQ(model.Cell(0, ContentsColumn::kSampleRate), "8000");
  model.SetFilter("junk");
  EXPECT_EQ(model.Cell(0, ContentsColumn::kDuration), "unknown");
  EXPECT_EQ(model.Cell(0, ContentsColumn::kFormat), "unknown");
  EXPECT_EQ(model.Cell(0, ContentsColumn::kSampleRate), "unknown");
  EXPECT_EQ(desktop::ContentsStatusText(1, 3725.4, 1, 3725.4),
            "1 message, 1:02:05 in all; 1 selected, 1:02:05");
}

// Extract Selected and Extract All, on sound, protected and damaged
// backups: the folder ends up holding exactly the chosen messages, as built.
struct ExtractCase {
  const char* label;
  std::optional<std::string> password;  // kind 5 with this password; none: kind 3
  std::vector<std::string> names;       // the messages, in backup order
  std::string filter;
  std::vector<std::size_t> rows;      // shown rows chosen; empty: Extract All
  std::vector<std::size_t> wanted;    // the messages (backup order) the folder must hold
  std::vector<std::string> existing;  // files in the folder before the run
  std::vector<OverwriteAnswer> answers;
  bool swappedAfterOpen = false;  // the first two names trade places before the run
};

class ContentsExtract : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ContentsExtract, WritesExactlyTheChosenMessages) {
  const ExtractCase& c = GetParam();
  Session s;
  std::vector<Bytes> payloads;
  BackupBuilder b = c.password ? BackupBuilder::Paired(*c.password) : BackupBuilder::Single(BackupKind::k3);
  for (std::size_t i = 0; i < c.names.size(); ++i)
    payloads.push_back(WaveMessage(100 + 37 * i, static_cast<std::uint8_t>(i + 1)));
  for (std::size_t i = 0; i < c.names.size(); ++i) {
    if (!c.password) {
      b.Entry(c.names[i], payloads[i]);
    } else if (i % 2 == 1) {
      b.Files(c.names[i - 1], payloads[i - 1], c.names[i], payloads[i]);
    } else if (i + 1 == c.names.size()) {
      b.Files(c.names[i], payloads[i]);
    }
  }
  b.WriteTo(s.backup);
  if (c.password) s.ui.passwordAnswers.push_back(*c.password);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  if (c.swappedAfterOpen) {
    BackupBuilder::Single(BackupKind::k3)
        .Entry(c.names[1], payloads[0])
        .Entry(c.names[0], payloads[1])
        .Entry(c.names[2], payloads[2])
        .WriteTo(s.backup);
  }
  const Bytes before = ReadFile(s.backup);
  EXPECT_EQ(s.ui.passwordPrompts, c.password ? 1 : 0);
  for (const std::string& name : c.existing) s.Put(name);
  s.ui.overwriteAnswers.assign(c.answers.begin(), c.answers.end());
  model.SetFilter(c.filter);
  const RunResult result = c.rows.empty() ? model.ExtractAll(s.folder) : model.ExtractRows(c.rows, s.folder);
  EXPECT_EQ(result, RunResult::kCompleted);

  Files expected;
  for (const std::string& name : c.existing) expected[name] = kOld;
  for (const std::size_t i : c.wanted) expected[c.names[i]] = payloads[i];
  EXPECT_EQ(s.Output(), expected);
  // Asked once, at Open; the backup only read.
  EXPECT_EQ(s.ui.passwordPrompts, c.password ? 1 : 0);
  EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{std::string(kCompletedText)});
  EXPECT_EQ(s.ui.overwriteAnswers.size(), 0u) << "an overwrite answer was left unasked";
  EXPECT_EQ(ReadFile(s.backup), before);
}

const ExtractCase kExtractCases[] = {
    {"two of five", {}, {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"}, "", {1, 3}, {1, 3}, {}, {}},
    {"rows of a filtered list",
     {},
     {"in-1.wav", "out-1.wav", "in-2.wav", "out-2.wav"},
     "OUT",
     {1},
     {3},
     {},
     {}},
    {"the first of two equal names only", {}, {"same.wav", "b.wav", "same.wav"}, "", {0}, {0}, {}, {}},
    {"the second of two equal names only", {}, {"same.wav", "b.wav", "same.wav"}, "same", {1}, {2}, {}, {}},
    {"extract all", {}, {"a.wav", "b.wav", "c.wav"}, "zzz", {}, {0, 1, 2}, {}, {}},
    {"protected: the password is not asked again",
     "2468",
     {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"},
     "",
     {0, 4},
     {0, 4},
     {},
     {}},
    {"an existing chosen file is asked about; an unchosen one is not",
     {},
     {"a.wav", "b.wav", "c.wav"},
     "",
     {0},
     {0},
     {"a.wav", "c.wav"},
     {OverwriteAnswer::kYes}},
    {"a backup changed since it was opened: nothing unchosen is taken",
     {},
     {"a.wav", "b.wav", "c.wav"},
     "",
     {1},
     {},
     {},
     {},
     true},
};

INSTANTIATE_TEST_SUITE_P(Model, ContentsExtract, ::testing::ValuesIn(kExtractCases), ByLabel());

// A backup damaged after it was opened: Extract Selected stops at the
// damage, and the salvage it offers saves nothing that was not chosen.
TEST(ContentsModel, TheSalvageAfterAStopKeepsToTheChosenMessages) {
  const BuiltBackup built(false, {300, 400, 500});
  Session s;
  WriteFile(s.backup, built.bytes);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  Bytes damaged = built.bytes;
  const auto field = static_cast<std::size_t>(built.SizeField('b'));
  std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(field), 4, std::uint8_t{0x7F});
  WriteFile(s.backup, damaged);
  s.ui.yesNoAnswers.push_back(true);
  model.ExtractRows({0}, s.folder);
  Files files = s.Output();
  EXPECT_EQ(files.erase("larkspool-salvage.txt"), 1u);
  EXPECT_EQ(files, (Files{{built['a'].name, built['a'].original}}));
}

TEST(ContentsModel, PasswordGate) {
  for (const std::optional<std::string>& answer :
       {std::optional<std::string>("1111"), std::optional<std::string>()}) {
    Session s;
    BackupBuilder::Paired("2468").Files("a.wav", WaveMessage(200, 1)).WriteTo(s.backup);
    s.ui.passwordAnswers.push_back(answer);
    ContentsModel model(NativeFileSystem(), s.ui);
    EXPECT_FALSE(model.Open(s.backup));
    EXPECT_EQ(s.ui.passwordPrompts, 1);
    // A wrong password: the catalogue's message; Cancel: nothing.
    EXPECT_EQ(s.ui.MessageTexts(),
              answer ? FaultText(StatusCode::kWrongPassword) : std::vector<std::string>{});
    EXPECT_EQ(model.size(), 0u);
  }
}

// Damaged backups open with what a salvage saves; Extract Selected saves
// the chosen rows as a salvage does, and its report names only those.
struct DamageCase {
  const char* label;
  bool zeroSecondHeader;  // else the file loses its last 200 bytes
  std::vector<std::string> names;
  std::vector<std::string> states;
  std::vector<std::size_t> rows;                    // chosen, after a sort by state, descending
  std::vector<std::pair<std::string, char>> saved;  // file, message it holds (whole, or its first 300 bytes)
  std::string summary;
};

class ContentsDamaged : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ContentsDamaged, OpensWithWhatSalvageSavesAndExtractsAsSalvage) {
  const DamageCase& c = GetParam();
  const BuiltBackup built(false, {300, 400, 500});
  Bytes bytes = built.bytes;
  if (c.zeroSecondHeader) {
    std::fill_n(bytes.begin() + built['b'].header, 80, 0);
  } else {
    bytes.resize(bytes.size() - 200);
  }
  const auto named = [&built](std::string name) {
    const std::string offset = std::to_string(built['b'].offset);
    if (const std::size_t at = name.find("OFFSET"); at != std::string::npos) name.replace(at, 6, offset);
    return name;
  };
  Session s;
  WriteFile(s.backup, bytes);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  EXPECT_TRUE(model.damaged());
  EXPECT_EQ(model.columnCount(), 6);
  std::vector<std::string> names;
  for (const std::string& name : c.names) names.push_back(named(name));
  EXPECT_EQ(Column(model, ContentsColumn::kName), names);
  EXPECT_EQ(Column(model, ContentsColumn::kState), c.states);
  EXPECT_EQ(model.damageText().substr(0, 15), "Damaged: bytes ") << model.damageText();

  model.SortBy(ContentsColumn::kState, false);
  ASSERT_EQ(model.ExtractRows(c.rows, s.folder), RunResult::kCompleted);
  Files files = s.Output();
  ASSERT_TRUE(files.contains("larkspool-salvage.txt"));
  const std::string report(files["larkspool-salvage.txt"].begin(), files["larkspool-salvage.txt"].end());
  files.erase("larkspool-salvage.txt");
  Files expected;
  for (const auto& [file, message] : c.saved) {
    const Bytes& original = built[message].original;
    expected[named(file)] = file.find("partial") != std::string::npos ? SavedPart(original, 300) : original;
  }
  EXPECT_EQ(files, expected);
  EXPECT_EQ(report.find("a.wav"), std::string::npos) << "an unchosen message is in the report:\n" << report;
  ASSERT_FALSE(s.ui.MessageTexts().empty());
  EXPECT_EQ(s.ui.MessageTexts().back().substr(0, c.summary.size()), c.summary);
}

const DamageCase kDamageCases[] = {
    {"the end cut",
     false,
     {"a.wav", "b.wav", "c.partial.wav"},
     {"complete", "complete", "partial"},
     {0, 2},
     {{"c.partial.wav", 'c'}, {"b.wav", 'b'}},
     "2 messages saved, 1 in part, 0 without their names"},
    {"a header zeroed",
     true,
     {"a.wav", "recovered-OFFSET.wav", "c.wav"},
     {"complete", "unnamed", "complete"},
     {0},
     {{"recovered-OFFSET.wav", 'b'}},
     "1 messages saved, 0 in part, 1 without their names"},
};

INSTANTIATE_TEST_SUITE_P(Model, ContentsDamaged, ::testing::ValuesIn(kDamageCases), ByLabel());

TEST(ContentsModel, VerifyEndsInOneMessage) {
  Session s;
  BackupBuilder::Single(BackupKind::k4)
      .Entry("a.wav", WaveMessage(300, 1))
      .Entry("b.wav", WaveMessage(90, 2))
      .WriteTo(s.backup);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  s.ui.events.clear();
  EXPECT_EQ(model.Verify(), RunResult::kCompleted);
  EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{"2 messages checked, no fault found."});
  EXPECT_EQ(s.ui.events.front(), "busy:1");
  EXPECT_NE(std::find(s.ui.events.begin(), s.ui.events.end(), "percent:100"), s.ui.events.end());
  // Cancel after the first message: no verdict on the second.
  s.ui.messages.clear();
  s.ui.cancelAtPump = s.ui.pumps + 1;
  EXPECT_EQ(model.Verify(), RunResult::kCancelled);
  EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{});
  s.ui.cancelAtPump = 0;
  // The backup changed under the window: the first fault's message.
  Bytes bytes = ReadFile(s.backup);
  bytes[24 + 80] = 'X';  // a.wav's RIFF tag
  WriteFile(s.backup, bytes);
  s.ui.messages.clear();
  s.ui.events.clear();
  EXPECT_EQ(model.Verify(), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(StatusCode::kWaveFormat));
}

// An output that plays nothing: it keeps what it is handed and reports the
// progress and the faults the test sets.
class RecordingOutput final : public desktop::AudioOutput {
 public:
  std::vector<std::string> calls;
  std::vector<std::int16_t> handed;  // the samples from the frame started at
  Fault refuse = Fault::kNone;       // Start fails with this
  Fault now = Fault::kNone;
  bool playing = false;
  std::uint64_t played = 0;

  bool Start(const PcmAudio& audio, std::uint64_t from) override {
    calls.push_back("start " + std::to_string(from));
    now = refuse;
    if (refuse != Fault::kNone) return false;
    handed.assign(audio.samples.begin() + static_cast<std::ptrdiff_t>(from * audio.format.channels),
                  audio.samples.end());
    playing = true;
    played = 0;
    return true;
  }
  void Stop() override {
    calls.push_back("stop");
    playing = false;
  }
  std::uint64_t FramesPlayed() const override { return played; }
  bool IsPlaying() const override { return playing && now == Fault::kNone; }
  Fault fault() const override { return now; }
};

std::vector<std::int16_t> Sine(std::size_t frames) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i)
    samples[i] = static_cast<std::int16_t>(
        std::lround(12000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / 8000.0)));
  return samples;
}

TEST(ContentsPlayer, PlaysSeeksEndsAndSurvivesFaults) {
  const std::vector<std::int16_t> tone = Sine(16000);  // 2 s at 8 kHz
  WaveShape g729;
  g729.formatTag = 0x0133;
  g729.byteRate = 1000;
  g729.blockAlign = 10;
  g729.bitsPerSample = 0;
  g729.dataBytes = 2000;
  Session s;
  BackupBuilder::Single(BackupKind::k3)
      .Entry("tone.wav", WavFile(tone))
      .Entry("g729.wav", WavWithFormat(g729))
      .Entry("short.wav", WavFile(Sine(800)))
      .WriteTo(s.backup);
  ContentsModel model(NativeFileSystem(), s.ui);
  ASSERT_TRUE(model.Open(s.backup));
  model.SortBy(ContentsColumn::kName, false);  // tone, short, g729
  RecordingOutput output;
  std::optional<desktop::Player> player(std::in_place, model, output, s.ui);
  EXPECT_EQ(player->PositionText(), "0:00 / 0:00");
#ifdef LARKSPOOL_HAVE_AUDIO
  ASSERT_TRUE(player->Play(0));
  EXPECT_EQ(output.handed, tone);
  EXPECT_EQ(player->loadedEntry(), 0u);
  output.played = 12345;
  EXPECT_EQ(player->PositionText(), "0:01 / 0:02");
  EXPECT_EQ(player->SliderValue(1000), 771);
  player->SeekFraction(0.25);
  EXPECT_EQ(output.handed, std::vector<std::int16_t>(tone.begin() + 4000, tone.end()));
  output.played = 12000;  // the end
  output.playing = false;
  player->Tick();
  EXPECT_FALSE(player->playing());
  EXPECT_EQ(player->PositionText(), "0:00 / 0:02");
  // Space on the same row plays the loaded message again; a seek while
  // stopped is where it starts.
  player->Seek(8000);
  ASSERT_TRUE(player->Toggle(0));
  EXPECT_EQ(output.calls.back(), "start 8000");
  // Another row stops the first before it starts.
  output.calls.clear();
  ASSERT_TRUE(player->Play(1));
  EXPECT_EQ(output.calls, (std::vector<std::string>{"stop", "start 0"}));
  EXPECT_EQ(output.handed, Sine(800));
  EXPECT_TRUE(s.ui.MessageTexts().empty());

  // A format the decoder does not take: its message, nothing plays.
  output.calls.clear();
  EXPECT_FALSE(player->Play(2));
  EXPECT_EQ(output.calls, std::vector<std::string>{"stop"});
  EXPECT_EQ(s.ui.MessageTexts(),
            std::vector<std::string>{"This message's audio format (G.729) cannot be played here."});
  EXPECT_FALSE(player->playing());

  // No device: the message; once there is one again, playing works.
  output.refuse = desktop::AudioOutput::Fault::kNoDevice;
  EXPECT_FALSE(player->Play(0));
  output.refuse = desktop::AudioOutput::Fault::kNone;
  ASSERT_TRUE(player->Play(0));
  // The device lost while playing: one message however many ticks follow.
  output.now = desktop::AudioOutput::Fault::kDeviceLost;
  player->Tick();
  player->Tick();
  EXPECT_FALSE(player->playing());
  EXPECT_EQ(s.ui.MessageTexts(),
            (std::vector<std::string>{"This message's audio format (G.729) cannot be played here.",
                                      std::string(desktop::kNoAudioDeviceText),
                                      std::string(desktop::kDeviceLostText)}));
  output.now = desktop::AudioOutput::Fault::kNone;
  ASSERT_TRUE(player->Toggle(std::nullopt));

  // A message the end of the backup cuts plays as far as it is saved.
  const BuiltBackup built(false, {300, 1044});
  Bytes cut = built.bytes;
  cut.resize(cut.size() - 400);
  WriteFile(s.backup, cut);
  ContentsModel damaged(NativeFileSystem(), s.ui);
  ASSERT_TRUE(damaged.Open(s.backup));
  desktop::Player partial(damaged, output, s.ui);
  ASSERT_TRUE(partial.Play(1)) << s.ui.MessageTexts().back();
  const Bytes& original = built['b'].original;
  std::vector<std::int16_t> saved;
  for (std::size_t at = 44; at + 1 < 1044 - 400; at += 2)
    saved.push_back(static_cast<std::int16_t>(original[at] | original[at + 1] << 8));
  EXPECT_EQ(output.handed, saved);
  partial.Stop();
  output.calls.clear();
  player.reset();  // closing the window stops playback
  EXPECT_EQ(output.calls, std::vector<std::string>{"stop"});
#else
  EXPECT_FALSE(player->Play(0));
  EXPECT_EQ(s.ui.MessageTexts(), std::vector<std::string>{std::string(desktop::kNoPlaybackText)});
#endif
}

}  // namespace
}  // namespace larkspool::testing
