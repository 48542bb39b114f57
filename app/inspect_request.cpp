#include "app/inspect_request.h"

#include "archive/classify.h"
#include "password/password_gate.h"

namespace larkspool {

Outcome ListBackup(FileSystem& fs, UserInterface& ui, const std::string& backupFile, ScanMode mode,
                   BackupListing& listing, const EntryOptions& options) {
  if (backupFile.empty()) return Outcome::Fail(StatusCode::kBackupPathEmpty);
  if (Outcome classified = ClassifyBackup(fs, backupFile, listing.kind); !classified.ok()) return classified;
  if (listing.kind == BackupKind::k5) {
    if (Outcome gate = CheckMailboxPassword(fs, backupFile, ui, &listing.passwordProtected); !gate.ok()) {
      return gate;
    }
  }
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile);
  return ScanBackup(fs, backup.get(), listing.kind, mode, listing.entries, options);
}

RunResult InspectBackup(FileSystem& fs, UserInterface& ui, const std::string& backupFile, ScanMode mode,
                        BackupListing& listing, const EntryOptions& options) {
  const Outcome outcome = ListBackup(fs, ui, backupFile, mode, listing, options);
  if (outcome.failed()) ReportStatus(ui, outcome);
  return outcome.result();
}

}  // namespace larkspool
