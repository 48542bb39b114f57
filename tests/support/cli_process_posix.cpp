#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "tests/support/cli_process.h"

namespace larkspool::testing {
namespace {

std::string Slurp(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// The child gets a session of its own, so it has no controlling terminal and
// never prompts on /dev/tty; a run that hangs is killed after 20 seconds.
Process Run(const std::vector<std::string>& args, const std::string& cwd,
            const std::optional<std::string>& input, const std::vector<std::string>& environment,
            const std::function<bool()>& interruptWhen = {}) {
  std::vector<std::string> environmentText(environment);
  for (char** variable = environ; *variable != nullptr; ++variable) environmentText.emplace_back(*variable);
  std::vector<char*> envp;
  for (std::string& variable : environmentText) envp.push_back(variable.data());
  envp.push_back(nullptr);

  std::vector<std::string> argvText{LARKSPOOL_CLI_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* in = std::tmpfile();
  if (input) std::fputs(input->c_str(), in);
  std::fflush(in);
  std::rewind(in);
  const int stdinFd = input ? ::fileno(in) : ::open("/dev/null", O_RDONLY);

  const pid_t child = ::fork();
  if (child == 0) {
    ::setsid();
    ::alarm(kCliTimeoutSeconds);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(stdinFd, STDIN_FILENO);
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (!input) ::close(stdinFd);
  std::fclose(in);
  if (interruptWhen && child > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kCliTimeoutSeconds);
    while (!interruptWhen() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(child, SIGINT);
  }
  int wait = 0;
  Process run;
  if (child > 0 && ::waitpid(child, &wait, 0) == child && WIFEXITED(wait)) run.status = WEXITSTATUS(wait);
  run.out = Slurp(out);
  run.err = Slurp(err);
  return run;
}

}  // namespace

Process RunCli(const std::vector<std::string>& args, const std::string& cwd,
               const std::optional<std::string>& input) {
  return Run(args, cwd, input, {});
}

Process RunCliWithEnvironment(const std::vector<std::string>& args, const std::string& cwd,
                              const std::vector<std::string>& environment) {
  return Run(args, cwd, std::nullopt, environment);
}

Process RunCliInterrupted(const std::vector<std::string>& args, const std::string& cwd,
                          const std::function<bool()>& ready) {
  return Run(args, cwd, std::nullopt, {}, ready);
}

}  // namespace larkspool::testing
