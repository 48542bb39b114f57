// larkspool-render-screenshots FOLDER: renders every window of the desktop
// tool into PNG files in FOLDER, offscreen unless a platform is chosen. The
// windows are the program's own, shown the way a run shows them; the progress
// window is grabbed in the middle of a real extraction. The contents window
// shows a sound, a protected and a damaged backup.
#include <utime.h>

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QItemSelection>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
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
#include "gui/contents_window.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/qt_user_interface.h"
#include "platform/file_system.h"

namespace larkspool::gui {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::Bytes;
using larkspool::testing::WaveShape;
using larkspool::testing::WavPayload;
using larkspool::testing::WavWithFormat;

// An output that plays nothing and reports itself a third of the way in.
class HalfwayOutput final : public desktop::AudioOutput {
 public:
  bool Start(const PcmAudio& audio, std::uint64_t /*from*/) override {
    frames_ = audio.frames() / 3;
    return true;
  }
  void Stop() override { frames_ = 0; }
  std::uint64_t FramesPlayed() const override { return frames_; }
  bool IsPlaying() const override { return frames_ > 0; }
  Fault fault() const override { return Fault::kNone; }

 private:
  std::uint64_t frames_ = 0;
};

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

  // The contents window of a sound backup with a message playing and two
  // selected, of a protected one filtered by a pattern, and of a damaged one.
  void Contents() {
    QTemporaryDir scratch;
    const auto path = [&scratch](const char* name) {
      return QDir(scratch.path()).filePath(QString::fromLatin1(name));
    };
    // Voice-mail formats at 8 kHz: 16-bit PCM, µ-law, IMA ADPCM, GSM 6.10.
    const auto message = [](std::uint16_t tag, double seconds) {
      WaveShape shape;
      shape.formatTag = tag;
      if (tag == 7) {
        shape.byteRate = 8000, shape.blockAlign = 1, shape.bitsPerSample = 8;
      } else if (tag == 0x11) {
        shape.byteRate = 4055, shape.blockAlign = 256, shape.bitsPerSample = 4;
      } else if (tag == 0x31) {
        shape.byteRate = 1625, shape.blockAlign = 65, shape.bitsPerSample = 0;
      }
      shape.dataBytes =
          static_cast<std::uint32_t>(seconds * shape.byteRate) / shape.blockAlign * shape.blockAlign;
      return WavWithFormat(shape);
    };
    BackupBuilder::Single(BackupKind::k3)
        .Entry("greeting.wav", message(1, 12.4))
        .Entry("2026-03-02 0914 from 555-0142.wav", message(7, 48.2))
        .Entry("2026-03-02 1130 from 555-0187.wav", message(7, 9.6))
        .Entry("2026-03-03 0802 from 555-0142.wav", message(0x31, 131.0))
        .Entry("2026-03-04 1645 from 555-0199.wav", message(0x11, 22.7))
        .Entry("2026-03-05 0907 from 555-0110.wav", message(1, 75.3))
        .Entry("2026-03-05 1712 from 555-0187.wav", message(7, 3.1))
        .Entry("busy-greeting.wav", message(1, 6.0))
        .WriteTo(path("box01.bkp").toStdString());
    {
      ContentsWindow window(std::make_unique<HalfwayOutput>());
      window.Open(path("box01.bkp"));
      window.resize(760, 400);
      window.show();
      QTableView& table = *window.table();
      table.setCurrentIndex(table.model()->index(5, 0));
      table.selectionModel()->select(QItemSelection(table.model()->index(4, 0), table.model()->index(5, 4)),
                                     QItemSelectionModel::ClearAndSelect);
      window.OnPlayStop();
      window.player().Tick();
      QTimer::singleShot(0, [&window] { window.player().Tick(); });
      QApplication::processEvents();
      Save(window, "contents.png");
      window.player().Stop();
    }
    BackupBuilder::Paired("2468")
        .Files("2026-03-02 0914 from 555-0142.wav", message(7, 48.2), "2026-03-02 1130 from 555-0187.wav",
               message(7, 9.6))
        .Files("2026-03-05 0907 from 555-0110.wav", message(1, 75.3), "2026-03-05 1712 from 555-0187.wav",
               message(7, 3.1))
        .Files("2026-03-09 1421 from 555-0187.wav", message(0x31, 41.0))
        .WriteTo(path("box05.bkp").toStdString());
    {
      ContentsWindow window(std::make_unique<HalfwayOutput>());
      QTimer::singleShot(0, [] {
        if (auto* prompt = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
          prompt->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("2468"));
          prompt->accept();
        }
      });
      window.Open(path("box05.bkp"));
      window.resize(760, 300);
      window.show();
      window.filterEdit()->setText(QStringLiteral("*555-0187*"));
      window.table()->horizontalHeader()->setSortIndicator(1, Qt::DescendingOrder);
      QApplication::processEvents();
      Save(window, "contents-protected.png");
    }
    Bytes damaged = BackupBuilder::Single(BackupKind::k3)
                        .Entry("greeting.wav", message(1, 12.4))
                        .Entry("2026-03-02 0914 from 555-0142.wav", message(7, 8.2))
                        .Entry("2026-03-02 1130 from 555-0187.wav", message(7, 9.6))
                        .Entry("2026-03-03 0802 from 555-0142.wav", message(1, 4.0))
                        .bytes();
    // The third entry's header zeroed and the last message cut.
    const std::size_t third = 24 + 2 * 80 + message(1, 12.4).size() + message(7, 8.2).size();
    std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(third),
              damaged.begin() + static_cast<std::ptrdiff_t>(third + 80), 0);
    damaged.resize(damaged.size() - 30000);
    {
      std::FILE* out = std::fopen(path("damaged.bkp").toLocal8Bit().constData(), "wb");
      std::fwrite(damaged.data(), 1, damaged.size(), out);
      std::fclose(out);
    }
    {
      ContentsWindow window(std::make_unique<HalfwayOutput>());
      window.Open(path("damaged.bkp"));
      window.resize(760, 300);
      window.show();
      QApplication::processEvents();
      Save(window, "contents-damaged.png");
    }
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
  renderer.Contents();
  // Last: the extraction changes the current directory.
  renderer.Progress();
  return renderer.ok() ? 0 : 1;
}
