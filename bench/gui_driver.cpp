// larkspool-bench-gui [--runs N] [--warmup N] [--ui window|none] [--fresh]
//                     BACKUP FOLDER
// Extracts BACKUP into FOLDER inside one process, N times, and prints
//   LABEL runs min median max bar_paints percent_paints elapsed_paints pumps
// (seconds; the counts are those of the last run). With --ui window (the
// default) the run goes through the desktop tool's main window and its real
// progress window, offscreen unless QT_QPA_PLATFORM says otherwise, and the
// completion message is answered as soon as it is up. With --ui none the same
// core runs behind a user interface that shows nothing: the difference is what
// the display costs. Before each run, outside the timed span, FOLDER is
// emptied (or, with --fresh, a new folder FOLDER/run-N is made, as
// larkspool-bench-time does), the file system is synced and BACKUP is read
// through, so that the run finds it in the page cache.
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/progress_window.h"
#include "platform/file_system.h"

namespace {

using larkspool::RunResult;
using larkspool::gui::CMainDlg;
using larkspool::gui::CProgressDlg;

struct Options {
  int runs = 5;
  int warmup = 1;
  bool window = true;
  bool fresh = false;
  std::string backup;
  std::string folder;
};

[[noreturn]] void Usage(const char* program) {
  std::fprintf(stderr, "usage: %s [--runs N] [--warmup N] [--ui window|none] [--fresh] BACKUP FOLDER\n",
               program);
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options options;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--warmup" && hasValue) {
      options.warmup = std::atoi(argv[++i]);
    } else if (arg == "--ui" && hasValue) {
      const std::string ui = argv[++i];
      if (ui != "window" && ui != "none") Usage(argv[0]);
      options.window = ui == "window";
    } else if (arg == "--fresh") {
      options.fresh = true;
    } else if (arg.rfind("--", 0) == 0) {
      Usage(argv[0]);
    } else {
      paths.push_back(std::filesystem::absolute(arg).string());
    }
  }
  if (paths.size() != 2 || options.runs < 1 || options.warmup < 0) Usage(argv[0]);
  options.backup = paths[0];
  options.folder = paths[1];
  return options;
}

// Counts the paints of the progress window's bar and texts, and answers the
// completion message as soon as its own event loop runs. The message box is
// the only child a progress window gains while it is up.
class Watcher : public QObject {
 public:
  struct Counts {
    int bar = 0;
    int percent = 0;
    int elapsed = 0;
  };

  void Watch(CProgressDlg& window) {
    window.installEventFilter(this);
    window_ = &window;
    Follow(window.findChild<QProgressBar*>(QStringLiteral("bar")), &counts_.bar);
    Follow(window.findChild<QLabel*>(QStringLiteral("percent")), &counts_.percent);
    Follow(window.findChild<QLabel*>(QStringLiteral("elapsed")), &counts_.elapsed);
  }
  void Restart() {
    counts_ = {};
    message_.clear();
  }
  const Counts& counts() const { return counts_; }
  const QString& message() const { return message_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      if (const auto found = counters_.find(watched); found != counters_.end()) ++*found->second;
    } else if (event->type() == QEvent::ChildAdded && watched == window_) {
      // The message box: answered as soon as its own event loop runs.
      if (auto* box = qobject_cast<QMessageBox*>(static_cast<QChildEvent*>(event)->child())) {
        box->installEventFilter(this);
      }
    } else if (event->type() == QEvent::Show) {
      if (auto* box = qobject_cast<QMessageBox*>(watched)) {
        box->removeEventFilter(this);
        QTimer::singleShot(0, box, [this, box] {
          message_ = box->text();
          box->accept();
        });
      }
    }
    return false;
  }

 private:
  void Follow(QObject* widget, int* counter) {
    if (widget == nullptr) return;
    widget->installEventFilter(this);
    counters_[widget] = counter;
  }
  QObject* window_ = nullptr;
  Counts counts_;
  QString message_;
  std::map<QObject*, int*> counters_;
};

// A user interface that shows nothing and never asks.
class SilentUi final : public larkspool::UserInterface {
 public:
  void ShowMessage(const larkspool::Message& message) override { last_ = message.text; }
  larkspool::OverwriteAnswer AskOverwrite(const std::string&) override {
    return larkspool::OverwriteAnswer::kCancel;
  }
  std::optional<std::string> AskPassword() override { return std::nullopt; }
  void SetBusy(bool) override {}
  bool RunWithProgress(const larkspool::ProgressLines&, larkspool::CancelFlag&,
                       const std::function<void()>& walk) override {
    walk();
    return true;
  }
  void ResetProgressBar() override {}
  void ShowPercent(int, const std::string&) override {}
  void ShowElapsed(const std::string&) override {}
  void PumpMessages() override { ++pumps_; }

  const std::string& last() const { return last_; }
  int pumps() const { return pumps_; }
  void Restart() { pumps_ = 0; }

 private:
  std::string last_;
  int pumps_ = 0;
};

void Warm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  static char buffer[1 << 20];
  while (in.read(buffer, sizeof buffer)) {
  }
}

// The folder the run writes into, empty, with the file system synced.
std::string PrepareFolder(const Options& options, int run) {
  std::string folder = options.folder;
  if (options.fresh) {
    folder += "/run-" + std::to_string(run);
    std::filesystem::create_directories(folder);
  } else {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::filesystem::remove_all(entry.path());
    }
  }
  ::sync();
  return folder;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs `extract` warmup + runs times; fails unless every run completed.
std::vector<double> Repeat(const Options& options, const std::function<bool(const std::string&)>& extract) {
  std::vector<double> times;
  for (int i = 0; i < options.warmup + options.runs; ++i) {
    const std::string folder = PrepareFolder(options, i);
    Warm(options.backup);
    const auto start = std::chrono::steady_clock::now();
    const bool completed = extract(folder);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!completed) {
      std::fprintf(stderr, "larkspool-bench-gui: the extraction did not complete\n");
      std::exit(1);
    }
    if (i >= options.warmup) times.push_back(took.count());
  }
  return times;
}

void Print(const char* label, const std::vector<double>& times, const Watcher::Counts& counts, int pumps) {
  std::printf("%s %zu %.4f %.4f %.4f %d %d %d %d\n", label, times.size(),
              *std::min_element(times.begin(), times.end()), Median(times),
              *std::max_element(times.begin(), times.end()), counts.bar, counts.percent, counts.elapsed,
              pumps);
}

int RunWindow(const Options& options) {
  Watcher watcher;
  CMainDlg window([&watcher] {
    auto progress = std::make_unique<CProgressDlg>();
    watcher.Watch(*progress);
    return progress;
  });
  window.show();
  QApplication::processEvents();
  // As the tool does once its main window is up.
  window.ui().PrepareWindows();
  // Typed into the fields, as a user would.
  auto* backupField = window.findChild<QLineEdit*>(QStringLiteral("backupFile"));
  auto* folderField = window.findChild<QLineEdit*>(QStringLiteral("folder"));
  backupField->setText(QString::fromStdString(options.backup));
  const std::vector<double> times = Repeat(options, [&](const std::string& folder) {
    folderField->setText(QString::fromStdString(folder));
    watcher.Restart();
    window.OnExtract();
    return window.lastResult() == RunResult::kCompleted &&
           watcher.message() == QStringLiteral("Extraction completed.");
  });
  Print("window", times, watcher.counts(), -1);
  return 0;
}

int RunSilent(const Options& options) {
  SilentUi ui;
  larkspool::Extractor extractor(larkspool::NativeFileSystem(), ui);
  const std::vector<double> times = Repeat(options, [&](const std::string& folder) {
    ui.Restart();
    return extractor.OnExtract(options.backup, folder) == RunResult::kCompleted &&
           ui.last() == "Extraction completed.";
  });
  Print("none", times, {}, ui.pumps());
  return 0;
}

// The offscreen platform warns about what it cannot do; only real trouble is
// worth a line between the figures.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspool"));
  const Options options = Parse(argc, argv);
  larkspool::gui::LoadDialogFont();
  return options.window ? RunWindow(options) : RunSilent(options);
}
