#include "archive/backup_scan.h"

#include "archive/entry_walker.h"
#include "archive/payload.h"
#include "platform/buffered_reads.h"

namespace larkspool {
namespace {

class ScanningVisitor final : public EntryVisitor {
 public:
  ScanningVisitor(FileSystem& fs, FileHandle backup, ScanMode mode, std::vector<ListedEntry>& entries,
                  const EntryOptions& options, ScanProgress* shown)
      : fs_(fs), backup_(backup), mode_(mode), entries_(entries), options_(options), shown_(shown) {}

  void OnWalkStart(std::int64_t fileSize, std::int64_t totalBytes) override {
    fileSize_ = fileSize;
    if (shown_ == nullptr) return;
    shown_->progress.SetTotal(totalBytes);
    shown_->progress.ResetProgress();
  }

  Outcome OnFile(const StoredName& stored, const PayloadSpan& payload) override {
    std::string name;
    if (Outcome named = NameEntry(options_, stored, name); !named.ok()) return named;
    if (!TakesEntry(options_, name)) return SkipPayload(fs_, backup_, payload, fileSize_).About(name);
    if (Outcome checked = Check(name, payload); !checked.ok()) return checked.About(name);
    entries_.push_back(ListedEntry{std::move(name), payload.size, payload.offset});
    if (shown_ != nullptr) shown_->progress.AddDone(payload.size);
    return Outcome::Ok();
  }

  void OnEntryDone(std::uint32_t headerBytes) override {
    if (shown_ == nullptr) return;
    shown_->progress.AddDone(headerBytes);
    shown_->progress.UpdatePercent();
    shown_->progress.UpdateElapsed();
    shown_->progress.PumpMessages();
  }
  bool CancelRequested() override { return shown_ != nullptr && shown_->cancel.IsRaised(); }

 private:
  // The faults come in the order a copy meets them: the name, then the
  // first chunk and its tags, then the rest of the payload.
  Outcome Check(std::string_view name, const PayloadSpan& payload) {
    if (const std::string_view refusal = OutputNameRefusal(name); !refusal.empty())
      return Outcome::Fail(StatusCode::kOpenFailed, std::string(refusal));
    if (mode_ == ScanMode::kVerify) {
      ChunkBuffer buffer;
      std::span<const std::uint8_t> chunk;
      if (Outcome tags = ReadFirstChunk(fs_, backup_, payload, buffer, chunk); !tags.ok()) return tags;
    }
    return SkipPayload(fs_, backup_, payload, fileSize_);
  }

  FileSystem& fs_;
  FileHandle backup_;
  ScanMode mode_;
  std::vector<ListedEntry>& entries_;
  const EntryOptions& options_;
  ScanProgress* shown_;
  std::int64_t fileSize_ = 0;
};

}  // namespace

Outcome ScanBackup(FileSystem& fs, FileHandle backup, BackupKind kind, ScanMode mode,
                   std::vector<ListedEntry>& entries, const EntryOptions& options, ScanProgress* shown) {
  // Headers come from a window over the backup, as in extraction.
  BufferedReads reads(fs, backup);
  ScanningVisitor visitor(reads, backup, mode, entries, options, shown);
  return UsesPairRecords(kind) ? WalkPairedEntries(reads, backup, visitor)
                               : WalkSingleEntries(reads, backup, kind, visitor);
}

}  // namespace larkspool
