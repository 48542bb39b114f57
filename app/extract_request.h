// The Extract sequence: validate the request and enter the extraction folder,
// classify the backup, pass the password gate (kind 5 only), run the
// extraction. Each step either lets the sequence go on or ends it; a fault is
// shown once, by the sequence, and a cancel shows nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/extraction_run.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

// An Extract that stopped at a damaged entry: what a salvage goes on from.
struct DamagedStop {
  std::string backupFile;
  std::string folder;  // as given; the current directory is this folder
  BackupKind kind = BackupKind::k3;
  std::int64_t entryStart = 0;            // the entry or record the walk stopped in
  std::vector<std::int64_t> written;      // the payload offsets of the files the run wrote
  std::vector<std::string> writtenNames;  // and the names it wrote them under
};

// Both paths given, and the folder entered (it stays the current
// directory); statuses 1, 2, 3 and 5. Paths are taken exactly as given: a
// path of blanks is not empty.
Outcome ValidateRequest(FileSystem& fs, const std::string& backupFile, const std::string& folder);

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
  void set_payload_converter(PayloadConverter converter) { run_.set_payload_converter(std::move(converter)); }
  // After OnExtract failed: where, when the walk itself stopped at a damaged
  // entry (status 8, a payload without its tags, or 10, the backup read
  // short); nothing after any other fault or outcome.
  std::optional<DamagedStop> damaged_stop() const;

 private:
  FileSystem& fs_;
  UserInterface& ui_;
  ExtractionRun run_;
  std::optional<DamagedStop> lastRun_;  // the backup, folder and kind of the last run
};

}  // namespace larkspool
