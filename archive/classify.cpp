#include "archive/classify.h"

#include <cerrno>
#include <cstring>

namespace larkspool {

Outcome ClassifyBackup(FileSystem& fs, const std::string& backupFile, BackupKind& kind) {
  std::uint8_t fields[format::kKindFieldsSize];
  {
    ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
    if (!backup.valid()) {
      return Outcome::Fail(StatusCode::kBackupNotFound, backupFile + ": " + std::strerror(errno));
    }
    errno = 0;
    const bool positioned =
        fs.Seek(backup.get(), format::kKindOffset, SeekFrom::kStart) == format::kKindOffset;
    if (!positioned ||
        fs.Read(backup.get(), fields, sizeof fields) != static_cast<std::int64_t>(sizeof fields)) {
      return Outcome::Fail(StatusCode::kReadFailed,
                           errno != 0 ? std::strerror(errno) : "file too short for a backup header");
    }
  }
  const Classification classification = ClassifyKindFields(fields);
  if (!classification.kind) return Outcome::Fail(classification.status);
  kind = *classification.kind;
  return Outcome::Ok();
}

}  // namespace larkspool
