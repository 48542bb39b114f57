#include "archive/output_file.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace larkspool {

OpenResult OutputWriter::OpenOutputFile(const StoredName& name, FileHandle& outFd) {
  failureReason_.clear();
  if (!IsSafeOutputName(name.view())) {
    failureReason_ = kUnsafeNameReason;
    return OpenResult::kFailed;
  }
  const FileHandle created = fs_.CreateExclusive(name.c_str());
  if (created != kNoFile) {
    outFd = created;
    return OpenResult::kOpened;
  }

  // Whatever made the create fail (the file exists, a directory or a link has
  // the name), the user decides before anything is opened for overwrite.
  OverwriteAnswer answer = OverwriteAnswer::kYes;
  if (m_bOverwriteAll != 1) {
    answer = ui_.AskOverwrite(std::string(name.view()));
    if (answer == OverwriteAnswer::kSkip) return OpenResult::kSkipped;
    if (answer != OverwriteAnswer::kYes && answer != OverwriteAnswer::kYesToAll)
      return OpenResult::kCancelled;
  }
  OpenResult result = OpenResult::kFailed;
  if (backup_ != kNoFile && fs_.SameFile(name.c_str(), backup_)) {
    failureReason_ = "refused, it is the backup being read";
  } else if (const FileHandle opened = fs_.OpenForOverwrite(name.c_str()); opened != kNoFile) {
    outFd = opened;
    result = OpenResult::kOpened;
  } else {
    failureReason_ = std::strerror(errno);
  }
  // Yes to All holds for the rest of the run even when this open failed.
  if (answer == OverwriteAnswer::kYesToAll) m_bOverwriteAll = 1;
  return result;
}

Outcome OutputWriter::CopyPayload(FileHandle src, FileHandle dst, std::uint32_t size) {
  std::uint8_t buffer[kCopyChunkSize];
  std::uint32_t copied = 0;
  std::size_t chunk = size < kCopyChunkSize ? size : kCopyChunkSize;
  bool first = true;
  // A payload of size 0 is still one (empty) chunk, so it meets the tag test.
  do {
    if (first) {
      // The fill makes a payload shorter than the tags fail the test.
      std::memset(buffer, 0xFF, format::kWaveTagsSize);
    }
    errno = 0;
    if (fs_.Read(src, buffer, chunk) != static_cast<std::int64_t>(chunk)) {
      return Outcome::Fail(StatusCode::kReadFailed,
                           errno != 0 ? std::strerror(errno) : "backup ends inside a payload");
    }
    if (first && !HasWaveTags(buffer)) return Outcome::Fail(StatusCode::kWaveFormat);
    first = false;
    errno = 0;
    if (fs_.Write(dst, buffer, chunk) != static_cast<std::int64_t>(chunk)) {
      return Outcome::Fail(StatusCode::kWriteFailed, errno != 0 ? std::strerror(errno) : "short write");
    }
    copied += static_cast<std::uint32_t>(chunk);
    progress_.AddDone(chunk);
    progress_.UpdatePercent();
    if (size - copied < kCopyChunkSize) chunk = size - copied;
  } while (copied < size);
  return Outcome::Ok();
}

}  // namespace larkspool
