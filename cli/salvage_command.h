// The salvage subcommand, and what list and verify print with --salvage.
#pragma once

#include "cli/commands.h"

namespace larkspool::cli {

// Saves every message the backup still holds into the folder and prints the
// report. 0 when nothing was damaged, 1 when something was (or a fault), 2
// cancelled.
ExitCode RunSalvage(const SalvageOptions& options);
// What a salvage would save, writing nothing: `list --salvage` prints the
// report, `verify --salvage` one line; the exit codes are salvage's.
ExitCode RunSalvageList(const InspectOptions& options);
ExitCode RunSalvageVerify(const InspectOptions& options);

}  // namespace larkspool::cli
