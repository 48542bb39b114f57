#include "archive/backup_scan.h"

#include <cerrno>
#include <cstring>

#include "archive/entry_walker.h"
#include "archive/output_file.h"

namespace larkspool {
namespace {

class ScanningVisitor final : public EntryVisitor {
 public:
  ScanningVisitor(FileSystem& fs, FileHandle backup, ScanMode mode, std::vector<ListedEntry>& entries)
      : fs_(fs), backup_(backup), mode_(mode), entries_(entries) {}

  void OnWalkStart(std::int64_t fileSize, std::int64_t /*totalBytes*/) override { fileSize_ = fileSize; }

  Outcome OnFile(const StoredName& name, std::uint32_t size, std::int64_t offset) override {
    if (!IsSafeOutputName(name.view())) {
      return Outcome::Fail(StatusCode::kOpenFailed,
                           std::string(name.view()) + ": " + std::string(kUnsafeNameReason));
    }
    // The faults come in the order the copy meets them: its first chunk is
    // read and its tags tested before the rest of the payload is read.
    if (mode_ == ScanMode::kVerify) {
      const std::int64_t firstChunk = size < kCopyChunkSize ? size : kCopyChunkSize;
      if (offset + firstChunk > fileSize_) return PastTheEnd(name);
      if (Outcome tags = CheckTags(size); !tags.ok()) {
        return Outcome::Fail(tags.code(),
                             std::string(name.view()) + (tags.detail().empty() ? "" : ": ") + tags.detail());
      }
    }
    const std::int64_t end = offset + size;
    if (end > fileSize_) return PastTheEnd(name);
    if (fs_.Seek(backup_, end, SeekFrom::kStart) != end) {
      return Outcome::Fail(StatusCode::kReadFailed, std::strerror(errno));
    }
    entries_.push_back(ListedEntry{std::string(name.view()), size, offset});
    return Outcome::Ok();
  }

  void OnEntryDone(std::uint32_t /*headerBytes*/) override {}
  bool CancelRequested() override { return false; }

 private:
  static Outcome PastTheEnd(const StoredName& name) {
    return Outcome::Fail(StatusCode::kReadFailed,
                         std::string(name.view()) + ": backup ends inside a payload");
  }

  // The same test as the copy's first chunk: a payload shorter than the tags
  // meets the 0xFF fill and fails.
  Outcome CheckTags(std::uint32_t size) {
    std::uint8_t tags[format::kWaveTagsSize];
    std::memset(tags, 0xFF, sizeof tags);
    const std::size_t wanted = size < sizeof tags ? size : sizeof tags;
    errno = 0;
    if (fs_.Read(backup_, tags, wanted) != static_cast<std::int64_t>(wanted)) {
      return Outcome::Fail(StatusCode::kReadFailed, errno != 0 ? std::strerror(errno) : "");
    }
    return HasWaveTags(tags) ? Outcome::Ok() : Outcome::Fail(StatusCode::kWaveFormat);
  }

  FileSystem& fs_;
  FileHandle backup_;
  ScanMode mode_;
  std::vector<ListedEntry>& entries_;
  std::int64_t fileSize_ = 0;
};

}  // namespace

Outcome ScanBackup(FileSystem& fs, FileHandle backup, BackupKind kind, ScanMode mode,
                   std::vector<ListedEntry>& entries) {
  ScanningVisitor visitor(fs, backup, mode, entries);
  return UsesPairRecords(kind) ? WalkPairedEntries(fs, backup, visitor)
                               : WalkSingleEntries(fs, backup, kind, visitor);
}

}  // namespace larkspool
