// One backup of a batch: the single command's request on a thread of its own,
// with a file system of its own (its own current folder, counting what it
// writes) and a user interface that shows nothing and asks only through the
// batch's console.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "cli/commands.h"
#include "cli/password_file.h"

namespace larkspool::cli {

class BatchConsole;

enum class BatchCommand { kExtract, kVerify, kSalvage };

struct BatchJob {
  std::string backup;      // as given or found, for the table
  std::string path;        // absolute
  std::string stem;        // the file name without .bkp: the key of its password
  std::string folderName;  // STEM, or "STEM (2)" for the second of a stem
  std::string folder;      // OUTDIR/folderName as the user wrote OUTDIR; empty for verify
  std::string folderPath;  // the same, absolute
  std::uint64_t size = 0;  // of the backup file, for the progress line
};

enum class BatchState { kCompleted, kDamaged, kFailed, kSkipped, kCancelled, kNotStarted };

struct SalvageCounts {
  std::size_t complete = 0;
  std::size_t partial = 0;
  std::size_t unnamed = 0;
  std::size_t lost = 0;
};

struct BatchRow {
  BatchState state = BatchState::kNotStarted;
  std::optional<BackupKind> kind;
  bool folderMade = false;  // its folder was made (or stood there): the gates passed
  bool passwordProtected = false;
  std::uint64_t messages = 0;  // files written (extract, salvage) or entries checked (verify)
  std::uint64_t bytes = 0;     // their bytes
  std::string message;         // the catalogue's message, or the batch's own note
  bool damaged = false;        // the walk stopped at a damaged entry: salvage saves what it can
  std::optional<SalvageCounts> salvage;
  std::vector<std::string> unmatched;  // patterns that took no entry of this backup
};

// What every job shares: the request's options and the batch's state.
struct BatchShared {
  BatchCommand command = BatchCommand::kExtract;
  EntryChoice choice;
  OverwritePolicy overwrite = OverwritePolicy::kAsk;
  OutputForm form = OutputForm::kStored;
  const PasswordFile* passwords = nullptr;
  BatchConsole* console = nullptr;
  std::atomic<bool> cancelled{false};  // Ctrl-C: no job starts, each stops after its entry
};

// Where a running job stands, read by the progress line.
struct JobProgress {
  std::atomic<int> percent{0};
};

BatchRow RunJob(const BatchJob& job, BatchShared& shared, JobProgress& progress);

}  // namespace larkspool::cli
