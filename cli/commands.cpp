#include "cli/commands.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "app/audio_details.h"
#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "cli/listing_output.h"
#include "cli/name_escape.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

const std::map<std::string, OverwritePolicy> kOverwritePolicies{
    {"ask", OverwritePolicy::kAsk}, {"all", OverwritePolicy::kAll}, {"never", OverwritePolicy::kNever}};

ExitCode ToExitCode(RunResult result) {
  switch (result) {
    case RunResult::kCompleted:
      return ExitCode::kCompleted;
    case RunResult::kCancelled:
      return ExitCode::kCancelled;
    case RunResult::kFailed:
    case RunResult::kProgressWindowFailed:
      break;
  }
  return ExitCode::kFailed;
}

// The core enters the extraction folder before it opens the backup, so a
// relative path must be made absolute while the starting folder is current.
// An empty path stays empty for the core to refuse.
std::string AbsoluteFromHere(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

void AddPasswordFlag(CLI::App& command, bool& flag) {
  command.add_flag("--password-stdin", flag,
                   "Read the mailbox password from the first line of standard input");
}

void AddBackupArgument(CLI::App& command, std::string& backup) {
  command.add_option("BACKUP", backup, "The backup file (.bkp)")->required();
}

TerminalUi InspectingUi(const InspectOptions& options) {
  return TerminalUi(TerminalOptions{options.backup, false, options.passwordFromStdin, OverwritePolicy::kAsk});
}

}  // namespace

void SetupExtract(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* command =
      app.add_subcommand("extract", "Extract the voice messages of BACKUP into DIR as WAV files");
  AddBackupArgument(*command, options->backup);
  command->add_option("DIR", options->folder, "The folder to extract into; it must exist")->required();
  AddPasswordFlag(*command, options->passwordFromStdin);
  command
      ->add_option_function<std::string>(
          "--overwrite",
          [options](const std::string& value) { options->overwrite = kOverwritePolicies.at(value); },
          "When a file exists: ask (needs a terminal), all (replace), never (keep); default ask")
      ->check(CLI::IsMember({"ask", "all", "never"}));
  command->add_flag("-q,--quiet", options->quiet, "Print no progress and no completion note");
  command->callback([options, &result] { result = RunExtract(*options); });
}

void SetupList(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* command = app.add_subcommand("list", "List the files BACKUP holds: size and name");
  AddBackupArgument(*command, options->backup);
  AddPasswordFlag(*command, options->passwordFromStdin);
  command->add_flag("-l,--long", options->longListing,
                    "Also print each message's duration, audio format and sample rate");
  command->add_flag("--json", options->json,
                    "Print the kind, the password flag and every entry with its audio details as JSON");
  command->callback([options, &result] { result = RunList(*options); });
}

void SetupVerify(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* command = app.add_subcommand("verify", "Check every entry of BACKUP without writing anything");
  AddBackupArgument(*command, options->backup);
  AddPasswordFlag(*command, options->passwordFromStdin);
  command->callback([options, &result] { result = RunVerify(*options); });
}

ExitCode RunExtract(const ExtractOptions& options) {
  TerminalUi ui(TerminalOptions{options.backup, options.quiet, options.passwordFromStdin, options.overwrite});
  Extractor extractor(NativeFileSystem(), ui);
  return ToExitCode(extractor.OnExtract(AbsoluteFromHere(options.backup), options.folder));
}

ExitCode RunList(const InspectOptions& options) {
  TerminalUi ui = InspectingUi(options);
  BackupListing listing;
  const RunResult result = InspectBackup(NativeFileSystem(), ui, options.backup, ScanMode::kList, listing);
  if (result != RunResult::kCompleted) return ToExitCode(result);
  if (options.json || options.longListing) ReadAudioDetails(PosixFileSystem(), options.backup, listing);
  if (options.json) {
    PrintJson(listing);
  } else if (options.longListing) {
    PrintLong(listing);
  } else {
    PrintText(listing);
  }
  return ExitCode::kCompleted;
}

ExitCode RunVerify(const InspectOptions& options) {
  TerminalUi ui = InspectingUi(options);
  BackupListing listing;
  const RunResult result = InspectBackup(NativeFileSystem(), ui, options.backup, ScanMode::kVerify, listing);
  if (result != RunResult::kCompleted) return ToExitCode(result);
  const std::size_t count = listing.entries.size();
  std::printf("%s: OK, %zu %s\n", EscapeName(options.backup).c_str(), count, count == 1 ? "file" : "files");
  return ExitCode::kCompleted;
}

}  // namespace larkspool::cli
