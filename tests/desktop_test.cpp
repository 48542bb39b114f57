// The part the desktop tools share: the run as both draw it (owners of the
// prompts, the wait cursor, the keys, the lines painted, the pumps by time),
// the Extract press with a fault that escapes as an exception, the message
// boxes' text, where a prompt goes on a screen of several monitors, and the
// paths the command line and drops hand in, and the offer to save what a
// damaged backup still holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/payload.h"
#include "builder/backup_builder.h"
#include "desktop/desktop_ui.h"
#include "desktop/front_end.h"
#include "desktop/main_window_model.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

// A toolkit that draws nothing and writes down what the run asks of it.
// Keys queued are dispatched at the next pump.
class ScriptedWindows final : public desktop::DesktopUi {
 public:
  using DesktopUi::DesktopUi;

  std::vector<std::string> events;
  std::deque<desktop::Key> keys;
  // Runs as the progress window comes up, before the walk.
  std::function<void()> comingUp;
  std::function<void()> onPump;

 private:
  static std::string Over(Owner owner) {
    return owner == Owner::kProgressWindow ? " over the progress window" : " over the main window";
  }
  void OpenMessageBox(Owner owner, const Message& message) override {
    events.push_back("message " + message.text + Over(owner));
  }
  bool OpenQuestion(Owner owner, const std::string& /*question*/) override {
    events.push_back("question" + Over(owner));
    return true;
  }
  long long OpenOverwritePrompt(Owner owner, const std::string& name) override {
    events.push_back("overwrite " + name + Over(owner));
    return desktop::kOverwriteYes;
  }
  std::optional<std::string> OpenPasswordPrompt(Owner owner) override {
    events.push_back("password" + Over(owner));
    return "2468";
  }
  void SetWaitCursor(bool shown) override { events.emplace_back(shown ? "wait cursor" : "arrow"); }
  bool ShowProgressWindow(const ProgressLines& /*lines*/, const std::function<void()>& whileUp) override {
    events.emplace_back("window up");
    if (comingUp) comingUp();
    whileUp();
    events.emplace_back("window gone");
    return true;
  }
  void PaintProgress(const desktop::ProgressChange& change) override {
    if (change.bar) events.push_back("bar " + std::to_string(*change.bar));
    if (change.percent) events.push_back("text " + *change.percent);
    if (change.elapsed) events.push_back("text " + *change.elapsed);
  }
  void DispatchWaiting() override {
    events.emplace_back("pump");
    if (onPump) onPump();
    for (; !keys.empty(); keys.pop_front()) {
      if (!OnProgressKey(keys.front())) events.emplace_back("key left to the toolkit");
    }
  }
};

const ProgressLines kLines{"Backup File: box.bkp", "Date: 03/05/2006 09:07", "0%", "Elapsed Time: 00:00:00"};

// The run as both desktop tools show it, with the progress window up
// between "window up" and "window gone" and the run busy throughout.
TEST(DesktopRun, OwnersCursorKeysAndPaintsAreTheSameForEveryToolkit) {
  using Name = desktop::Key::Name;
  struct Case {
    const char* label;
    std::function<void(desktop::DesktopUi&, CancelFlag&)> walk;
    std::vector<std::string> during;  // the events between "window up" and "window gone"
    bool cancelled = false;
    std::vector<desktop::Key> keys = {};
    bool cancelWhileComingUp = false;
  };
  const auto pump = [](desktop::DesktopUi& ui, CancelFlag&) { ui.PumpMessages(); };
  const Case cases[] = {
      {"each prompt goes over the progress window, the wait cursor staying over the run",
       [](desktop::DesktopUi& ui, CancelFlag&) {
         EXPECT_EQ(ui.AskOverwrite("a.wav"), OverwriteAnswer::kYes);
         EXPECT_EQ(ui.AskPassword(), "2468");
         EXPECT_TRUE(ui.AskYesNo("Go on?"));
         ui.ShowMessage(Message{"Extraction completed.", MessageStyle::kInformation, {}});
       },
       {"overwrite a.wav over the progress window", "password over the progress window",
        "question over the progress window", "message Extraction completed. over the progress window"}},
      {"Esc cancels", pump, {"pump"}, true, {{Name::kEscape}}},
      {"Alt+C cancels", pump, {"pump"}, true, {{Name::kOther, 'c', true}}},
      {"Enter does nothing, not even what the toolkit would do", pump, {"pump"}, false, {{Name::kEnter}}},
      {"Alt+Enter does nothing either", pump, {"pump"}, false, {{Name::kEnter, 0, true}}},
      {"C alone and Alt+X are the toolkit's",
       pump,
       {"pump", "key left to the toolkit", "key left to the toolkit"},
       false,
       {{Name::kOther, 'c', false}, {Name::kOther, 'x', true}}},
      {"a Cancel made as the window comes up survives the run clearing its flag",
       [](desktop::DesktopUi& ui, CancelFlag& cancel) {
         cancel.Clear();
         ui.PumpMessages();
       },
       {"pump"},
       true,
       {},
       true},
      {"a line is painted only when its text changes",
       [](desktop::DesktopUi& ui, CancelFlag&) {
         ui.ResetProgressBar();  // as the window came up
         ui.ShowPercent(0, "0%");
         ui.ShowElapsed("Elapsed Time: 00:00:00");
         ui.ShowPercent(1, "1%");
         ui.ShowPercent(1, "1%");
         ui.ShowElapsed("Elapsed Time: 00:00:01");
         ui.ShowElapsed("Elapsed Time: 00:00:01");
         ui.ResetProgressBar();  // the text stays
         ui.ShowPercent(100, "100%");
       },
       {"bar 1", "text 1%", "text Elapsed Time: 00:00:01", "bar 0", "bar 100", "text 100%"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedWindows ui([] { return std::int64_t{0}; });
    CancelFlag cancel;
    if (c.cancelWhileComingUp) ui.comingUp = [&ui] { ui.OnCancel(); };
    ui.keys.assign(c.keys.begin(), c.keys.end());
    // As the Extract sequence goes: the password before the run, the run
    // busy, a message after it.
    EXPECT_EQ(ui.AskPassword(), "2468");
    ui.SetBusy(true);
    EXPECT_TRUE(ui.RunWithProgress(kLines, cancel, [&] { c.walk(ui, cancel); }));
    ui.SetBusy(false);
    ui.ShowMessage(Message{"CProgressDlg DoModal failed.", MessageStyle::kPlain, {}});

    std::vector<std::string> expected = {"password over the main window", "wait cursor", "window up"};
    expected.insert(expected.end(), c.during.begin(), c.during.end());
    expected.insert(expected.end(),
                    {"window gone", "arrow", "message CProgressDlg DoModal failed. over the main window"});
    EXPECT_EQ(ui.events, expected);
    EXPECT_EQ(cancel.IsRaised(), c.cancelled);
  }
}

// Moves bytes as the system does, and the clock on by `msPerChunk` for every
// 16384 of them: storage of that pace.
class PacedFiles final : public ForwardingFileSystem {
 public:
  PacedFiles(std::int64_t& now, std::int64_t msPerChunk)
      : ForwardingFileSystem(NativeFileSystem()), now_(now), msPerChunk_(msPerChunk) {}
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    return Took(ForwardingFileSystem::Read(file, buffer, size));
  }
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    return Took(ForwardingFileSystem::CopyRange(from, to, size));
  }
  int moves = 0;  // the reads and copies that moved bytes

 private:
  std::int64_t Took(std::int64_t moved) {
    if (moved <= 0) return moved;
    ++moves;
    now_ += moved * msPerChunk_ / static_cast<std::int64_t>(kCopyChunkSize);
    return moved;
  }
  std::int64_t& now_;
  std::int64_t msPerChunk_;
};

// One payload of 9 MiB in a backup so large that its percentage never moves:
// the window's queue is drained every 100 ms of the copy, however slow the
// storage, and never when the copy takes no time.
TEST(DesktopRun, PumpsEveryHundredMillisecondsInsideOnePayload) {
  struct Case {
    const char* label;
    std::int64_t msPerChunk;
  };
  const Case cases[] = {{"0.5 MB/s", 30}, {"2 MB/s", 8}, {"16 MB/s", 1}, {"no time at all", 0}};
  ScratchDir scratch;
  const Bytes payload = WavPayload(9 * 1048576 + 1000, 7);
  WriteFile(scratch / "payload", payload);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::int64_t now = 1000;
    const auto ticks = [&now] { return now; };
    ScriptedWindows ui(ticks);
    std::vector<std::int64_t> pumps;
    ui.onPump = [&] { pumps.push_back(now); };
    ProgressReporter progress(
        ui, [] { return std::int64_t{0}; }, ticks);
    PacedFiles fs(now, c.msPerChunk);
    CopyBuffer buffer;
    std::filesystem::remove(scratch / "out");
    ScopedFile in(fs, fs.OpenRead((scratch / "payload").c_str()));
    ScopedFile out(fs, fs.CreateExclusive((scratch / "out").c_str()));
    CancelFlag cancel;
    std::int64_t started = 0;
    Outcome copied = Outcome::Ok();
    ui.RunWithProgress(kLines, cancel, [&] {
      progress.MarkStart();
      progress.SetTotal(std::int64_t{1} << 40);
      progress.ResetProgress();
      started = now;
      copied = CopyPayload(fs, in.get(), out.get(),
                           PayloadSpan{0, static_cast<std::uint32_t>(payload.size())}, progress, buffer);
    });
    const std::int64_t ended = now;
    out.Reset();
    ASSERT_TRUE(copied.ok());
    EXPECT_EQ(ReadFile(scratch / "out"), payload);
    // The percentage never changed: nothing was painted.
    EXPECT_EQ(std::count_if(
                  ui.events.begin(), ui.events.end(),
                  [](const std::string& e) { return e.rfind("bar ", 0) == 0 || e.rfind("text ", 0) == 0; }),
              0);
    // Between the start, each pump and the end: at least 100 ms (no pump
    // before it is due) and at most 100 ms and the piece that was going on,
    // a chunk or what the storage moves in about 20 ms.
    const std::int64_t late = std::max(c.msPerChunk, ProgressReporter::kPieceMilliseconds);
    std::vector<std::int64_t> marks = {started};
    marks.insert(marks.end(), pumps.begin(), pumps.end());
    for (std::size_t i = 1; i < marks.size(); ++i) {
      const std::int64_t gap = marks[i] - marks[i - 1];
      EXPECT_GE(gap, desktop::DesktopUi::kPumpMilliseconds) << "pump " << i;
      EXPECT_LE(gap, desktop::DesktopUi::kPumpMilliseconds + late) << "pump " << i;
    }
    EXPECT_LE(ended - marks.back(), desktop::DesktopUi::kPumpMilliseconds + late);
    if (c.msPerChunk == 0) {
      EXPECT_TRUE(pumps.empty());
      // Quick storage is handed pieces as large as without pacing (at most
      // 256 KiB where the system does not copy, whole spans where it does):
      // one a 256 KiB stretch of the payload, one more where each of the
      // three spans ends, the first chunk and the run's first piece.
      EXPECT_LE(fs.moves, static_cast<int>(payload.size() / kCopyBufferSize) + 1 + 3 + 2);
    }
  }
}

// Any report of progress that changes nothing on screen lets the window
// answer as well: a copy that counts its chunks itself is pumped by time too.
TEST(DesktopRun, PumpsByTimeWhateverReportsProgress) {
  std::int64_t now = 0;
  const auto ticks = [&now] { return now; };
  ScratchDir scratch;
  ScriptedWindows ui(ticks);
  std::vector<std::int64_t> pumps;
  ui.onPump = [&] { pumps.push_back(now); };
  ProgressReporter progress(
      ui, [] { return std::int64_t{0}; }, ticks);
  CancelFlag cancel;
  ui.RunWithProgress(kLines, cancel, [&] {
    progress.MarkStart();
    progress.SetTotal(std::int64_t{1} << 40);
    for (int chunk = 0; chunk < 40; ++chunk) {
      now += 30;
      progress.AddDone(kCopyChunkSize);
      progress.UpdatePercent();
      progress.UpdateElapsed();
    }
  });
  EXPECT_EQ(pumps, (std::vector<std::int64_t>{120, 240, 360, 480, 600, 720, 840, 960, 1080, 1200}));
}

// Runs out of memory while it draws the percentage of the `failAt`-th
// message's payload.
class OutOfMemoryUi : public FakeUi {
 public:
  explicit OutOfMemoryUi(int failAt) : failAt_(failAt) {}
  void ShowPercent(int percent, const std::string& text) override {
    FakeUi::ShowPercent(percent, text);
    if (++shown_ == failAt_) throw std::bad_alloc();
  }

 private:
  int failAt_;
  int shown_ = 0;
};

TEST(DesktopExtract, AnExceptionShowsItsStatusAndKeepsWhatWasWritten) {
  ScratchDir scratch;
  std::filesystem::create_directory(scratch / "out");
  // Two chunks a message, so a fault in the second chunk of the second
  // message leaves a partial file behind unless it is removed.
  BackupBuilder::Single(BackupKind::k3)
      .Entry("one.wav", WavPayload(20000, 1))
      .Entry("two.wav", WavPayload(20000, 2))
      .WriteTo(scratch / "box.bkp");
  OutOfMemoryUi ui(/*failAt=*/4);  // one.wav: 2 chunks and its entry; two.wav: its first chunk
  desktop::MainWindowModel model(NativeFileSystem(), ui);
  model.OnEditChange(scratch / "box.bkp", scratch / "out");

  EXPECT_EQ(model.OnExtract(), RunResult::kFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "System error(12)");
  EXPECT_EQ(desktop::BoxText(ui.messages[0]), "System error(12)\nout of memory");
  EXPECT_TRUE(std::filesystem::exists(scratch / "out/one.wav"));
  EXPECT_FALSE(std::filesystem::exists(scratch / "out/two.wav"));
  EXPECT_EQ(ui.events.back(), "message:System error(12)");
  // The progress display closed and the busy cursor went with the fault.
  EXPECT_NE(std::find(ui.events.begin(), ui.events.end(), "close"), ui.events.end());
}

// After an Extract that stopped at a damaged entry: No leaves what the run
// left; Yes goes on from the damage without asking about what the run wrote
// (an unscripted overwrite prompt fails), writes the report and shows the
// summary. Another fault asks nothing (an unscripted question fails).
TEST(DesktopSalvageOffer, NoChangesNothingAndYesSavesWhatCanBeRead) {
  namespace fs = std::filesystem;
  struct Case {
    const char* label;
    const char* fault;        // the Extract's message
    std::deque<bool> answer;  // to the offer; empty when none may come
    std::vector<std::string> files;
    const char* summary;  // the last message, or null when the Extract's stays last
  };
  const Bytes untagged(300, 0x55);
  const Bytes a = WavPayload(900, 1), c = WavPayload(700, 3);
  const Case cases[] = {
      {"no", "Wave file format error.", {false}, {"a.wav"}, nullptr},
      {"yes",
       "Wave file format error.",
       {true},
       {"a.wav", "c.wav", "larkspool-salvage.txt"},
       "2 messages saved, 0 in part, 0 without their names; the damaged parts are listed in "},
      {"cut, yes",
       "System error(10)",
       {true},
       {"a.wav", "b.partial.wav", "larkspool-salvage.txt"},
       "2 messages saved, 1 in part, 0 without their names; the damaged parts are listed in "},
      {"not a backup", "This file is not a voice backup data.", {}, {}, nullptr},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.label);
    ScratchDir scratch;
    fs::create_directory(scratch / "out");
    const std::string label = t.label;
    Bytes backup = label == "not a backup"
                       ? Bytes(200, 0)
                       : BackupBuilder::Single(BackupKind::k3)
                             .Entry("a.wav", a)
                             .Entry("b.wav", label == "cut, yes" ? WavPayload(500, 2) : untagged)
                             .Entry("c.wav", c)
                             .bytes();
    if (label == "cut, yes") backup.resize(backup.size() - 80 - c.size() - 100);
    WriteFile(scratch / "box.bkp", backup);
    FakeUi ui;
    ui.yesNoAnswers = t.answer;
    desktop::MainWindowModel model(NativeFileSystem(), ui);
    model.OnEditChange(scratch / "box.bkp", scratch / "out");
    model.OnExtract();

    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(scratch / "out"))
      written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, t.files);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.front().text, t.fault);
    EXPECT_TRUE(ui.yesNoAnswers.empty()) << "the offer was not made";
    if (t.summary == nullptr) {
      EXPECT_EQ(ui.messages.size(), 1u);
      continue;
    }
    // The folder as typed, with the separator it uses: the system's here.
    EXPECT_EQ(ui.messages.back().text, t.summary + (scratch / "out") +
                                           static_cast<char>(fs::path::preferred_separator) +
                                           "larkspool-salvage.txt");
    EXPECT_EQ(ReadFile(scratch / "out/a.wav"), a);
    if (label == "yes") {
      EXPECT_EQ(ReadFile(scratch / "out/c.wav"), c);
    }
  }
}

TEST(DesktopMessageBox, TheReasonOfASystemErrorGoesOnASecondLine) {
  struct Case {
    Message message;
    const char* shown;
  };
  const Case cases[] = {
      {StatusMessage(StatusCode::kOpenFailed, "a.wav: the file has another name (a hard link)"),
       "System error(9)\na.wav: the file has another name (a hard link)"},
      {StatusMessage(StatusCode::kReadFailed), "System error(10)"},
      {StatusMessage(StatusCode::kBackupNotFound, "box.bkp: No such file"),
       "The specified file is not found."},
      {Message{"Extraction completed.", MessageStyle::kInformation, "x"}, "Extraction completed."},
  };
  for (const Case& c : cases) EXPECT_EQ(desktop::BoxText(c.message), c.shown) << c.shown;
}

TEST(DesktopPlacement, APromptStaysOnItsOwnersMonitor) {
  using desktop::Rect;
  struct Case {
    const char* label;
    Rect owner;
    Rect work;
    long x, y;
  };
  // Prompts of 300 x 100.
  const Case cases[] = {
      {"centred over the owner", {100, 100, 600, 400}, {0, 0, 1920, 1040}, 200, 200},
      {"a monitor left of the primary one", {-1500, 200, -1000, 500}, {-1920, 0, 0, 1040}, -1400, 300},
      {"a monitor above the primary one", {100, -900, 600, -600}, {0, -1080, 1920, -40}, 200, -800},
      {"an owner half off its monitor's left edge",
       {-2100, 200, -1800, 500},
       {-1920, 0, 0, 1040},
       -1920,
       300},
      {"an owner past the bottom right", {1800, 1000, 2100, 1200}, {0, 0, 1920, 1040}, 1620, 940},
  };
  for (const Case& c : cases) {
    const desktop::Point origin = desktop::CentredOrigin(c.owner, 300, 100, c.work);
    EXPECT_EQ(origin.x, c.x) << c.label;
    EXPECT_EQ(origin.y, c.y) << c.label;
  }
}

TEST(DesktopPaths, AFolderFillsTheFolderFieldAndAnythingElseTheBackupField) {
  ScratchDir scratch;
  std::filesystem::create_directory(scratch / "out");
  FakeUi ui;
  desktop::MainWindowModel model(NativeFileSystem(), ui);
  model.TakePath(scratch / "out");
  EXPECT_EQ(model.folder(), scratch / "out");
  EXPECT_EQ(model.backupFile(), "");
  model.TakePath(scratch / "missing.bkp");
  EXPECT_EQ(model.backupFile(), scratch / "missing.bkp");
  EXPECT_EQ(model.folder(), scratch / "out");

  EXPECT_EQ(desktop::StartPath({}), "");
  EXPECT_EQ(desktop::StartPath({""}), "");
  const std::filesystem::path here = std::filesystem::current_path();
  EXPECT_EQ(std::filesystem::path(desktop::StartPath({"box.bkp"})), here / "box.bkp");
}

TEST(DesktopPrompts, TheOverwriteAnswersAndThePasswordTakenAtOk) {
  EXPECT_EQ(desktop::OverwriteAnswerOf(1), OverwriteAnswer::kYes);
  EXPECT_EQ(desktop::OverwriteAnswerOf(3), OverwriteAnswer::kYesToAll);
  for (const long long other : {2LL, -1LL, 0LL, 4LL}) {
    EXPECT_EQ(desktop::OverwriteAnswerOf(other), OverwriteAnswer::kCancel) << other;
  }
  // OK takes the length the text had as last followed; the text read back
  // at OK is cut to it.
  desktop::PasswordEntry entry;
  entry.OnEditChange("2468");
  entry.OnOK("24689");
  EXPECT_EQ(entry.Password(), "2468");
}

}  // namespace
}  // namespace larkspool::testing
