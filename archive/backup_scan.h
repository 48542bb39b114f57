// Walking a backup without writing anything: the files an extraction would
// create, and for verification the tags of every payload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "archive/entry_options.h"
#include "archive/wav_info.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

enum class ScanMode {
  kList,    // the structure only
  kVerify,  // also the RIFF/WAVE tags of every payload
};

struct ListedEntry {
  std::string name;  // the stored bytes, unchanged unless the options map them
  std::uint32_t size;
  std::int64_t offset;                           // the payload's first byte in the backup
  std::optional<WaveInfo> audio = std::nullopt;  // filled only on request
};

// Walks the entry area exactly as extraction does and stops at the first
// fault with the status extraction would report for it: 10 for a short
// header or a payload past the end, 9 for an unsafe name, 8 (verify only)
// for a payload without the tags.
// With `options`, each entry is listed under its mapped name, and an entry
// not taken is passed over.
// What a scan shown in a progress window reports as it goes: the bytes
// walked, after each entry, and whether Cancel was pressed.
struct ScanProgress {
  ProgressReporter& progress;
  const CancelFlag& cancel;
};

Outcome ScanBackup(FileSystem& fs, FileHandle backup, BackupKind kind, ScanMode mode,
                   std::vector<ListedEntry>& entries, const EntryOptions& options = {},
                   ScanProgress* shown = nullptr);

}  // namespace larkspool
