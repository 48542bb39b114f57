// Runs larkspool-cli as a real process: POSIX fork and exec in
// cli_process_posix.cpp, CreateProcess in cli_process_windows.cpp.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace larkspool::testing {

struct Process {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;  // line ends as "\n" on every platform
  std::string err;
};

// A run that takes longer is a hang, and killed.
inline constexpr unsigned kCliTimeoutSeconds = 20;

// Runs the program in `cwd` with `input` on stdin (the null device when
// absent). The program has no terminal or console to prompt on.
Process RunCli(const std::vector<std::string>& args, const std::string& cwd,
               const std::optional<std::string>& input = std::nullopt);

#ifndef _WIN32
// The same, with `environment` ("NAME=VALUE") added to the test's own, and
// the null device on stdin.
Process RunCliWithEnvironment(const std::vector<std::string>& args, const std::string& cwd,
                              const std::vector<std::string>& environment);
#endif
// The same, with the null device on stdin, interrupted by Ctrl-C (SIGINT;
// on Windows the console's Ctrl-C) as soon as `ready` holds.
Process RunCliInterrupted(const std::vector<std::string>& args, const std::string& cwd,
                          const std::function<bool()>& ready);

}  // namespace larkspool::testing
