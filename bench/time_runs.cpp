// larkspool-bench-time [--runs N] [--warmup N] [--empty DIR | --fresh DIR]
//                      [--warm FILE]... LABEL -- COMMAND...
// Runs COMMAND warmup + runs times and prints one line:
//   LABEL runs min median max peak_rss_kib user_median sys_median
// with times in seconds. Each run writes into an empty folder: with --empty
// DIR is emptied before every run; with --fresh every run gets a new folder
// DIR/run-N, which stays until the caller removes DIR, and "{}" in COMMAND
// stands for it. Either way the file system is synced before every run,
// outside the timed span, so that no earlier run's write-back lands inside
// it. (A fresh folder avoids a cost of file systems without a journal: a file
// created within seconds of the deletion of many others makes ext4 scan the
// freed inodes, which slows every tool alike and depends on the timing.)
// The warm-up runs bring the input into the page cache and are not counted;
// each --warm FILE is read through right before every run as well, since a
// host may page out what has not been read for a while.
// The time is the wall clock from fork to the child's exit; the peak resident
// set is the largest ru_maxrss over the counted runs (it includes the pages of
// this process before exec, which the kernel carries over). A run that fails
// stops everything.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Options {
  int runs = 5;
  int warmup = 1;
  std::string empty;
  std::string fresh;
  std::string label;
  std::vector<std::string> warm;
  std::vector<std::string> command;
};

struct Sample {
  double wall = 0;
  double user = 0;
  double sys = 0;
  long maxRssKib = 0;
};

[[noreturn]] void Usage(const char* program) {
  std::fprintf(
      stderr,
      "usage: %s [--runs N] [--warmup N] [--empty DIR | --fresh DIR] [--warm FILE]... LABEL -- COMMAND...\n",
      program);
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--warmup" && hasValue) {
      options.warmup = std::atoi(argv[++i]);
    } else if (arg == "--empty" && hasValue) {
      options.empty = argv[++i];
    } else if (arg == "--fresh" && hasValue) {
      options.fresh = argv[++i];
    } else if (arg == "--warm" && hasValue) {
      options.warm.push_back(argv[++i]);
    } else if (options.label.empty() && arg.rfind("--", 0) != 0) {
      options.label = arg;
    } else {
      Usage(argv[0]);
    }
  }
  for (++i; i < argc; ++i) options.command.push_back(argv[i]);
  if (options.runs < 1 || options.warmup < 0 || options.label.empty() || options.command.empty() ||
      (!options.empty.empty() && !options.fresh.empty())) {
    Usage(argv[0]);
  }
  return options;
}

// The folder the run writes into, empty, with the file system synced.
std::string PrepareFolder(const Options& options, int run) {
  std::string folder = options.empty;
  if (!options.empty.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::filesystem::remove_all(entry.path());
    }
  } else if (!options.fresh.empty()) {
    folder = options.fresh + "/run-" + std::to_string(run);
    std::filesystem::create_directories(folder);
  }
  ::sync();
  return folder;
}

// Reads the file through, so that the run finds it in the page cache.
void Warm(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  static char buffer[1 << 20];
  while (std::fread(buffer, 1, sizeof buffer, file) == sizeof buffer) {
  }
  std::fclose(file);
}

std::vector<std::string> Substitute(const std::vector<std::string>& command, const std::string& folder) {
  std::vector<std::string> args = command;
  for (std::string& arg : args) {
    for (std::size_t at = arg.find("{}"); at != std::string::npos; at = arg.find("{}", at + folder.size())) {
      arg.replace(at, 2, folder);
    }
  }
  return args;
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

Sample RunOnce(const Options& options, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (child == 0) {
    ::execvp(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    std::exit(1);
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s: the command failed (status %d)\n", options.label.c_str(), status);
    std::exit(1);
  }
  return Sample{wall.count(), Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  std::vector<double> wall, user, sys;
  long peakKib = 0;
  for (int i = 0; i < options.warmup + options.runs; ++i) {
    const std::string folder = PrepareFolder(options, i);
    for (const std::string& path : options.warm) Warm(path);
    const Sample sample = RunOnce(options, Substitute(options.command, folder));
    if (i < options.warmup) continue;
    wall.push_back(sample.wall);
    user.push_back(sample.user);
    sys.push_back(sample.sys);
    peakKib = std::max(peakKib, sample.maxRssKib);
  }
  std::printf("%s %d %.4f %.4f %.4f %ld %.4f %.4f\n", options.label.c_str(), options.runs,
              *std::min_element(wall.begin(), wall.end()), Median(wall),
              *std::max_element(wall.begin(), wall.end()), peakKib, Median(user), Median(sys));
  return 0;
}
