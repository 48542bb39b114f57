#include "archive/backup_scan.h"

#include "archive/entry_walker.h"
#include "archive/payload.h"
#include "platform/buffered_reads.h"

namespace larkspool {
namespace {

class ScanningVisitor final : public EntryVisitor {
 public:
  ScanningVisitor(FileSystem& fs, FileHandle backup, ScanMode mode, std::vector<ListedEntry>& entries)
      : fs_(fs), backup_(backup), mode_(mode), entries_(entries) {}

  void OnWalkStart(std::int64_t fileSize, std::int64_t /*totalBytes*/) override { fileSize_ = fileSize; }

  Outcome OnFile(const StoredName& name, const PayloadSpan& payload) override {
    if (Outcome checked = Check(name, payload); !checked.ok()) return checked.About(name.view());
    entries_.push_back(ListedEntry{std::string(name.view()), payload.size, payload.offset});
    return Outcome::Ok();
  }

  void OnEntryDone(std::uint32_t /*headerBytes*/) override {}
  bool CancelRequested() override { return false; }

 private:
  // The faults come in the order a copy meets them: the name, then the
  // first chunk and its tags, then the rest of the payload.
  Outcome Check(const StoredName& name, const PayloadSpan& payload) {
    if (const std::string_view refusal = OutputNameRefusal(name.view()); !refusal.empty())
      return Outcome::Fail(StatusCode::kOpenFailed, std::string(refusal));
    if (mode_ == ScanMode::kVerify) {
      ChunkBuffer buffer;
      if (Outcome tags = ReadFirstChunk(fs_, backup_, payload, buffer); !tags.ok()) return tags;
    }
    return SkipPayload(fs_, backup_, payload, fileSize_);
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
  // Headers come from a window over the backup, as in extraction.
  BufferedReads reads(fs, backup);
  ScanningVisitor visitor(reads, backup, mode, entries);
  return UsesPairRecords(kind) ? WalkPairedEntries(reads, backup, visitor)
                               : WalkSingleEntries(reads, backup, kind, visitor);
}

}  // namespace larkspool
