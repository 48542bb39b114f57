// Playback through the system's sound server, heard from outside: the test
// starts a PulseAudio server of its own with a null sink, plays a message
// from the contents window (a child process, offscreen) and records the
// sink's monitor with parec. The recording must be the message's samples,
// as the test made them, and last as long. Without a server: the message,
// no crash, and the window still answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui/contents_window.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::gui {
namespace {

using larkspool::testing::BackupBuilder;
using larkspool::testing::ScratchDir;
using larkspool::testing::WavFile;

constexpr std::uint32_t kRate = 8000;

// 2 s rising from 200 to 2000 Hz: no two stretches alike, so the alignment
// has one answer.
std::vector<std::int16_t> Sweep() {
  std::vector<std::int16_t> samples(2 * kRate);
  double phase = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(samples.size());
    phase += 2 * std::numbers::pi * (200 + 1800 * t) / kRate;
    samples[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
  }
  return samples;
}

std::optional<std::string> Program(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t at = 0;
  while (at <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return std::nullopt;
}

// Starts `argv` with the environment of the server's clients; its output
// goes to `out` (or nowhere).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
            const std::string& out = "/dev/null") {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) dup2(fd, 1);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 2);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A PulseAudio server in a folder of its own: a null sink at the message's
// rate and format, so nothing is resampled, and a private socket.
class PulseServer {
 public:
  explicit PulseServer(const std::string& folder) : folder_(folder) {
    std::filesystem::create_directories(folder + "/runtime");
    std::ofstream(folder + "/script.pa")
        << "load-module module-null-sink sink_name=larkspool rate=8000 channels=1 format=s16le\n"
        << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket() << "\n"
        << "set-default-sink larkspool\n";
    pid_ = Spawn(
        {*Program("pulseaudio"), "-n", "--daemonize=no", "--exit-idle-time=-1", "-F", folder + "/script.pa"},
        {{"HOME", folder},
         {"PULSE_RUNTIME_PATH", folder + "/runtime"},
         {"XDG_RUNTIME_DIR", folder + "/runtime"}});
  }
  ~PulseServer() { Stop(SIGTERM); }
  // Ends the server at once, as a crash or a lost device would.
  void Stop(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    Wait(pid_);
    pid_ = 0;
  }
  std::string socket() const { return folder_ + "/socket"; }
  // What a client of this server runs with.
  std::vector<std::pair<std::string, std::string>> ClientEnv() const {
    return {{"PULSE_SERVER", "unix:" + socket()},
            {"HOME", folder_},
            {"PULSE_RUNTIME_PATH", folder_ + "/runtime"},
            {"XDG_RUNTIME_DIR", folder_ + "/runtime"}};
  }
  // Waits until the server answers.
  bool Ready() const {
    for (int i = 0; i < 100; ++i) {
      if (Wait(Spawn({*Program("pactl"), "info"}, ClientEnv())) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  std::string folder_;
  pid_t pid_;
};

// The child: the contents window of `backup`, Space on its first row, and
// the event loop until playing ends. Every message box is answered and its
// text written to `messages`, a line each. With `again`, the filter is used
// and Space pressed once more after the first message.
[[noreturn]] void PlayInChild(const std::string& backup, const std::string& messages, bool again) {
  static int argc = 1;
  static char name[] = "playback";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::ofstream shown(messages);
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&shown] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown << box->text().toStdString() << std::endl;
      box->accept();
    }
  });
  answer.start(10);
  ContentsWindow window;
  if (!window.Open(QString::fromStdString(backup))) _exit(3);
  window.show();
  QTableView* table = window.table();
  QTest::keyClick(table, Qt::Key_Space);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (window.player().playing() && std::chrono::steady_clock::now() < deadline) QTest::qWait(20);
  if (window.player().playing()) _exit(4);
  if (again) {
    QTest::keyClicks(window.filterEdit(), QStringLiteral("zzz"));
    if (table->model()->rowCount() != 0) _exit(5);
    window.filterEdit()->clear();
    QTest::keyClick(table, Qt::Key_Space);
  }
  // What the server still holds plays out.
  QTest::qWait(500);
  shown.close();
  _exit(0);
}

pid_t StartChild(const std::string& backup, const std::string& messages, bool again,
                 const std::vector<std::pair<std::string, std::string>>& env) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    PlayInChild(backup, messages, again);
  }
  return pid;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::int16_t> Samples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                           static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  }
  return samples;
}

// The correlation of the message with the recording shifted by `lag`
// samples (negative: the recording begins inside the message), over the
// samples both hold; `overlap` tells how many.
double Correlation(const std::vector<std::int16_t>& message, const std::vector<std::int16_t>& heard,
                   std::ptrdiff_t lag, std::size_t& overlap) {
  double mh = 0, mm = 0, hh = 0;
  overlap = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) + lag;
    if (at < 0 || at >= static_cast<std::ptrdiff_t>(heard.size())) continue;
    const double m = message[i];
    const double h = heard[static_cast<std::size_t>(at)];
    mh += m * h;
    mm += m * m;
    hh += h * h;
    ++overlap;
  }
  return mm > 0 && hh > 0 ? mh / std::sqrt(mm * hh) : 0;
}

class Playback : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Program("pulseaudio") || !Program("parec") || !Program("pactl"))
      GTEST_SKIP() << "pulseaudio and pulseaudio-utils are not installed";
    BackupBuilder::Single(BackupKind::k3).Entry("sweep.wav", WavFile(sweep_, kRate)).WriteTo(backup_);
  }

  ScratchDir scratch_;
  std::string backup_ = scratch_ / "box.bkp";
  std::string messages_ = scratch_ / "messages.txt";
  std::vector<std::int16_t> sweep_ = Sweep();
};

TEST_F(Playback, TheSinkHearsTheMessage) {
  PulseServer server(scratch_ / "pulse");
  ASSERT_TRUE(server.Ready()) << "the test's PulseAudio server did not start";
  const std::string recording = scratch_ / "recording.raw";
  const pid_t parec = Spawn({*Program("parec"), "--device=larkspool.monitor", "--rate=8000", "--channels=1",
                             "--format=s16le", "--raw", "--latency-msec=10"},
                            server.ClientEnv(), recording);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int child = Wait(StartChild(backup_, messages_, false, server.ClientEnv()));
  kill(parec, SIGINT);
  Wait(parec);
  ASSERT_EQ(child, 0) << "the contents window did not play to the end (3: not opened, 4: still playing)";
  EXPECT_EQ(Lines(messages_), std::vector<std::string>{});

  // LARKSPOOL_KEEP_RECORDING=FILE keeps the recording for a look.
  if (const char* keep = std::getenv("LARKSPOOL_KEEP_RECORDING"))
    std::filesystem::copy_file(recording, keep, std::filesystem::copy_options::overwrite_existing);
  const std::vector<std::int16_t> heard = Samples(recording);
  // Aligned where the sound begins, give or take a few samples.
  constexpr int kLoud = 500;
  const auto loud = [](std::int16_t s) { return std::abs(s) > kLoud; };
  const auto first = std::find_if(heard.begin(), heard.end(), loud);
  ASSERT_NE(first, heard.end()) << "the sink heard nothing";
  const auto last = std::find_if(heard.rbegin(), heard.rend(), loud).base();
  const double seconds = static_cast<double>(last - first) / kRate;
  EXPECT_NEAR(seconds, 2.0, 0.2) << "the sound lasted " << seconds << " s";
  // The server's monitor may miss the first milliseconds of a stream that
  // wakes the sink: the recording may begin up to 25 ms inside the message.
  const auto onset = static_cast<std::ptrdiff_t>(first - heard.begin());
  double best = 0;
  std::size_t bestOverlap = 0;
  for (std::ptrdiff_t lag = onset - kRate / 40; lag <= onset + 20; ++lag) {
    std::size_t overlap = 0;
    const double correlation = Correlation(sweep_, heard, lag, overlap);
    if (correlation > best) {
      best = correlation;
      bestOverlap = overlap;
    }
  }
  EXPECT_GE(best, 0.99) << heard.size() << " samples recorded";
  // Aligned, the recording holds all of the message but those first
  // milliseconds: its end is not cut.
  EXPECT_GE(bestOverlap, sweep_.size() - kRate / 40);
}

TEST_F(Playback, ServerGoneWhilePlayingGivesTheMessageOnce) {
  PulseServer server(scratch_ / "pulse");
  ASSERT_TRUE(server.Ready()) << "the test's PulseAudio server did not start";
  const pid_t child = StartChild(backup_, messages_, false, server.ClientEnv());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  server.Stop(SIGKILL);
  EXPECT_EQ(Wait(child), 0) << "the window crashed, or still played after 10 s";
  EXPECT_EQ(Lines(messages_), std::vector<std::string>{std::string(desktop::kDeviceLostText)});
}

TEST_F(Playback, NoServerGivesTheMessageAndTheWindowGoesOn) {
  const std::string home = scratch_ / "home";
  std::filesystem::create_directories(home + "/.config/pulse");
  std::ofstream(home + "/.config/pulse/client.conf") << "autospawn = no\n";
  const int child = Wait(StartChild(backup_, messages_, true,
                                    {{"PULSE_SERVER", "unix:" + home + "/no-server"},
                                     {"HOME", home},
                                     {"PULSE_CLIENTCONFIG", home + "/.config/pulse/client.conf"},
                                     {"PULSE_RUNTIME_PATH", home + "/runtime"},
                                     {"XDG_RUNTIME_DIR", home + "/runtime"}}));
  EXPECT_EQ(child, 0) << "the window crashed or hung";
  // Once for each press of Space.
  EXPECT_EQ(Lines(messages_), (std::vector<std::string>{std::string(desktop::kNoAudioDeviceText),
                                                        std::string(desktop::kNoAudioDeviceText)}));
}

}  // namespace
}  // namespace larkspool::gui
