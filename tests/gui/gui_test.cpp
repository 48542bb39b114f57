// The desktop tool driven as a user drives it: typing, clicking and answering
// the real windows, offscreen.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "builder/backup_builder.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/overwrite_dialog.h"
#include "gui/password_dialog.h"
#include "tests/gui/modal_script.h"
#include "tests/support/scratch_dir.h"

Q_DECLARE_METATYPE(larkspool::RunResult)

namespace larkspool::gui {
namespace {

using larkspool::gui::testing::ModalScript;
using larkspool::testing::BackupBuilder;
using larkspool::testing::Bytes;
using larkspool::testing::FilesIn;
using larkspool::testing::ScratchDir;
using larkspool::testing::WavPayload;
using larkspool::testing::WriteFile;
using Files = std::map<std::string, Bytes>;

const Bytes kA = WavPayload(100, 1);
const Bytes kB = WavPayload(20000, 2);  // two copy chunks
const Bytes kC = WavPayload(300, 3);
const Bytes kOld = {'o', 'l', 'd'};
const Files kAll = {{"a.wav", kA}, {"b.wav", kB}, {"c.wav", kC}};
const QString kCompleted = QStringLiteral("Extraction completed.");
// The dialog font: Tahoma from fonts-wine, which the build installs, at 9
// points (12 pixels at 96 dots per inch).
const QString kDialogFamily = QStringLiteral("Tahoma");
constexpr int kDialogPixels = 12;

void CheckDialogFont(const QWidget& window) {
  QCOMPARE(window.font().family(), kDialogFamily);
  QCOMPARE(window.font().pixelSize(), kDialogPixels);
}

BackupBuilder ThreeEntries() {
  return BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("b.wav", kB).Entry("c.wav", kC);
}

// The same three files behind the mailbox password 2468.
BackupBuilder Protected() {
  return BackupBuilder::Paired("2468").Files("a.wav", kA, "b.wav", kB).Files("c.wav", kC);
}

template <class T>
T* Child(const QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) qFatal("%s has no control named %s", parent.metaObject()->className(), name);
  return child;
}

void Click(const QWidget& parent, const char* button) {
  QTest::mouseClick(Child<QPushButton>(parent, button), Qt::LeftButton);
}

// Answers a prompt as the user would: a named button, a key, or the close box.
void Answer(QDialog& dialog, const QString& how) {
  if (how == QLatin1String("Esc") || how == QLatin1String("Enter")) {
    QWidget* target = dialog.focusWidget() != nullptr ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, how == QLatin1String("Esc") ? Qt::Key_Escape : Qt::Key_Return);
  } else if (how == QLatin1String("Alt+C")) {
    QWidget* target = dialog.focusWidget() != nullptr ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, Qt::Key_C, Qt::AltModifier);
  } else if (how == QLatin1String("close box")) {
    dialog.close();
  } else {
    Click(dialog, how.toLatin1().constData());
  }
}

// A message box step: the caption, the one OK button, the text and the icon,
// then OK.
std::function<void(QMessageBox&)> Says(const QString& text, QMessageBox::Icon icon) {
  return [text, icon](QMessageBox& box) {
    QCOMPARE(box.windowTitle(), QStringLiteral("Larkspool"));
    QCOMPARE(box.text(), text);
    QCOMPARE(box.icon(), icon);
    CheckDialogFont(box);
    QCOMPARE(box.buttons(), QList<QAbstractButton*>{box.button(QMessageBox::Ok)});
    QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
  };
}

// The main window over a scratch folder: the backup beside the extraction
// folder, so that the folder holds exactly what a run wrote.
struct Session {
  ScratchDir scratch;
  std::string backup = scratch / "box.bkp";
  std::string folder = scratch / "out";
  CMainDlg window;
  ModalScript script;

  explicit Session(QtUserInterface::ProgressWindowFactory factory = {}, Ticks ticks = SteadyMilliseconds)
      : window(std::move(factory), std::move(ticks)) {
    std::filesystem::create_directory(folder);
    window.show();
    window.ui().PrepareWindows();
  }

  void Type(const std::string& backupPath, const std::string& folderPath) {
    QTest::keyClicks(Child<QLineEdit>(window, "backupFile"), QString::fromStdString(backupPath));
    QTest::keyClicks(Child<QLineEdit>(window, "folder"), QString::fromStdString(folderPath));
  }
  // Writes the backup, types both paths and clicks Extract.
  void Extract(const BackupBuilder& builder) {
    builder.WriteTo(backup);
    Type(backup, folder);
    Click(window, "extract");
  }
  Files Output() const { return FilesIn(folder); }
  void Put(const std::string& name) const { WriteFile(folder + "/" + name, kOld); }
};

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { LoadDialogFont(); }

  // Tahoma's text height at 12 pixels is 12 + 2 (Windows ascent 2049 and
  // descent 423 of 2048 units), its letters average 7 pixels: base units 7 x
  // 14, so a template of W x H units is W * 7 / 4 x H * 14 / 8 pixels.
  void windowsHaveTheirTemplateSizeInTheDialogFont_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("labelHeight");
    QTest::newRow("main, 270 x 94") << "main" << QSize(473, 165) << "Backup File:" << 14;
    QTest::newRow("password, 139 x 63") << "password" << QSize(243, 110) << "Enter mailbox password:" << 14;
    QTest::newRow("progress, 259 x 87") << "progress" << QSize(453, 152) << "File Name:" << 18;
    QTest::newRow("overwrite, 170 x 59") << "overwrite" << QSize(298, 103) << "greeting.wav" << 14;
  }
  void windowsHaveTheirTemplateSizeInTheDialogFont() {
    QFETCH(QString, window);
    QFETCH(QSize, size);
    QFETCH(QString, label);
    QFETCH(int, labelHeight);
    std::unique_ptr<QDialog> dialog;
    if (window == QLatin1String("main")) dialog = std::make_unique<CMainDlg>();
    if (window == QLatin1String("password")) dialog = std::make_unique<CPasswordDlg>();
    if (window == QLatin1String("progress")) dialog = std::make_unique<CProgressDlg>();
    if (window == QLatin1String("overwrite")) dialog = std::make_unique<COverwriteDlg>(label);
    dialog->show();
    CheckDialogFont(*dialog);
    // A fixed frame: the close box, and Minimise on the main window alone.
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(flags.testFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(flags.testFlag(Qt::WindowMinimizeButtonHint), window == QLatin1String("main"));
    QCOMPARE(dialog->size(), size);
    QLabel* shown = nullptr;
    for (QLabel* candidate : dialog->findChildren<QLabel*>()) {
      if (candidate->text() == label) shown = candidate;
    }
    QVERIFY2(shown != nullptr, qPrintable(label));
    QCOMPARE(shown->height(), labelHeight);
  }

  void browseButtonsSayWhichFieldTheyFill_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::newRow("backup") << "browseFile"
                            << "Browse for the backup file";
    QTest::newRow("folder") << "browseFolder"
                            << "Browse for the extraction folder";
  }
  void browseButtonsSayWhichFieldTheyFill() {
    QFETCH(QString, button);
    QFETCH(QString, name);
    CMainDlg window;
    QAccessibleInterface* announced =
        QAccessible::queryAccessibleInterface(Child<QPushButton>(window, button.toLatin1().constData()));
    QVERIFY(announced != nullptr);
    QCOMPARE(announced->text(QAccessible::Name), name);
  }

  // The open-file dialog shows its two filters by their labels; "All Files"
  // lists every file, with a dot in its name or not.
  void openFileFilters_data() {
    QTest::addColumn<int>("filter");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("backup files") << 0 << QStringList{"box.bkp"};
    QTest::newRow("all files") << 1 << QStringList{"README", "box.bkp", "notes.txt"};
  }
  void openFileFilters() {
    QFETCH(int, filter);
    QFETCH(QStringList, listed);
    ScratchDir scratch;
    for (const char* name : {"README", "box.bkp", "notes.txt"}) WriteFile(scratch / name, kOld);
    const QString folder = QString::fromStdString(scratch.path());
    CMainDlg window;
    ModalScript script;
    script.When<QFileDialog>([&](QFileDialog& dialog) {
      auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      QVERIFY(types != nullptr);
      QCOMPARE(types->count(), 2);
      QCOMPARE(types->itemText(0), QStringLiteral("Voice Mail System Admin Backup Files(*.bkp)"));
      QCOMPARE(types->itemText(1), QStringLiteral("All Files(*.*)"));
      dialog.setDirectory(folder);
      dialog.selectNameFilter(dialog.nameFilters().at(filter));
      auto* model = dialog.findChild<QFileSystemModel*>();
      QVERIFY(model != nullptr);
      const auto shown = [&] {
        QStringList names;
        const QModelIndex root = model->index(folder);
        for (int row = 0; row < model->rowCount(root); ++row)
          names << model->index(row, 0, root).data().toString();
        names.sort();
        return names;
      };
      QTRY_COMPARE(shown(), listed);
      dialog.reject();
    });
    window.OnBrowseFile();
    QCOMPARE(script.problems(), QString());
  }

  // However short its text, a box leaves its caption room beside the window
  // icon and three title-bar buttons: in the window manager this was tried
  // under (Openbox, Clearlooks), "Larkspool" needs a frame at least 170 pixels wide.
  void messageBoxesFitTheirCaption_data() {
    QTest::addColumn<int>("code");
    QTest::newRow("System error(9)") << 9;
    QTest::newRow("The password is not correct.") << 7;
  }
  void messageBoxesFitTheirCaption() {
    QFETCH(int, code);
    QtUserInterface ui(nullptr);
    ModalScript script;
    script.When<QMessageBox>([](QMessageBox& box) {
      QVERIFY(box.width() >= 170);
      box.accept();
    });
    ui.ShowMessage(StatusMessage(static_cast<StatusCode>(code)));
    QCOMPARE(script.problems(), QString());
  }

  void startsWithEmptyFieldsAndFocusInBackupField() {
    CMainDlg window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* backup = Child<QLineEdit>(window, "backupFile");
    QCOMPARE(backup->text(), QString());
    QCOMPARE(Child<QLineEdit>(window, "folder")->text(), QString());
    QCOMPARE(QApplication::focusWidget(), backup);
  }

  void missingPathsWarn_data() {
    QTest::addColumn<bool>("backupTyped");
    QTest::addColumn<bool>("folderTyped");
    QTest::addColumn<QString>("text");
    QTest::newRow("both empty") << false << false << "Backup file and Extraction folder are not specified.";
    QTest::newRow("backup empty") << false << true << "Backup file is not specified.";
    QTest::newRow("folder empty") << true << false << "Extraction folder is not specified.";
  }
  void missingPathsWarn() {
    QFETCH(bool, backupTyped);
    QFETCH(bool, folderTyped);
    QFETCH(QString, text);
    Session s;
    ThreeEntries().WriteTo(s.backup);
    s.script.When<QMessageBox>(Says(text, QMessageBox::Warning));
    s.Type(backupTyped ? s.backup : "", folderTyped ? s.folder : "");
    Click(s.window, "extract");
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), RunResult::kFailed);
    QVERIFY(s.Output().empty());
  }

  void extractsOnClickOrEnter_data() {
    QTest::addColumn<QString>("trigger");
    QTest::newRow("click Extract") << "extract";
    QTest::newRow("Enter in the backup field") << "backupFile";
    QTest::newRow("Enter in the folder field") << "folder";
  }
  void extractsOnClickOrEnter() {
    QFETCH(QString, trigger);
    Session s;
    ThreeEntries().WriteTo(s.backup);
    s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    s.Type(s.backup, s.folder);
    if (trigger == QLatin1String("extract")) {
      Click(s.window, "extract");
    } else {
      QTest::keyClick(Child<QLineEdit>(s.window, trigger.toLatin1().constData()), Qt::Key_Return);
    }
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), RunResult::kCompleted);
    QVERIFY(s.Output() == kAll);
    QVERIFY(std::filesystem::equivalent(std::filesystem::current_path(), s.folder));
  }

  // Checked while the completion message is up: the progress window is still
  // open behind it, full, and owns it.
  void progressWindowShowsTheRunUntilTheCompletionMessage() {
    Session s;
    s.script.When<QMessageBox>([&s](QMessageBox& box) {
      CProgressDlg* progress = s.window.ui().progressWindow();
      QVERIFY(progress != nullptr && progress->isVisible());
      QCOMPARE(Child<QLabel>(*progress, "fileLine")->text(), QStringLiteral("Backup File: box.bkp"));
      QVERIFY(QRegularExpression(QStringLiteral(R"(^Date: \d\d/\d\d/\d{4} \d\d:\d\d$)"))
                  .match(Child<QLabel>(*progress, "dateLine")->text())
                  .hasMatch());
      QCOMPARE(Child<QLabel>(*progress, "percent")->text(), QStringLiteral("100%"));
      QCOMPARE(Child<QProgressBar>(*progress, "bar")->value(), 100);
      QCOMPARE(box.parentWidget(), progress);
      Says(kCompleted, QMessageBox::Information)(box);
    });
    s.Extract(ThreeEntries());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.ui().progressWindow(), nullptr);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void passwordPrompt_data() {
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<RunResult>("result");
    QTest::addColumn<bool>("written");
    // clang-format off
    QTest::newRow("right password") << "2468" << "ok" << kCompleted << QMessageBox::Information
                                    << RunResult::kCompleted << true;
    QTest::newRow("wrong password") << "1357" << "ok" << "The password is not correct." << QMessageBox::Critical
                                    << RunResult::kFailed << false;
    QTest::newRow("cancel") << "2468" << "cancel" << QString() << QMessageBox::NoIcon
                            << RunResult::kCancelled << false;
    // clang-format on
  }
  void passwordPrompt() {
    QFETCH(QString, digits);
    QFETCH(QString, button);
    QFETCH(QString, message);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(RunResult, result);
    QFETCH(bool, written);
    Session s;
    s.script.When<CPasswordDlg>([&](CPasswordDlg& prompt) {
      QCOMPARE(prompt.windowTitle(), QStringLiteral("password entry"));
      QCOMPARE(prompt.parentWidget(), &s.window);
      auto* edit = Child<QLineEdit>(prompt, "password");
      QCOMPARE(prompt.focusWidget(), edit);
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      QCOMPARE(edit->maxLength(), 16);
      QTest::keyClicks(edit, digits);
      Answer(prompt, button);
    });
    if (!message.isEmpty()) s.script.When<QMessageBox>(Says(message, icon));
    s.Extract(Protected());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), result);
    QVERIFY(s.Output() == (written ? kAll : Files{}));
  }

  // a.wav and b.wav are there already; c.wav is not.
  void overwritePrompt_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("overwritten");
    QTest::newRow("Yes to each") << QStringList{"yes", "yes"} << true;
    QTest::newRow("Enter means Yes") << QStringList{"Enter", "Enter"} << true;
    QTest::newRow("Yes to All asks once") << QStringList{"yesToAll"} << true;
    QTest::newRow("Cancel") << QStringList{"cancel"} << false;
    QTest::newRow("Esc") << QStringList{"Esc"} << false;
    QTest::newRow("close box") << QStringList{"close box"} << false;
  }
  void overwritePrompt() {
    QFETCH(QStringList, answers);
    QFETCH(bool, overwritten);
    Session s;
    s.Put("a.wav");
    s.Put("b.wav");
    const QStringList names = {"a.wav", "b.wav"};
    for (qsizetype i = 0; i < answers.size(); ++i) {
      s.script.When<COverwriteDlg>([&s, name = names[i], how = answers[i]](COverwriteDlg& prompt) {
        QCOMPARE(Child<QLabel>(prompt, "fileName")->text(), name);
        QVERIFY(prompt.parentWidget() != nullptr);
        QCOMPARE(prompt.parentWidget(), s.window.ui().progressWindow());
        Answer(prompt, how);
      });
    }
    if (overwritten) s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    s.Extract(ThreeEntries());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), overwritten ? RunResult::kCompleted : RunResult::kCancelled);
    QVERIFY(s.Output() == (overwritten ? kAll : Files{{"a.wav", kOld}, {"b.wav", kOld}}));
  }

  // The window is up before the walk writes anything. Cancel only
  // raises the flag: the window stays up until the walk stops after the entry
  // in hand (a Cancel made as the window came up counts), and the run ends
  // without a message. Enter does nothing: the run completes.
  void progressWindowInput_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("cancels");
    QTest::newRow("Cancel") << "cancel" << true;
    QTest::newRow("Esc") << "Esc" << true;
    QTest::newRow("Alt+C") << "Alt+C" << true;
    QTest::newRow("close box") << "close box" << true;
    QTest::newRow("Enter") << "Enter" << false;
  }
  void progressWindowInput() {
    QFETCH(QString, how);
    QFETCH(bool, cancels);
    Session s;
    s.script.When<CProgressDlg>([&s, &how](CProgressDlg& progress) {
      QVERIFY(s.Output().empty());
      QCOMPARE(Child<QLabel>(progress, "percent")->text(), QStringLiteral("0%"));
      Answer(progress, how);
      QVERIFY(progress.isVisible());
    });
    if (!cancels) s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    s.Extract(ThreeEntries());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), cancels ? RunResult::kCancelled : RunResult::kCompleted);
    QVERIFY(s.Output() == (cancels ? Files{{"a.wav", kA}} : kAll));
    QCOMPARE(s.window.ui().progressWindow(), nullptr);
  }

  // The wait cursor shows over the progress window (not over its Cancel)
  // while the run works, and never over a prompt: neither over the overwrite
  // prompt nor over the completion message, each a window of its own over the
  // progress window, which keeps the wait cursor below it.
  void busyCursorIsOverTheRunButNeverOverAPrompt() {
    Session s;
    s.Put("b.wav");
    const auto noWaitCursor = [&s](QWidget& prompt) {
      QCOMPARE(QApplication::overrideCursor(), nullptr);
      QCOMPARE(prompt.cursor().shape(), Qt::ArrowCursor);
      CProgressDlg* progress = s.window.ui().progressWindow();
      QVERIFY(progress != nullptr);
      QCOMPARE(prompt.parentWidget(), progress);
      QCOMPARE(progress->cursor().shape(), Qt::WaitCursor);
    };
    // Looked at whenever the run lets events through with no prompt up.
    int working = 0;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      CProgressDlg* progress = s.window.ui().progressWindow();
      if (progress == nullptr || QApplication::activeModalWidget() != progress) return;
      ++working;
      QCOMPARE(QApplication::overrideCursor(), nullptr);
      QCOMPARE(progress->cursor().shape(), Qt::WaitCursor);
      QCOMPARE(Child<QPushButton>(*progress, "cancel")->cursor().shape(), Qt::ArrowCursor);
    });
    sample.start(0);
    s.script.When<COverwriteDlg>([&](COverwriteDlg& prompt) {
      noWaitCursor(prompt);
      Answer(prompt, QStringLiteral("yes"));
    });
    s.script.When<QMessageBox>([&](QMessageBox& box) {
      noWaitCursor(box);
      Says(kCompleted, QMessageBox::Information)(box);
    });
    s.Extract(ThreeEntries());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), RunResult::kCompleted);
    QVERIFY(working > 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(s.window.cursor().shape(), Qt::ArrowCursor);
  }

  // The window answers while one large message is copied, not only between
  // messages: with a clock by which every turn is due, the run lets events
  // through while big.wav is half written.
  void progressWindowIsPumpedInsideAPayload() {
    std::int64_t now = 0;
    Session s({}, [&now] { return now += 1000; });
    const Bytes big = WavPayload(8 << 20, 4);
    std::vector<std::uintmax_t> seen;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      CProgressDlg* progress = s.window.ui().progressWindow();
      std::error_code error;
      const std::uintmax_t size = std::filesystem::file_size(s.folder + "/big.wav", error);
      if (progress != nullptr && QApplication::activeModalWidget() == progress && !error)
        seen.push_back(size);
    });
    sample.start(0);
    s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    s.Extract(BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kA).Entry("big.wav", big));
    QCOMPARE(s.script.problems(), QString());
    QVERIFY(s.Output() == (Files{{"a.wav", kA}, {"big.wav", big}}));
    QVERIFY2(std::any_of(seen.begin(), seen.end(),
                         [&](std::uintmax_t size) { return size > 0 && size < big.size(); }),
             "no event went through while big.wav was written");
  }

  // The progress window is kept between runs: each run brings it up at 0 %
  // with an empty bar, and a Cancel made in one run does not stop the next.
  void progressWindowStartsEachRunAfresh() {
    Session s;
    const auto rerun = [&s] {
      for (const auto& file : std::filesystem::directory_iterator(s.folder)) std::filesystem::remove(file);
      Click(s.window, "extract");
    };
    s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    s.Extract(ThreeEntries());
    s.script.When<CProgressDlg>([](CProgressDlg& progress) {
      QVERIFY(progress.isVisible());
      QCOMPARE(Child<QLabel>(progress, "percent")->text(), QStringLiteral("0%"));
      QCOMPARE(Child<QProgressBar>(progress, "bar")->value(), 0);
      Answer(progress, QStringLiteral("cancel"));
    });
    rerun();
    QCOMPARE(s.window.lastResult(), RunResult::kCancelled);
    s.script.When<QMessageBox>(Says(kCompleted, QMessageBox::Information));
    rerun();
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), RunResult::kCompleted);
    QVERIFY(s.Output() == kAll);
    QCOMPARE(s.window.ui().progressWindow(), nullptr);
  }

  // A run that stops at a damaged entry offers, after its message, to save
  // what can still be read: No leaves what the run wrote; Yes goes on with
  // the progress window, writes the report and sums it up.
  void salvageOffer_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
  }
  void salvageOffer() {
    QFETCH(bool, yes);
    Session s;
    s.script.When<QMessageBox>(Says(QStringLiteral("Wave file format error."), QMessageBox::Warning));
    s.script.When<QMessageBox>([yes](QMessageBox& box) {
      QCOMPARE(box.windowTitle(), QStringLiteral("Larkspool"));
      QCOMPARE(box.text(),
               QStringLiteral("The backup is damaged. Save the messages that can still be read?"));
      QCOMPARE(box.icon(), QMessageBox::Question);
      QCOMPARE(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
      QTest::mouseClick(box.button(yes ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
    });
    const QString summary = QStringLiteral(
                                "2 messages saved, 0 in part, 0 without their names; the damaged parts are "
                                "listed in %1/larkspool-salvage.txt")
                                .arg(QString::fromStdString(s.folder));
    if (yes) {
      s.script.When<CProgressDlg>([](CProgressDlg&) {});
      s.script.When<QMessageBox>(Says(summary, QMessageBox::Information));
    }
    s.Extract(BackupBuilder::Single(BackupKind::k3)
                  .Entry("a.wav", kA)
                  .Entry("b.wav", Bytes(300, 0x55))
                  .Entry("c.wav", kC));
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), yes ? RunResult::kCompleted : RunResult::kFailed);
    Files expected = {{"a.wav", kA}};
    if (yes) expected["c.wav"] = kC;
    Files written = s.Output();
    if (yes) {
      QVERIFY(written.erase("larkspool-salvage.txt") == 1);
    }
    QVERIFY(written == expected);
  }

  void progressWindowThatCannotOpenIsReportedPlainly() {
    Session s([] { return std::unique_ptr<CProgressDlg>(); });
    s.script.When<QMessageBox>(Says(QStringLiteral("CProgressDlg DoModal failed."), QMessageBox::NoIcon));
    s.Extract(ThreeEntries());
    QCOMPARE(s.script.problems(), QString());
    QCOMPARE(s.window.lastResult(), RunResult::kProgressWindowFailed);
    QVERIFY(s.Output().empty());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }
};

}  // namespace larkspool::gui

QTEST_MAIN(larkspool::gui::GuiTest)
#include "gui_test.moc"
