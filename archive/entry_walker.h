// The two walks over a backup's entry area. The walker owns the order of the
// steps and the end test; a visitor decides what each file it finds becomes
// (an extracted WAV file, a line of a listing, a checked payload).
#pragma once

#include <cstdint>

#include "archive/backup_format.h"
#include "archive/payload.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

class EntryVisitor {
 public:
  virtual ~EntryVisitor() = default;

  // Before the first entry. `totalBytes` is the count that stands for 100 %:
  // the file size less 24 for the single-entry kinds (also kind 6) and less
  // 51 for pair records.
  virtual void OnWalkStart(std::int64_t fileSize, std::int64_t totalBytes) = 0;
  // A file whose payload (never of size 0 for pair records) begins where the
  // backup handle stands. On success the visitor leaves the handle right
  // after the payload.
  virtual Outcome OnFile(const StoredName& name, const PayloadSpan& payload) = 0;
  // After each entry or record whose `headerBytes` have been read.
  virtual void OnEntryDone(std::uint32_t headerBytes) = 0;
  // Read after OnEntryDone, only while more entries remain.
  virtual bool CancelRequested() = 0;
};

// Kinds 3, 4 and 6: 80-byte entry headers, each followed by its payload.
Outcome WalkSingleEntries(FileSystem& fs, FileHandle backup, BackupKind kind, EntryVisitor& visitor);
// Kind 5: 256-byte pair records, each followed by the payloads it selects.
Outcome WalkPairedEntries(FileSystem& fs, FileHandle backup, EntryVisitor& visitor);

}  // namespace larkspool
