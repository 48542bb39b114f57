#include "archive/output_file.h"

#include <cerrno>

namespace larkspool {

OpenResult OutputWriter::OpenOutputFile(const std::string& name, ScopedFile& out) {
  failureReason_.clear();
  if (const std::string_view refusal = OutputNameRefusal(name); !refusal.empty()) {
    failureReason_ = refusal;
    return OpenResult::kFailed;
  }
  if (const FileHandle created = fs_.CreateExclusive(name.c_str()); created != kNoFile) {
    out.Reset(created);
    return OpenResult::kOpened;
  }
  // Only something standing at the name (a file, a directory, a link) is a
  // question for the user; a folder where nothing can be created is a fault.
  if (errno != EEXIST) {
    failureReason_ = ErrorText(errno);
    return OpenResult::kFailed;
  }

  // The user decides before anything is opened for overwrite.
  OverwriteAnswer answer = OverwriteAnswer::kYes;
  if (m_bOverwriteAll != 1) {
    answer = ui_.AskOverwrite(name);
    if (answer == OverwriteAnswer::kSkip) return OpenResult::kSkipped;
    if (answer != OverwriteAnswer::kYes && answer != OverwriteAnswer::kYesToAll)
      return OpenResult::kCancelled;
  }
  OpenResult result = OpenResult::kFailed;
  if (backup_ != kNoFile && fs_.SameFile(name.c_str(), backup_)) {
    failureReason_ = "refused, it is the backup being read";
  } else if (const FileHandle opened = fs_.OpenForOverwrite(name.c_str()); opened != kNoFile) {
    out.Reset(opened);
    result = OpenResult::kOpened;
  } else {
    failureReason_ = ErrorText(errno);
  }
  // Yes to All holds for the rest of the run even when this open failed.
  if (answer == OverwriteAnswer::kYesToAll) m_bOverwriteAll = 1;
  return result;
}

}  // namespace larkspool
