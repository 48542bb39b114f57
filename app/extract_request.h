// The Extract sequence: validate the request and enter the extraction folder,
// classify the backup, pass the password gate (kind 5 only), run the
// extraction. Each step either lets the sequence go on or ends it; a fault is
// shown once, by the sequence, and a cancel shows nothing.
#pragma once

#include <string>
#include <utility>

#include "archive/extraction_run.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

class Extractor {
 public:
  Extractor(FileSystem& fs, UserInterface& ui, Clock clock = &WallClockSeconds)
      : fs_(fs), ui_(ui), run_(fs, ui, std::move(clock)) {}

  // The whole request. After a successful validation the current directory
  // of the process is the extraction folder, and it stays so; a relative
  // backup path is then looked up there.
  RunResult OnExtract(const std::string& backupFile, const std::string& folder);

  const ExtractionRun& run() const { return run_; }
  void set_entry_options(EntryOptions options) { run_.set_entry_options(std::move(options)); }

 private:
  // Both paths given, and the folder entered; statuses 1, 2, 3 and 5.
  Outcome ValidateRequest(const std::string& backupFile, const std::string& folder);

  FileSystem& fs_;
  UserInterface& ui_;
  ExtractionRun run_;
};

}  // namespace larkspool
