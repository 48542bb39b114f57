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

// The payload at `backup`'s position handed to `sink` as it is stored, its
// first chunk only after the tag test.
Outcome HandStoredPayload(FileSystem& fs, FileHandle backup, const PayloadSpan& payload,
                          const PayloadSink& sink) {
  ChunkBuffer buffer;
  std::span<const std::uint8_t> bytes;
  if (Outcome first = ReadFirstChunk(fs, backup, payload, buffer, bytes); !first.ok()) return first;
  std::size_t chunk = payload.first_chunk();
  std::uint32_t done = 0;
  for (;;) {
    if (Outcome handed = Hand(sink, bytes); !handed.ok()) return handed;
    done += static_cast<std::uint32_t>(chunk);
    if (done >= payload.size) return Outcome::Ok();
    chunk = std::min<std::size_t>(payload.size - done, kCopyChunkSize);
    errno = 0;
    if (fs.Read(backup, buffer.data(), chunk) != static_cast<std::int64_t>(chunk)) {
      return Outcome::FailWithErrno(StatusCode::kReadFailed, "backup ends inside a payload");
    }
    bytes = std::span(buffer).first(chunk);
  }
}

Outcome OpenAndHand(FileSystem& fs, const std::string& backupFile, const PayloadSpan& payload,
                    const PayloadHandler& handle) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile);
  if (fs.Seek(backup.get(), payload.offset, SeekFrom::kStart) != payload.offset) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed);
  }
  return handle(fs, backup.get(), payload);
}

}  // namespace

CatResult CatEntry(FileSystem& fs, UserInterface& ui, const std::string& backupFile, const std::string& name,
                   const EntryOptions& options, const PayloadSink& sink) {
  return CatEntryAs(fs, ui, backupFile, name, options,
                    [&sink](FileSystem& within, FileHandle backup, const PayloadSpan& payload) {
                      return HandStoredPayload(within, backup, payload, sink);
                    });
}

CatResult CatEntryAs(FileSystem& fs, UserInterface& ui, const std::string& backupFile,
                     const std::string& name, const EntryOptions& options, const PayloadHandler& handle) {
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
  const Outcome copied = OpenAndHand(fs, backupFile, PayloadSpan{last.offset, last.size}, handle).About(name);
  if (copied.failed()) ReportStatus(ui, copied);
  return copied.ok() ? CatResult::kWritten : CatResult::kFailed;
}

}  // namespace larkspool
