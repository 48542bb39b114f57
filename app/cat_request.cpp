#include "app/cat_request.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "archive/payload.h"

namespace larkspool {
namespace {

Outcome Hand(const PayloadSink& sink, std::span<const std::uint8_t> bytes) {
  errno = 0;
  return sink(bytes) ? Outcome::Ok() : Outcome::FailWithErrno(StatusCode::kWriteFailed, "short write");
}

Outcome CopyOut(FileSystem& fs, const std::string& backupFile, const PayloadSpan& payload,
                const PayloadSink& sink) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile);
  if (fs.Seek(backup.get(), payload.offset, SeekFrom::kStart) != payload.offset) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed);
  }
  ChunkBuffer buffer;
  std::span<const std::uint8_t> bytes;
  if (Outcome first = ReadFirstChunk(fs, backup.get(), payload, buffer, bytes); !first.ok()) return first;
  std::size_t chunk = payload.first_chunk();
  std::uint32_t done = 0;
  for (;;) {
    if (Outcome handed = Hand(sink, bytes); !handed.ok()) return handed;
    done += static_cast<std::uint32_t>(chunk);
    if (done >= payload.size) return Outcome::Ok();
    chunk = std::min<std::size_t>(payload.size - done, kCopyChunkSize);
    errno = 0;
    if (fs.Read(backup.get(), buffer.data(), chunk) != static_cast<std::int64_t>(chunk)) {
      return Outcome::FailWithErrno(StatusCode::kReadFailed, "backup ends inside a payload");
    }
    bytes = std::span(buffer).first(chunk);
  }
}

}  // namespace

CatResult CatEntry(FileSystem& fs, UserInterface& ui, const std::string& backupFile, const std::string& name,
                   const EntryOptions& options, const PayloadSink& sink) {
  // Only the entries of that name are taken, so the names of the others are
  // not judged; their payloads are still checked to lie inside the backup.
  EntryOptions named = options;
  named.select = [&name](std::string_view entryName) { return entryName == name; };
  BackupListing listing;
  switch (InspectBackup(fs, ui, backupFile, ScanMode::kList, listing, named)) {
    case RunResult::kCompleted:
      break;
    case RunResult::kCancelled:
      return CatResult::kCancelled;
    case RunResult::kFailed:
    case RunResult::kProgressWindowFailed:
      return CatResult::kFailed;
  }
  if (listing.entries.empty()) return CatResult::kNoSuchEntry;
  const ListedEntry& last = listing.entries.back();
  const Outcome copied = CopyOut(fs, backupFile, PayloadSpan{last.offset, last.size}, sink).About(name);
  if (copied.failed()) ReportStatus(ui, copied);
  return copied.ok() ? CatResult::kWritten : CatResult::kFailed;
}

}  // namespace larkspool
