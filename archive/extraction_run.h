// One extraction run: the backup is opened, the progress display comes up
// with the backup's name and date, the walker that fits the kind writes every
// file, and the outcome is shown before the display closes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/backup_format.h"
#include "archive/entry_options.h"
#include "archive/output_file.h"
#include "archive/payload.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

// "Backup File: " and the text after the path's last backslash.
std::string FileLine(const std::string& backupPath);
// "Date: MM/DD/YYYY hh:mm" in local time.
std::string DateLine(std::int64_t lastWriteTime);

// Where the last run's walk stopped at a fault, and what it wrote first.
struct WalkStop {
  StatusCode code = StatusCode::kSuccess;  // the walk's fault, or success
  std::int64_t entryStart = 0;             // the entry or record it came in
  std::vector<std::int64_t> written;       // the payload offsets of the files written
  std::vector<std::string> writtenNames;   // and their names
};

class ExtractionRun {
 public:
  ExtractionRun(FileSystem& fs, UserInterface& ui, Clock clock)
      : fs_(fs), ui_(ui), progress_(ui, std::move(clock)), output_(fs, ui) {}

  // Runs the whole extraction of an already classified backup into the
  // current directory. A fault has been shown when this returns kFailed; a
  // completed run has shown "Extraction completed.".
  RunResult RunExtraction(const std::string& backupFile, BackupKind kind);

  const ProgressReporter& progress() const { return progress_; }
  const WalkStop& last_stop() const { return stop_; }
  // The names and the choice of entries of the runs to come; by default
  // every entry under its stored name.
  void set_entry_options(EntryOptions options) { options_ = std::move(options); }
  const EntryOptions& entry_options() const { return options_; }
  // How the runs to come write each payload; unset, its bytes are copied
  // as they are stored.
  void set_payload_converter(PayloadConverter converter) { converter_ = std::move(converter); }

 private:
  // The walkers of a run, with the progress display open. Neither shows a
  // message; the run reports a failure while the display is still up.
  Outcome Walk(FileHandle backup, BackupKind kind);
  Outcome ExtractSingleEntries(FileHandle backup, BackupKind kind);
  Outcome ExtractPairedEntries(FileHandle backup);

  FileSystem& fs_;
  UserInterface& ui_;
  ProgressReporter progress_;
  OutputWriter output_;
  CancelFlag cancel_;
  EntryOptions options_;
  PayloadConverter converter_;
  WalkStop stop_;
};

}  // namespace larkspool
