#include "app/extract_request.h"

#include "archive/classify.h"
#include "password/password_gate.h"

namespace larkspool {

Outcome ValidateRequest(FileSystem& fs, const std::string& backupFile, const std::string& folder) {
  if (backupFile.empty() && folder.empty()) return Outcome::Fail(StatusCode::kBothPathsEmpty);
  if (backupFile.empty()) return Outcome::Fail(StatusCode::kBackupPathEmpty);
  if (folder.empty()) return Outcome::Fail(StatusCode::kFolderPathEmpty);
  if (!fs.ChangeDirectory(folder.c_str())) {
    return Outcome::FailWithErrno(StatusCode::kFolderNotFound).About(folder);
  }
  return Outcome::Ok();
}

std::optional<DamagedStop> Extractor::damaged_stop() const {
  const WalkStop& stop = run_.last_stop();
  if (!lastRun_ || (stop.code != StatusCode::kWaveFormat && stop.code != StatusCode::kReadFailed))
    return std::nullopt;
  DamagedStop damaged = *lastRun_;
  damaged.entryStart = stop.entryStart;
  damaged.written = stop.written;
  damaged.writtenNames = stop.writtenNames;
  return damaged;
}

RunResult Extractor::OnExtract(const std::string& backupFile, const std::string& folder) {
  lastRun_.reset();
  Outcome step = ValidateRequest(fs_, backupFile, folder);
  BackupKind kind = BackupKind::k3;
  if (step.ok()) step = ClassifyBackup(fs_, backupFile, kind);
  if (step.ok() && kind == BackupKind::k5) step = CheckMailboxPassword(fs_, backupFile, ui_);
  if (!step.ok()) {
    if (step.failed()) ReportStatus(ui_, step);
    return step.result();
  }

  lastRun_ = DamagedStop{backupFile, folder, kind, 0, {}, {}};
  const RunResult result = run_.RunExtraction(backupFile, kind);
  if (result == RunResult::kProgressWindowFailed) {
    ui_.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
  }
  return result;
}

}  // namespace larkspool
