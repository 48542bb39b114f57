// Many backups at once: `extract --each OUTDIR BACKUP...`, `verify --each
// BACKUP...` and `salvage --each OUTDIR BACKUP...` run the single command's
// request on every backup (a folder stands for the *.bkp files in it), each
// into a folder of its own, up to N at a time, with one progress line, and
// end with a table of every backup's outcome.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace larkspool::cli {

struct BatchOptions {
  bool each = false;
  std::string outdir;  // extract and salvage
  unsigned jobs = 0;   // 0: one a processor
  bool recursive = false;
  std::string passwordFile;
  bool json = false;
  std::vector<std::string> includes;  // patterns of extract and verify
  std::vector<std::string> more;      // salvage's backups after the first two
};

// Adds --each and the options that go with it to a command that Setup*
// declared; they are refused without --each. `folder` is the command's DIR,
// which --each turns into one more backup.
std::shared_ptr<BatchOptions> AddExtractBatch(CLI::App& command, CLI::Option& folder);
std::shared_ptr<BatchOptions> AddVerifyBatch(CLI::App& command);
std::shared_ptr<BatchOptions> AddSalvageBatch(CLI::App& command, CLI::Option& folder);

// Runs the batch when --each was given and returns true; otherwise returns
// false for the single command to run.
bool RunBatch(const ExtractOptions& options, const BatchOptions& batch, ExitCode& result);
bool RunBatch(const InspectOptions& options, const BatchOptions& batch, ExitCode& result);
bool RunBatch(const SalvageOptions& options, const BatchOptions& batch, ExitCode& result);

}  // namespace larkspool::cli
