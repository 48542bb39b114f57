// larkspool-bench-contents --make BACKUP COUNT: writes a kind 3 backup of
// COUNT 8 kHz 16-bit messages of 0.5 to 1.5 s ("msg-00001.wav", ...).
// larkspool-bench-contents BACKUP [RUNS]: times the contents window on
// BACKUP, offscreen. Prints, as medians of RUNS rounds (default 5), in
// milliseconds:
//   open      the model opened: classification, the walk, every duration
//   shown     the window opened and the full list painted once
//   filter    a letter typed into the filter (the list narrowed and painted)
//   pattern   a * pattern typed into the filter
//   clear     the filter emptied again (every row back)
//   sort      a header clicked: the rows sorted by duration
//   play      Space pressed on a row until its first sample is handed to the
//             output (the message read and decoded)
// Asserts nothing; bench/contents runs it.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/user_interface.h"
#include "builder/backup_builder.h"
#include "desktop/contents_model.h"
#include "gui/contents_window.h"
#include "gui/dialog_units.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when the first samples are handed over; plays nothing.
class TimingOutput final : public larkspool::desktop::AudioOutput {
 public:
  Clock::time_point started;
  bool Start(const larkspool::PcmAudio& audio, std::uint64_t /*from*/) override {
    if (audio.samples.empty()) return false;
    started = Clock::now();
    playing_ = true;
    return true;
  }
  void Stop() override { playing_ = false; }
  std::uint64_t FramesPlayed() const override { return 0; }
  bool IsPlaying() const override { return playing_; }
  Fault fault() const override { return Fault::kNone; }

 private:
  bool playing_ = false;
};

int Make(const std::string& path, long count) {
  larkspool::testing::BackupBuilder backup =
      larkspool::testing::BackupBuilder::Single(larkspool::BackupKind::k3);
  for (long i = 0; i < count; ++i) {
    larkspool::testing::WaveShape shape;
    // 0.5 to 1.5 s, in no order.
    shape.dataBytes = static_cast<std::uint32_t>(8000 + (i * 7919) % 16000) & ~1u;
    char name[32];
    std::snprintf(name, sizeof name, "msg-%05ld.wav", i + 1);
    backup.Entry(name, larkspool::testing::WavWithFormat(shape));
  }
  backup.WriteTo(path);
  return 0;
}

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--make") return Make(argv[2], std::atol(argv[3]));
  if (argc < 2) {
    std::fprintf(stderr, "usage: larkspool-bench-contents BACKUP [RUNS] | --make BACKUP COUNT\n");
    return 64;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The offscreen platform's notes would only crowd the figures.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  QApplication app(argc, argv);
  larkspool::gui::LoadDialogFont();
  const QString backup = QString::fromLocal8Bit(argv[1]);
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::map<std::string, std::vector<double>> times;
  std::size_t rows = 0;
  for (int run = 0; run < runs; ++run) {
    larkspool::SilentUserInterface quiet;
    larkspool::desktop::ContentsModel model(larkspool::NativeFileSystem(), quiet);
    auto start = Clock::now();
    if (!model.Open(backup.toLocal8Bit().toStdString())) return 1;
    times["open"].push_back(Ms(start, Clock::now()));
    rows = model.size();

    auto owned = std::make_unique<TimingOutput>();
    TimingOutput& output = *owned;
    larkspool::gui::ContentsWindow window(std::move(owned));
    start = Clock::now();
    if (!window.Open(backup)) return 1;
    window.show();
    window.grab();
    times["shown"].push_back(Ms(start, Clock::now()));

    QTableView& table = *window.table();
    const auto timed = [&](const char* name, const std::function<void()>& action) {
      const auto from = Clock::now();
      action();
      table.viewport()->grab();
      times[name].push_back(Ms(from, Clock::now()));
    };
    timed("filter", [&] { QTest::keyClicks(window.filterEdit(), QStringLiteral("7")); });
    window.filterEdit()->clear();
    timed("pattern", [&] { window.filterEdit()->setText(QStringLiteral("msg-0*5.wav")); });
    timed("clear", [&] { window.filterEdit()->clear(); });
    timed("sort", [&] { table.horizontalHeader()->setSortIndicator(1, Qt::DescendingOrder); });
    table.setCurrentIndex(table.model()->index(static_cast<int>(rows / 2), 0));
    const auto press = Clock::now();
    QTest::keyClick(&table, Qt::Key_Space);
    if (!window.player().playing()) return 1;
    times["play"].push_back(Ms(press, output.started));
  }
  std::printf("%zu messages, medians of %d runs (ms):\n", rows, runs);
  for (const char* name : {"open", "shown", "filter", "pattern", "clear", "sort", "play"}) {
    std::vector<double>& t = times[name];
    std::sort(t.begin(), t.end());
    std::printf("  %-8s %8.1f  (best %.1f)\n", name, t[t.size() / 2], t.front());
  }
  return 0;
}
