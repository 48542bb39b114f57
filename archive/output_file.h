// Output files: creating one under the overwrite policy and copying a payload
// into it in 16384-byte chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/backup_format.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

inline constexpr std::size_t kCopyChunkSize = 16384;

enum class OpenResult : int {
  kOpened = 0,     // the descriptor is in outFd
  kFailed = 1,     // neither created nor opened for overwrite: status 9
  kCancelled = 2,  // the user cancelled at the overwrite prompt
  kSkipped = 3,    // the user keeps the existing file; its payload is skipped
};

class OutputWriter {
 public:
  OutputWriter(FileSystem& fs, UserInterface& ui, ProgressReporter& progress)
      : fs_(fs), ui_(ui), progress_(progress) {}

  // A run starts without Yes to All. `backup` is the file the run reads,
  // which no output may replace.
  void BeginRun(FileHandle backup) {
    m_bOverwriteAll = 0;
    backup_ = backup;
  }

  // Creates `name` in the current directory. When something stands there
  // already, asks (unless Yes to All was given in this run) and then opens it
  // for overwrite. An unsafe name fails before anything is created or asked;
  // the backup itself (when it lies in the folder under an entry's name) is
  // never opened for overwrite.
  OpenResult OpenOutputFile(const StoredName& name, FileHandle& outFd);
  // Why the last OpenOutputFile failed, for the message's detail.
  const std::string& failure_reason() const { return failureReason_; }

  // Copies `size` bytes from `src`, positioned at the payload, to `dst`. Only
  // the first chunk is tested for the RIFF/WAVE tags, before anything is
  // written. Returns a failure with status 8, 10 or 11; closes nothing.
  Outcome CopyPayload(FileHandle src, FileHandle dst, std::uint32_t size);

 private:
  FileSystem& fs_;
  UserInterface& ui_;
  ProgressReporter& progress_;
  int m_bOverwriteAll = 0;
  FileHandle backup_ = kNoFile;
  std::string failureReason_;
};

}  // namespace larkspool
