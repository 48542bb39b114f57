// Output files: creating one in the current directory under the overwrite
// policy, which asks the user before an existing file is replaced.
#pragma once

#include <string>

#include "archive/backup_format.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool {

enum class OpenResult : int {
  kOpened = 0,     // the file is held by the ScopedFile given
  kFailed = 1,     // neither created nor opened for overwrite: status 9
  kCancelled = 2,  // the user cancelled at the overwrite prompt
  kSkipped = 3,    // the user keeps the existing file; its payload is skipped
};

class OutputWriter {
 public:
  OutputWriter(FileSystem& fs, UserInterface& ui) : fs_(fs), ui_(ui) {}

  // A run starts without Yes to All. `backup` is the file the run reads,
  // which no output may replace.
  void BeginRun(FileHandle backup) {
    m_bOverwriteAll = 0;
    backup_ = backup;
  }

  // Creates `name` in the current directory. When something stands there
  // already, asks (unless Yes to All was given in this run) and then opens it
  // for overwrite; any other reason the create fails is a failure at once.
  // An unsafe name fails before anything is created or asked; the backup
  // itself (when it lies in the folder under an entry's name) is never
  // opened for overwrite.
  OpenResult OpenOutputFile(const std::string& name, ScopedFile& out);
  // Why the last OpenOutputFile failed, for the message's detail.
  const std::string& failure_reason() const { return failureReason_; }

 private:
  FileSystem& fs_;
  UserInterface& ui_;
  int m_bOverwriteAll = 0;
  FileHandle backup_ = kNoFile;
  std::string failureReason_;
};

}  // namespace larkspool
