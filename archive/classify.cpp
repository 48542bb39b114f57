#include "archive/classify.h"

#include <array>
#include <cerrno>

namespace larkspool {

Outcome ClassifyBackup(FileSystem& fs, const std::string& backupFile, BackupKind& kind) {
  std::array<std::uint8_t, format::kKindFieldsSize> fields{};
  {
    ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
    if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kBackupNotFound).About(backupFile);
    errno = 0;
    const bool positioned =
        fs.Seek(backup.get(), format::kKindOffset, SeekFrom::kStart) == format::kKindOffset;
    if (!positioned ||
        fs.Read(backup.get(), fields.data(), fields.size()) != static_cast<std::int64_t>(fields.size())) {
      return Outcome::FailWithErrno(StatusCode::kReadFailed, "file too short for a backup header");
    }
  }
  const Classification classification = ClassifyKindFields(fields);
  if (!classification.kind) return Outcome::Fail(classification.status);
  kind = *classification.kind;
  return Outcome::Ok();
}

}  // namespace larkspool
