#include "archive/entry_walker.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace larkspool {
namespace {

std::string ErrorText(int error) { return error != 0 ? std::strerror(error) : "unexpected end of file"; }

// Positions the backup at the entry area. Returns the file size, or a fault.
Outcome PrepareWalk(FileSystem& fs, FileHandle backup, std::int64_t start, std::int64_t& fileSize) {
  fileSize = fs.Seek(backup, 0, SeekFrom::kEnd);
  if (fileSize < 0 || fs.Seek(backup, start, SeekFrom::kStart) != start) {
    return Outcome::Fail(StatusCode::kReadFailed, ErrorText(errno));
  }
  return Outcome::Ok();
}

// Reads one header or record into a fresh buffer. A read that comes short,
// including one at the end of the file, is a fault: the entries must fill the
// area exactly.
Outcome ReadRecord(FileSystem& fs, FileHandle backup, std::size_t size,
                   std::unique_ptr<std::uint8_t[]>& buffer) {
  buffer = fs.AllocateRecordBuffer(size);
  if (!buffer) return Outcome::Fail(StatusCode::kNoMemory, "out of memory");
  errno = 0;
  const std::int64_t got = fs.Read(backup, buffer.get(), size);
  if (got != static_cast<std::int64_t>(size)) {
    return Outcome::Fail(StatusCode::kReadFailed,
                         got < 0 ? ErrorText(errno) : "backup ends inside an entry header or record");
  }
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

  const std::int64_t limit = fileSize - start;
  std::int64_t consumed = 0;
  for (;;) {
    SelectedFile file;
    {
      std::unique_ptr<std::uint8_t[]> header;
      if (Outcome read = ReadRecord(fs, backup, format::kEntryHeaderSize, header); !read.ok()) return read;
      file = DecodeEntryHeader(header.get());
    }
    const std::int64_t payloadOffset = start + consumed + static_cast<std::int64_t>(format::kEntryHeaderSize);
    if (Outcome handled = visitor.OnFile(file.name, file.size, payloadOffset); !handled.ok()) return handled;

    consumed += static_cast<std::int64_t>(format::kEntryHeaderSize) + file.size;
    visitor.OnEntryDone(format::kEntryHeaderSize);
    // The last entry completes the walk even if Cancel came during it.
    if (consumed >= limit) return Outcome::Ok();
    if (visitor.CancelRequested()) return Outcome::Cancelled();
  }
}

Outcome WalkPairedEntries(FileSystem& fs, FileHandle backup, EntryVisitor& visitor) {
  const std::int64_t start = format::kPairRecordStart;
  std::int64_t fileSize = 0;
  if (Outcome prepared = PrepareWalk(fs, backup, start, fileSize); !prepared.ok()) return prepared;
  visitor.OnWalkStart(fileSize, fileSize - start);

  const std::int64_t limit = fileSize - start;
  std::int64_t consumed = 0;
  for (;;) {
    RecordSelection selection;
    {
      std::unique_ptr<std::uint8_t[]> record;
      if (Outcome read = ReadRecord(fs, backup, format::kPairRecordSize, record); !read.ok()) return read;
      selection = DecodePairRecord(record.get());
    }
    std::int64_t position = start + consumed + static_cast<std::int64_t>(format::kPairRecordSize);
    // File B's payload follows file A's, or the record when A is absent.
    for (const SelectedFile* file : {&selection.a, &selection.b}) {
      if (file->size == 0) continue;
      if (Outcome handled = visitor.OnFile(file->name, file->size, position); !handled.ok()) return handled;
      position += file->size;
    }

    consumed = position - start;
    visitor.OnEntryDone(format::kPairRecordSize);
    if (consumed >= limit) return Outcome::Ok();
    if (visitor.CancelRequested()) return Outcome::Cancelled();
  }
}

}  // namespace larkspool
