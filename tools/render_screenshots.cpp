// larkspool-render-screenshots FOLDER: renders every window of the desktop
// tool into PNG files in FOLDER, offscreen unless a platform is chosen. The
// windows are the program's own, shown the way a run shows them; the progress
// window is grabbed in the middle of a real extraction.
#include <utime.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>

#include "app/extract_request.h"
#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/qt_user_interface.h"
#include "platform/file_system.h"

namespace larkspool::gui {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::WavPayload;

class Renderer {
 public:
  explicit Renderer(const QString& folder) : folder_(folder) {}

  bool ok() const { return ok_; }

  void Save(QWidget& window, const char* name) {
    const QString path = folder_.filePath(QString::fromLatin1(name));
    if (window.grab().save(path)) return;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    ok_ = false;
  }

  // Grabs the modal window that `show` runs, once its own event loop has
  // started, and then dismisses it.
  void SaveModal(const char* name, const std::function<void()>& show,
                 const std::function<void(QWidget&)>& prepare = {}) {
    QTimer::singleShot(0, [this, name, prepare] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) {
        std::fprintf(stderr, "no window came up for %s\n", name);
        std::exit(1);
      }
      if (prepare) prepare(*modal);
      Save(*modal, name);
      qobject_cast<QDialog*>(modal)->reject();
    });
    show();
  }

  void MainWindow() {
    CMainDlg window;
    auto* backup = window.findChild<QLineEdit*>(QStringLiteral("backupFile"));
    backup->setText(QStringLiteral("/home/operator/backups/box01.bkp"));
    window.findChild<QLineEdit*>(QStringLiteral("folder"))
        ->setText(QStringLiteral("/home/operator/messages"));
    window.show();
    QApplication::processEvents();
    // As after typing: the focus field holds no selection.
    backup->deselect();
    Save(window, "main-window.png");
  }

  void Prompts() {
    QtUserInterface ui(nullptr);
    SaveModal(
        "password.png", [&ui] { ui.AskPassword(); },
        [](QWidget& prompt) {
          prompt.findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("2468"));
        });
    SaveModal("overwrite.png", [&ui] { ui.AskOverwrite("message-001.wav"); });
    SaveModal("message-warning.png", [&ui] { ui.ShowMessage(StatusMessage(StatusCode::kBackupNotFound)); });
    SaveModal("message-stop.png", [&ui] { ui.ShowMessage(StatusMessage(StatusCode::kWrongPassword)); });
    SaveModal("message-information.png", [&ui] {
      ui.ShowMessage(Message{std::string(kCompletedText), MessageStyle::kInformation, {}});
    });
    SaveModal("message-plain.png", [&ui] {
      ui.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
    });
    SaveModal("salvage-offer.png", [&ui] { ui.AskYesNo(std::string(kSalvageOfferText)); });
    SaveModal("salvage-summary.png", [&ui] {
      ui.ShowMessage(
          Message{"2 messages saved, 1 in part, 0 without their names; the damaged parts are listed in "
                  "/home/ann/voice/larkspool-salvage.txt",
                  MessageStyle::kInformation,
                  {}});
    });
  }

  // Extracts a three-message backup and grabs the progress window at the
  // walk's first pump, after the first message, then cancels the run.
  void Progress() {
    QTemporaryDir scratch;
    const std::string backup = QDir(scratch.path()).filePath(QStringLiteral("box01.bkp")).toStdString();
    BackupBuilder::Single(BackupKind::k3)
        .Entry("greeting.wav", WavPayload(42200, 1))
        .Entry("message-001.wav", WavPayload(30000, 2))
        .Entry("message-002.wav", WavPayload(27800, 3))
        .WriteTo(backup);
    SetModificationTime(backup);
    QtUserInterface ui(nullptr, [this] {
      auto window = std::make_unique<CProgressDlg>();
      CProgressDlg* shown = window.get();
      // Timers run while the window comes up and at each pump of the walk:
      // the first turn with the bar moved is the pump after the first message.
      auto* poll = new QTimer(shown);
      QObject::connect(poll, &QTimer::timeout, shown, [this, shown, poll] {
        if (shown->findChild<QProgressBar*>(QStringLiteral("bar"))->value() == 0) return;
        poll->stop();
        Save(*shown, "progress.png");
        shown->reject();
      });
      poll->start(0);
      return window;
    });
    Extractor extractor(NativeFileSystem(), ui);
    if (extractor.OnExtract(backup, scratch.path().toStdString()) != RunResult::kCancelled) {
      std::fprintf(stderr, "the extraction ended before the progress window was grabbed\n");
      ok_ = false;
    }
  }

 private:
  // A fixed date keeps the picture the same from one rendering to the next.
  static void SetModificationTime(const std::string& path) {
    std::tm local{};
    local.tm_year = 2006 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 9;
    local.tm_min = 7;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    const utimbuf times{when, when};
    ::utime(path.c_str(), &times);
  }

  QDir folder_;
  bool ok_ = true;
};

}  // namespace
}  // namespace larkspool::gui

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspool"));
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  larkspool::gui::LoadDialogFont();
  larkspool::gui::Renderer renderer(folder);
  renderer.MainWindow();
  renderer.Prompts();
  // Last: the extraction changes the current directory.
  renderer.Progress();
  return renderer.ok() ? 0 : 1;
}
