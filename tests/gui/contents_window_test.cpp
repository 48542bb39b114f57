// The contents window, offscreen: typing in the filter narrows the list, a
// header click sorts it, the status line counts the selection, Extract
// Selected writes exactly the chosen messages with the run's windows and no
// second password prompt, Space and Enter play, a damaged backup shows its
// rows and damage, a wrong password opens nothing, every control has a name
// and a place in the Tab order, and the main window's context menu and
// --contents lead here.
#include "gui/contents_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/opened_paths.h"
#include "gui/password_dialog.h"
#include "tests/gui/modal_script.h"
#include "tests/support/salvage_fixture.h"
#include "tests/support/session.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace larkspool::gui {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::BuiltBackup;
using larkspool::testing::Bytes;
using larkspool::testing::Files;
using larkspool::testing::FilesIn;
using larkspool::testing::ReadFile;
using larkspool::testing::ScratchDir;
using larkspool::testing::WaveMessage;
using larkspool::testing::WriteFile;
using testing::ModalScript;

// Keeps what it is handed; plays nothing.
class SilentOutput final : public desktop::AudioOutput {
 public:
  explicit SilentOutput(std::vector<std::string>& calls) : calls_(calls) {}
  bool Start(const PcmAudio& /*audio*/, std::uint64_t from) override {
    calls_.push_back("start " + std::to_string(from));
    playing_ = true;
    return true;
  }
  void Stop() override {
    if (playing_) calls_.push_back("stop");
    playing_ = false;
  }
  std::uint64_t FramesPlayed() const override { return 0; }
  bool IsPlaying() const override { return playing_; }
  Fault fault() const override { return Fault::kNone; }

 private:
  std::vector<std::string>& calls_;
  bool playing_ = false;
};

QStringList Names(const QTableView& table) {
  QStringList names;
  for (int row = 0; row < table.model()->rowCount(); ++row)
    names << table.model()->index(row, 0).data().toString();
  return names;
}

std::function<void(QMessageBox&)> Says(const QString& text) {
  return [text](QMessageBox& box) {
    EXPECT_EQ(box.text(), text);
    box.accept();
  };
}

struct Window {
  ScratchDir scratch;
  std::string backup = scratch / "box.bkp";
  std::string folder = scratch / "out";
  std::vector<std::string> played;
  ContentsWindow window{std::make_unique<SilentOutput>(played)};
  ModalScript script;

  Window() {
    std::filesystem::create_directory(folder);
    window.setFolderChooser([this](QWidget*) { return QString::fromStdString(folder); });
  }
  bool Open() { return window.Open(QString::fromStdString(backup)); }
};

TEST(ContentsWindow, FiltersSortsCountsExtractsChosenAndPlays) {
  Window w;
  // Kind 5: two messages a record, behind a password.
  std::vector<Bytes> payloads;
  for (std::uint8_t i = 0; i < 5; ++i) payloads.push_back(WaveMessage(2000 + 1000 * (4 - i), i));
  BackupBuilder::Paired("2468")
      .Files("Monday.wav", payloads[0], "monday-2.wav", payloads[1])
      .Files("tuesday.wav", payloads[2], "MONDAY-3.wav", payloads[3])
      .Files("friday.wav", payloads[4])
      .WriteTo(w.backup);
  const Bytes before = ReadFile(w.backup);
  w.script.When<CPasswordDlg>([](CPasswordDlg& prompt) {
    QTest::keyClicks(prompt.findChild<QLineEdit*>(QStringLiteral("password")), QStringLiteral("2468"));
    prompt.accept();
  });
  ASSERT_TRUE(w.Open());
  w.window.show();
  EXPECT_EQ(w.window.windowTitle(), QStringLiteral("box.bkp - Larkspool"));
  QTableView& table = *w.window.table();
  EXPECT_EQ(table.model()->columnCount(), 5);
  EXPECT_EQ(w.window.statusLabel()->text(), QStringLiteral("5 messages, 0:00:01 in all"));

  QTest::keyClicks(w.window.filterEdit(), QStringLiteral("monday"));
  EXPECT_EQ(Names(table), (QStringList{"Monday.wav", "monday-2.wav", "MONDAY-3.wav"}));
  // Sizes fall with the order of the messages: ascending by size reverses it.
  table.horizontalHeader()->setSortIndicator(2, Qt::AscendingOrder);
  EXPECT_EQ(Names(table), (QStringList{"MONDAY-3.wav", "monday-2.wav", "Monday.wav"}));
  table.selectionModel()->select(QItemSelection(table.model()->index(0, 0), table.model()->index(1, 4)),
                                 QItemSelectionModel::ClearAndSelect);
  table.selectionModel()->setCurrentIndex(table.model()->index(1, 0), QItemSelectionModel::NoUpdate);
  EXPECT_EQ(w.window.statusLabel()->text(),
            QStringLiteral("3 of 5 messages, 0:00:01 in all; 2 selected, 0:00"));
  // The selection is the messages: it stays with them through a sort.
  table.horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  EXPECT_EQ(Names(table), (QStringList{"monday-2.wav", "MONDAY-3.wav", "Monday.wav"}));
  EXPECT_EQ(w.window.SelectedRows(), (std::vector<std::size_t>{0, 1}));

  // The run's windows as in the main window's Extract; no password prompt.
  w.script.When<QMessageBox>(Says(QStringLiteral("Extraction completed.")));
  QTest::mouseClick(w.window.findChild<QPushButton*>(QStringLiteral("extractSelected")), Qt::LeftButton);
  EXPECT_EQ(w.script.problems(), QString());
  EXPECT_EQ(FilesIn(w.folder), (Files{{"monday-2.wav", payloads[1]}, {"MONDAY-3.wav", payloads[3]}}));
  EXPECT_EQ(ReadFile(w.backup), before);

  // Space plays the current row and stops it; Enter plays.
  table.setFocus();
  QTest::keyClick(&table, Qt::Key_Space);
  EXPECT_TRUE(w.window.player().playing());
  EXPECT_EQ(w.window.findChild<QPushButton*>(QStringLiteral("play"))->text(), QStringLiteral("&Stop"));
  QTest::keyClick(&table, Qt::Key_Space);
  EXPECT_FALSE(w.window.player().playing());
  QTest::keyClick(&table, Qt::Key_Return);
  EXPECT_TRUE(w.window.player().playing());
  EXPECT_EQ(w.played, (std::vector<std::string>{"start 0", "stop", "start 0"}));
  EXPECT_EQ(w.script.problems(), QString());
  // Closing the window stops playback.
  w.window.close();
  EXPECT_FALSE(w.window.player().playing());
  EXPECT_EQ(w.played.back(), "stop");
}

TEST(ContentsWindow, EveryControlHasANameAndATabStop) {
  Window w;
  BackupBuilder::Single(BackupKind::k3).Entry("a.wav", WaveMessage(500, 1)).WriteTo(w.backup);
  ASSERT_TRUE(w.Open());
  w.window.show();
  QStringList order;
  QWidget* start = w.window.filterEdit();
  QWidget* at = start;
  do {
    if (at->isVisible() && (at->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
      EXPECT_FALSE(at->accessibleName().isEmpty()) << at->objectName().toStdString();
      order << at->objectName();
    }
    at = at->nextInFocusChain();
  } while (at != start);
  EXPECT_EQ(order, (QStringList{"filter", "messages", "play", "position", "extractSelected", "extractAll",
                                "verify", "close"}));
  // The label's mnemonics lead to the filter and the slider.
  for (const char* label : {"&Filter:", "P&osition:"}) {
    bool found = false;
    for (QLabel* l : w.window.findChildren<QLabel*>())
      found = found || (l->text() == label && l->buddy() != nullptr);
    EXPECT_TRUE(found) << label;
  }
}

TEST(ContentsWindow, DamagedBackupShowsWhatSalvageSaves) {
  Window w;
  const BuiltBackup built(false, {300, 400, 500});
  Bytes cut = built.bytes;
  cut.resize(cut.size() - 200);
  WriteFile(w.backup, cut);
  ASSERT_TRUE(w.Open());
  w.window.show();
  QTableView& table = *w.window.table();
  EXPECT_EQ(Names(table), (QStringList{"a.wav", "b.wav", "c.partial.wav"}));
  ASSERT_EQ(table.model()->columnCount(), 6);
  EXPECT_EQ(table.model()->headerData(5, Qt::Horizontal).toString(), QStringLiteral("State"));
  EXPECT_EQ(table.model()->index(2, 5).data().toString(), QStringLiteral("partial"));
  auto* damage = w.window.findChild<QLabel*>(QStringLiteral("damage"));
  EXPECT_TRUE(damage->isVisible());
  EXPECT_TRUE(damage->text().startsWith(QStringLiteral("Damaged: bytes "))) << damage->text().toStdString();
  EXPECT_EQ(w.script.problems(), QString());
}

TEST(ContentsWindow, WrongPasswordOpensNothing) {
  Window w;
  BackupBuilder::Paired("2468").Files("a.wav", WaveMessage(500, 1)).WriteTo(w.backup);
  w.script
      .When<CPasswordDlg>([](CPasswordDlg& prompt) {
        QTest::keyClicks(prompt.findChild<QLineEdit*>(QStringLiteral("password")), QStringLiteral("1111"));
        prompt.accept();
      })
      .When<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        box.accept();
      });
  EXPECT_FALSE(w.Open());
  EXPECT_EQ(w.script.problems(), QString());
  EXPECT_EQ(w.window.table()->model()->rowCount(), 0);
}

TEST(ContentsWindow, ReachedFromTheMainWindowAndTheCommandLine) {
  const StartRequest start =
      ParseStart({QStringLiteral("larkspool"), QStringLiteral("--contents"), QStringLiteral("/x/box.bkp")});
  EXPECT_TRUE(start.contents);
  EXPECT_EQ(start.path, QStringLiteral("/x/box.bkp"));
  EXPECT_FALSE(ParseStart({QStringLiteral("larkspool"), QStringLiteral("/x/box.bkp")}).contents);

  ScratchDir scratch;
  const std::string backup = scratch / "box.bkp";
  BackupBuilder::Single(BackupKind::k3).Entry("a.wav", WaveMessage(500, 1)).WriteTo(backup);
  CMainDlg main;
  main.show();
  QTest::keyClicks(main.findChild<QLineEdit*>(QStringLiteral("backupFile")), QString::fromStdString(backup));
  // The context menu offers Contents...; choosing it opens the window of the
  // backup in the field.
  QString offered;
  QTimer::singleShot(50, [&offered] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* action : menu->actions()) offered += action->text();
      menu->close();
    }
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), main.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&main, &event);
  EXPECT_EQ(offered, QStringLiteral("&Contents..."));
  ContentsWindow* contents = main.OnContents();
  ASSERT_NE(contents, nullptr);
  EXPECT_TRUE(contents->isVisible());
  EXPECT_EQ(contents->windowTitle(), QStringLiteral("box.bkp - Larkspool"));
  EXPECT_EQ(Names(*contents->table()), QStringList{"a.wav"});
  contents->close();
}

}  // namespace
}  // namespace larkspool::gui
