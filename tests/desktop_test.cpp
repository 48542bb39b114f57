// The part the desktop tools share: the Extract press with a fault that
// escapes as an exception, the message boxes' text, where a prompt goes on a
// screen of several monitors, and the paths the command line and drops hand
// in, and the offer to save what a damaged backup still holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "desktop/front_end.h"
#include "desktop/main_window_model.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

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
