// Classification: whether a file is a voice backup and of which kind.
#pragma once

#include <string>

#include "archive/backup_format.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

// Reads only the 8 bytes at offset 8. Fails with status 4 when the file
// cannot be opened, 10 when it is too short and 6 when the kind is unknown;
// `kind` is written only on success.
Outcome ClassifyBackup(FileSystem& fs, const std::string& backupFile, BackupKind& kind);

}  // namespace larkspool
