#include "cli/commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <map>
#include <memory>
#include <span>
#include <system_error>

#include "app/audio_details.h"
#include "app/cat_request.h"
#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "cli/batch_command.h"
#include "cli/console_output.h"
#include "cli/entry_selection.h"
#include "cli/listing_output.h"
#include "cli/name_encoding.h"
#include "cli/name_escape.h"
#include "cli/salvage_command.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

const std::map<std::string, OverwritePolicy> kOverwritePolicies{
    {"ask", OverwritePolicy::kAsk}, {"all", OverwritePolicy::kAll}, {"never", OverwritePolicy::kNever}};

// The core enters the extraction folder before it opens the backup, so a
// relative path must be made absolute while the starting folder is current.
// An empty path stays empty for the core to refuse.
std::string AbsoluteFromHere(const std::string& path) { return AbsolutePath(path); }

void AddPasswordFlag(CLI::App& command, bool& flag) {
  command.add_flag("--password-stdin", flag,
                   "Read the mailbox password from the first line of standard input");
}

void AddOverwriteOption(CLI::App& command, OverwritePolicy& policy) {
  command
      .add_option_function<std::string>(
          "--overwrite", [&policy](const std::string& value) { policy = kOverwritePolicies.at(value); },
          "When a file exists: ask (needs a terminal), all (replace), never (keep); default ask")
      ->check(CLI::IsMember({"ask", "all", "never"}));
}

// A salvage takes every message: the options that choose entries or change
// the listing are refused beside --salvage, never ignored.
void AddSalvageFlag(CLI::App& command, bool& flag) {
  CLI::Option* salvage = command.add_flag(
      "--salvage", flag, "Show what salvage would save from a damaged backup; write nothing");
  for (const char* chooser : {"PATTERN", "--exclude", "--ignore-case", "--long"}) {
    if (CLI::Option* option = command.get_option_no_throw(chooser)) salvage->excludes(option);
  }
}

void AddBackupArgument(CLI::App& command, std::string& backup) {
  command.add_option("BACKUP", backup, "The backup file (.bkp)")->required();
}

TerminalUi InspectingUi(const std::string& backup, bool passwordFromStdin) {
  return TerminalUi(TerminalOptions{backup, false, passwordFromStdin, OverwritePolicy::kAsk});
}

void AddEncodingOption(CLI::App& command, std::string& encoding) {
  command
      .add_option("--name-encoding", encoding,
                  "Read the stored names in CHARSET (CP932, CP1252, ...) and write and show them as UTF-8")
      ->type_name("CHARSET")
      ->check([](const std::string& charset) -> std::string {
        return NameEncoding::Open(charset) ? "" : "unknown character set " + charset;
      });
}

void AddChoiceOptions(CLI::App& command, EntryChoice& choice) {
  command.add_option("PATTERN", choice.patterns,
                     "Take only the entries whose names match one of these shell patterns (* ? [...])");
  command
      .add_option("--exclude", choice.excludes, "Leave out the entries whose names match PATTERN; repeatable")
      ->type_name("PATTERN")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command.add_flag("-i,--ignore-case", choice.ignoreCase, "Patterns match letters A-Z in either case");
  AddEncodingOption(command, choice.nameEncoding);
}

}  // namespace

// The core's entry options for `encoding`, and for `selection` unless it
// takes everything. The options share the objects they call.
EntryOptions MakeEntryOptions(const std::string& encoding, const std::shared_ptr<EntrySelection>& selection) {
  EntryOptions options = NamingOptions(encoding);
  if (selection && !selection->TakesEverything()) {
    options.select = [selection](std::string_view name) { return selection->Takes(name); };
  }
  return options;
}

std::shared_ptr<EntrySelection> MakeSelection(const EntryChoice& choice) {
  return std::make_shared<EntrySelection>(choice.patterns, choice.excludes, choice.ignoreCase);
}

namespace {

// After a walk that went to its end: a pattern that matched no entry is
// named and fails the command, which has otherwise done all it does.
ExitCode ReportUnmatched(const EntrySelection& selection, ExitCode result) {
  if (result != ExitCode::kCompleted) return result;
  const std::vector<std::string> unmatched = selection.Unmatched();
  for (const std::string& pattern : unmatched) PrintNotice("no entry matches " + EscapeName(pattern));
  return unmatched.empty() ? result : ExitCode::kFailed;
}

// Hands `bytes` to standard output, which main flushes and checks at the end.
bool WriteOut(std::span<const std::uint8_t> bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

}  // namespace

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

void SetupExtract(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* command =
      app.add_subcommand("extract", "Extract the voice messages of BACKUP into DIR as WAV files");
  AddBackupArgument(*command, options->backup);
  CLI::Option* folder =
      command->add_option("DIR", options->folder, "The folder to extract into; it must exist")->required();
  AddPasswordFlag(*command, options->passwordFromStdin);
  AddOverwriteOption(*command, options->overwrite);
  command->add_flag("-q,--quiet", options->quiet, "Print no progress and no completion note");
  AddChoiceOptions(*command, options->choice);
  AddFormOption(*command, options->form);
  const auto batch = AddExtractBatch(*command, *folder);
  command->callback([options, batch, &result] {
    if (!RunBatch(*options, *batch, result)) result = RunExtract(*options);
  });
}

void SetupSalvage(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<SalvageOptions>();
  CLI::App* command = app.add_subcommand(
      "salvage",
      "Save every voice message a damaged BACKUP still holds into DIR, and report what was damaged");
  AddBackupArgument(*command, options->backup);
  CLI::Option* folder =
      command->add_option("DIR", options->folder, "The folder to save into; it must exist")->required();
  AddPasswordFlag(*command, options->passwordFromStdin);
  AddOverwriteOption(*command, options->overwrite);
  command->add_flag("-q,--quiet", options->quiet, "Print no progress");
  command->add_flag("--json", options->json, "Print the report as one JSON object");
  AddEncodingOption(*command, options->nameEncoding);
  const auto batch = AddSalvageBatch(*command, *folder);
  command->callback([options, batch, &result] {
    if (!RunBatch(*options, *batch, result)) result = RunSalvage(*options);
  });
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
  AddChoiceOptions(*command, options->choice);
  AddSalvageFlag(*command, options->salvage);
  command->callback([options, &result] { result = RunList(*options); });
}

void SetupVerify(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* command = app.add_subcommand("verify", "Check every entry of BACKUP without writing anything");
  AddBackupArgument(*command, options->backup);
  AddPasswordFlag(*command, options->passwordFromStdin);
  AddChoiceOptions(*command, options->choice);
  AddSalvageFlag(*command, options->salvage);
  const auto batch = AddVerifyBatch(*command);
  command->callback([options, batch, &result] {
    if (!RunBatch(*options, *batch, result)) result = RunVerify(*options);
  });
}

void SetupCat(CLI::App& app, ExitCode& result) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* command = app.add_subcommand("cat", "Write the message NAME of BACKUP to standard output");
  AddBackupArgument(*command, options->backup);
  command->add_option("NAME", options->name, "The stored name; when it repeats, the last entry")->required();
  AddPasswordFlag(*command, options->passwordFromStdin);
  AddEncodingOption(*command, options->nameEncoding);
  AddFormOption(*command, options->form);
  command->callback([options, &result] { result = RunCat(*options); });
}

ExitCode RunExtract(const ExtractOptions& options) {
  if (!CanWrite(options.form)) return ExitCode::kFailed;
  TerminalUi ui(TerminalOptions{options.backup, options.quiet, options.passwordFromStdin, options.overwrite});
  Extractor extractor(NativeFileSystem(), ui);
  const std::shared_ptr<EntrySelection> selection = MakeSelection(options.choice);
  extractor.set_entry_options(MakeEntryOptions(options.choice.nameEncoding, selection));
  extractor.set_payload_converter(ConverterFor(options.form));
  const RunResult result = extractor.OnExtract(AbsoluteFromHere(options.backup), options.folder);
  return ReportUnmatched(*selection, ToExitCode(result));
}

ExitCode RunList(const InspectOptions& options) {
  if (options.salvage) return RunSalvageList(options);
  TerminalUi ui = InspectingUi(options.backup, options.passwordFromStdin);
  const std::shared_ptr<EntrySelection> selection = MakeSelection(options.choice);
  BackupListing listing;
  const RunResult result = InspectBackup(NativeFileSystem(), ui, options.backup, ScanMode::kList, listing,
                                         MakeEntryOptions(options.choice.nameEncoding, selection));
  if (result != RunResult::kCompleted) return ToExitCode(result);
  if (options.json || options.longListing) ReadAudioDetails(NativeFileSystem(), options.backup, listing);
  if (options.json) {
    PrintJson(listing);
  } else if (options.longListing) {
    PrintLong(listing);
  } else {
    PrintText(listing);
  }
  return ReportUnmatched(*selection, ExitCode::kCompleted);
}

ExitCode RunVerify(const InspectOptions& options) {
  if (options.salvage) return RunSalvageVerify(options);
  TerminalUi ui = InspectingUi(options.backup, options.passwordFromStdin);
  const std::shared_ptr<EntrySelection> selection = MakeSelection(options.choice);
  BackupListing listing;
  const RunResult result = InspectBackup(NativeFileSystem(), ui, options.backup, ScanMode::kVerify, listing,
                                         MakeEntryOptions(options.choice.nameEncoding, selection));
  if (result != RunResult::kCompleted) return ToExitCode(result);
  const std::size_t count = listing.entries.size();
  Print(stdout, "%s: OK, %zu %s\n", EscapeName(options.backup).c_str(), count, count == 1 ? "file" : "files");
  return ReportUnmatched(*selection, ExitCode::kCompleted);
}

ExitCode RunCat(const CatOptions& options) {
  // Audio is no text: a terminal would only show noise.
  if (IsTerminal(kStdoutFd)) {
    PrintNotice("standard output is a terminal; redirect it to a file or a player");
    return ExitCode::kUsage;
  }
  if (!CanWrite(options.form)) return ExitCode::kFailed;
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the bytes as they are, no CR before LF
#endif
  TerminalUi ui = InspectingUi(options.backup, options.passwordFromStdin);
  switch (CatInForm(options.form, NativeFileSystem(), ui, options.backup, options.name,
                    MakeEntryOptions(options.nameEncoding, nullptr), WriteOut)) {
    case CatResult::kWritten:
      return ExitCode::kCompleted;
    case CatResult::kCancelled:
      return ExitCode::kCancelled;
    case CatResult::kNoSuchEntry:
      PrintNotice("no entry named " + EscapeName(options.name));
      break;
    case CatResult::kFailed:
      break;
  }
  return ExitCode::kFailed;
}

}  // namespace larkspool::cli
