// The salvage scan: reads a damaged backup from its entry area to its end and
// never stops at a fault, a read error included. Entries that chain are taken
// under their names; after a fault the scan searches forward for the next
// place where the layout holds again, and payloads with RIFF/WAVE tags and a
// format chunk that no trusted header names are carved out. Bytes that cannot
// be read are damage like any other: the scan reads on after them. It reads
// the backup once, front to back, through one window that only moves forward,
// so its time grows with the file's size and its memory does not. The scan
// itself writes nothing: a visitor hears, in file order, every message found
// and every damaged byte range, as they are found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/backup_format.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

enum class SalvageState {
  kComplete,  // byte for byte under its stored name
  kPartial,   // header intact, but the payload is cut (by the end of the file, by bytes that
              // cannot be read, by zeros running into the next header) or its end is
              // unverified: STEM.partial.wav
  kUnnamed,   // carved by its tags, or its name is refused: recovered-OFFSET.wav
  kLost,      // a header names it, but nothing of its payload can be trusted
};

std::string_view StateName(SalvageState state);

struct SalvagedMessage {
  SalvageState state = SalvageState::kLost;
  std::string storedName;      // the name a header gives it; empty when carved
  std::string outputName;      // the file it is saved as; empty when lost
  std::int64_t offset = 0;     // its payload's first byte in the backup
  std::uint64_t saved = 0;     // bytes saved (N)
  std::uint64_t declared = 0;  // bytes it should have (M)
  std::string note;            // why it is not complete, for the report
  // The copy's RIFF size and data chunk size are set to the bytes saved.
  bool mendSizes() const { return saved < declared && state != SalvageState::kLost; }
};

// The reason of a DamagedRange whose bytes the system could not read.
inline constexpr std::string_view kUnreadableReason = "cannot be read";

// Bytes [begin, end) of the backup that no message or header accounts for;
// `end` lies past the file's end for a payload the end of the file cuts.
struct DamagedRange {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  std::string reason;
  bool unreadable = false;  // the system could not read these bytes (a bad block)
};

class SalvageVisitor {
 public:
  virtual ~SalvageVisitor() = default;
  // A message found; the visitor may move the backup handle, the scan
  // positions it again. A failure (a write fault) or a cancel ends the scan.
  // Every byte of the `saved` bytes was read once already.
  virtual Outcome OnMessage(const SalvagedMessage& message) = 0;
  virtual void OnDamage(const DamagedRange& range) = 0;
  // The scan has looked at every byte before `position` and told of
  // everything found there. Called at each entry and at least every MiB
  // scanned or 1,000 candidates searched; while the scan reads a message's
  // payload the position stays at the message's first byte, so a visitor
  // that copies the message can count the copy itself. CancelRequested is
  // asked right after each call.
  virtual void OnProgress(std::int64_t position) = 0;
  virtual bool CancelRequested() = 0;
};

// The output names the scan gives: "recovered-OFFSET.wav" and the stored
// name's stem with ".partial.wav".
std::string RecoveredName(std::int64_t offset);
std::string PartialName(std::string_view storedName);

// Scans the backup laid out as `kind` from `from` (an entry or record start,
// normally the entry-area start) to its end. Fails only when the backup's size
// cannot be told, or with what the visitor returns (a failure or a cancel);
// everything found before that has been heard.
Outcome SalvageScan(FileSystem& fs, FileHandle backup, BackupKind kind, std::int64_t from,
                    SalvageVisitor& visitor);

// How many entries or records chain from the entry-area start of `kind`
// before the first fault: the measure by which a damaged kind field is
// replaced with the likeliest layout. An entry counts when the scan would take
// it under its name: a plausible name, a tagged payload and sizes the layout
// confirms. Records that select no file are passed over, not counted. 0 for a
// file that is no backup in that layout (random bytes, a picture, a text).
std::size_t CountChainedEntries(FileSystem& fs, FileHandle backup, BackupKind kind);

}  // namespace larkspool
