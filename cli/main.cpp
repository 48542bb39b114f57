// larkspool-cli: extract, list, verify, cat and salvage voice-mail admin backups.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/windows_text.h"
#endif

#include "cli/commands.h"
#include "cli/console_output.h"
#include "cli/terminal_ui.h"

namespace {

using larkspool::cli::ExitCode;

std::string UsageFailure(const CLI::App* /*app*/, const CLI::Error& error) {
  return "larkspool-cli: " + std::string(error.what()) + "\nRun with --help for more information.\n";
}

// Help and --version end the parse successfully; every other parse error is
// a usage error. Their texts go out as the program's own do.
int UsageExit(const CLI::App& app, const CLI::ParseError& error) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = app.exit(error, out, err);
  larkspool::cli::Put(stdout, out.str());
  larkspool::cli::Put(stderr, err.str());
  return status == 0 ? 0 : static_cast<int>(ExitCode::kUsage);
}

// Output to a full disk or a closed pipe must not pass as success.
int Finish(ExitCode result) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    larkspool::cli::PrintNotice(std::string("cannot write the output: ") + std::strerror(errno));
    return static_cast<int>(ExitCode::kFailed);
  }
  return static_cast<int>(result);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  std::vector<std::string> arguments = larkspool::CommandLineArguments();
  std::vector<char*> utf8;
  for (std::string& argument : arguments) utf8.push_back(argument.data());
  if (!utf8.empty()) {
    argc = static_cast<int>(utf8.size());
    argv = utf8.data();
  }
#endif
  CLI::App app{"Extracts the voice messages of a voice-mail admin backup (.bkp) as WAV files",
               "larkspool-cli"};
  app.set_version_flag("--version", "larkspool-cli " LARKSPOOL_VERSION);
  app.require_subcommand(1);
  // The same options everywhere: on Windows too "/path" is an argument, not
  // an option. Subcommands take this over when they are added.
  app.allow_windows_style_options(false);
  app.failure_message(UsageFailure);

  ExitCode result = ExitCode::kCompleted;
  larkspool::cli::SetupExtract(app, result);
  larkspool::cli::SetupList(app, result);
  larkspool::cli::SetupVerify(app, result);
  larkspool::cli::SetupCat(app, result);
  larkspool::cli::SetupSalvage(app, result);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return UsageExit(app, error);
  } catch (const std::exception& error) {
    larkspool::cli::PrintNotice(error.what());
    return static_cast<int>(ExitCode::kFailed);
  }
  return Finish(result);
}
