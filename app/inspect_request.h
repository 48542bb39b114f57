// The list and verify requests: the same classification and password gate as
// an extraction, then a walk that writes nothing.
#pragma once

#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "archive/backup_scan.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool {

struct BackupListing {
  BackupKind kind = BackupKind::k3;
  bool passwordProtected = false;
  std::vector<ListedEntry> entries;
};

// Shows the fault's message through `ui` when it fails, nothing when the
// password prompt is cancelled. The backup path is used as given; `options`
// map the names and choose the entries listed.
RunResult InspectBackup(FileSystem& fs, UserInterface& ui, const std::string& backupFile, ScanMode mode,
                        BackupListing& listing, const EntryOptions& options = {});
// The same, showing nothing: the caller learns the fault (and where the walk
// stopped, from the entries listed before it) and decides what to show. The
// password prompt is still asked through `ui`.
Outcome ListBackup(FileSystem& fs, UserInterface& ui, const std::string& backupFile, ScanMode mode,
                   BackupListing& listing, const EntryOptions& options = {});

}  // namespace larkspool
