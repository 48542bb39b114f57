#include "archive/entry_walker.h"

#include <cerrno>
#include <span>

namespace larkspool {
namespace {

// Positions the backup at the entry area. Returns the file size, or a fault.
Outcome PrepareWalk(FileSystem& fs, FileHandle backup, std::int64_t start, std::int64_t& fileSize) {
  errno = 0;
  fileSize = fs.Seek(backup, 0, SeekFrom::kEnd);
  if (fileSize < 0 || fs.Seek(backup, start, SeekFrom::kStart) != start) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed, "unexpected end of file");
  }
  return Outcome::Ok();
}

// Reads one header or record of `Size` bytes into a fresh buffer and decodes
// it. A read that comes short, including one at the end of the file, is a
// fault: the entries must fill the area exactly.
template <std::size_t Size, typename Decoded>
Outcome ReadRecord(FileSystem& fs, FileHandle backup, Decoded (*decode)(std::span<const std::uint8_t, Size>),
                   Decoded& decoded) {
  const std::unique_ptr<std::uint8_t[]> buffer = fs.AllocateRecordBuffer(Size);
  if (!buffer) return Outcome::Fail(StatusCode::kNoMemory, "out of memory");
  errno = 0;
  const std::int64_t got = fs.Read(backup, buffer.get(), Size);
  if (got != static_cast<std::int64_t>(Size)) {
    return got < 0 ? Outcome::FailWithErrno(StatusCode::kReadFailed)
                   : Outcome::Fail(StatusCode::kReadFailed, "backup ends inside an entry header or record");
  }
  decoded = decode(std::span<const std::uint8_t, Size>(buffer.get(), Size));
  return Outcome::Ok();
}

}  // namespace

Outcome WalkSingleEntries(FileSystem& fs, FileHandle backup, BackupKind kind, EntryVisitor& visitor) {
  const std::int64_t start = EntryAreaStart(kind);
  std::int64_t fileSize = 0;
  if (Outcome prepared = PrepareWalk(fs, backup, start, fileSize); !prepared.ok()) return prepared;
  // 100 % is the file size less 24 for kind 6 as well, so a kind 6 walk ends
  // 36 bytes short of it: a large backup still ends at 100 %, a small one
  // somewhat below.
  visitor.OnWalkStart(fileSize, fileSize - format::kSingleEntryStart);

  constexpr auto kHeaderSize = static_cast<std::int64_t>(format::kEntryHeaderSize);
  std::int64_t position = start;
  for (;;) {
    SelectedFile file;
    if (Outcome read = ReadRecord(fs, backup, &DecodeEntryHeader, file); !read.ok()) return read;
    const PayloadSpan payload{position + kHeaderSize, file.size};
    if (Outcome handled = visitor.OnFile(file.name, payload); !handled.ok()) return handled;

    position = payload.end();
    visitor.OnEntryDone(format::kEntryHeaderSize);
    // The last entry completes the walk even if Cancel came during it.
    if (position >= fileSize) return Outcome::Ok();
    if (visitor.CancelRequested()) return Outcome::Cancelled();
  }
}

Outcome WalkPairedEntries(FileSystem& fs, FileHandle backup, EntryVisitor& visitor) {
  const std::int64_t start = format::kPairRecordStart;
  std::int64_t fileSize = 0;
  if (Outcome prepared = PrepareWalk(fs, backup, start, fileSize); !prepared.ok()) return prepared;
  visitor.OnWalkStart(fileSize, fileSize - start);

  std::int64_t position = start;
  for (;;) {
    RecordSelection selection;
    if (Outcome read = ReadRecord(fs, backup, &DecodePairRecord, selection); !read.ok()) return read;
    position += static_cast<std::int64_t>(format::kPairRecordSize);
    // File B's payload follows file A's, or the record when A is absent.
    for (const SelectedFile* file : {&selection.a, &selection.b}) {
      if (file->size == 0) continue;
      const PayloadSpan payload{position, file->size};
      if (Outcome handled = visitor.OnFile(file->name, payload); !handled.ok()) return handled;
      position = payload.end();
    }

    visitor.OnEntryDone(format::kPairRecordSize);
    if (position >= fileSize) return Outcome::Ok();
    if (visitor.CancelRequested()) return Outcome::Cancelled();
  }
}

}  // namespace larkspool
