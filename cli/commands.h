// The subcommands: each declares its options on a CLI::App and runs from
// the filled-in options.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "archive/entry_options.h"
#include "cli/output_form.h"
#include "cli/terminal_ui.h"

namespace larkspool::cli {

enum class ExitCode : int {
  kCompleted = 0,
  kFailed = 1,     // the message is on stderr
  kCancelled = 2,  // by the user, or a prompt that could not be shown
  kUsage = 64,
};

// Which entries a command takes and how their names are read.
struct EntryChoice {
  std::vector<std::string> patterns;  // none: every entry
  std::vector<std::string> excludes;
  bool ignoreCase = false;
  std::string nameEncoding;  // empty: the stored bytes
};

struct ExtractOptions {
  EntryChoice choice;
  std::string backup;
  std::string folder;
  bool passwordFromStdin = false;
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  bool quiet = false;
  OutputForm form = OutputForm::kStored;
};

struct InspectOptions {
  EntryChoice choice;
  std::string backup;
  bool passwordFromStdin = false;
  bool json = false;         // list only
  bool longListing = false;  // list only
  bool salvage = false;      // what a salvage would save
};

struct SalvageOptions {
  std::string backup;
  std::string folder;
  bool passwordFromStdin = false;
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  bool quiet = false;
  bool json = false;
  std::string nameEncoding;  // empty: the stored bytes
};

struct CatOptions {
  std::string backup;
  std::string name;
  bool passwordFromStdin = false;
  std::string nameEncoding;
  OutputForm form = OutputForm::kStored;
};

// Each Setup adds its subcommand to `app`; when the subcommand is given, its
// Run executes during app.parse() and leaves its exit code in `result`.
void SetupExtract(CLI::App& app, ExitCode& result);
void SetupList(CLI::App& app, ExitCode& result);
void SetupVerify(CLI::App& app, ExitCode& result);
void SetupCat(CLI::App& app, ExitCode& result);
void SetupSalvage(CLI::App& app, ExitCode& result);

// The exit code of a request's result.
ExitCode ToExitCode(RunResult result);

class EntrySelection;
// The selection of `choice`'s patterns, and the core's entry options for
// `encoding` and the selection (unless it takes everything). The options
// share the objects they call.
std::shared_ptr<EntrySelection> MakeSelection(const EntryChoice& choice);
EntryOptions MakeEntryOptions(const std::string& encoding, const std::shared_ptr<EntrySelection>& selection);

ExitCode RunExtract(const ExtractOptions& options);
ExitCode RunList(const InspectOptions& options);
ExitCode RunVerify(const InspectOptions& options);
ExitCode RunCat(const CatOptions& options);

}  // namespace larkspool::cli
