// How a backup that may be damaged is read, and whether its password must be
// checked before anything of it is saved, decided from everything its bytes
// show: the kind field, the entries or records that chain from the start of
// each layout, and the password digest. A damaged kind field must not open a
// protected backup: the paired layout is assumed possible until entries of
// the single-entry layout hold and no record does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "archive/backup_format.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

// What the 16 bytes at offset 24 say, read as a password digest.
enum class DigestReading {
  kNoPassword,  // first byte 0xFF: no password
  kPassword,    // a digest: a password protects the backup
  kDamaged,     // one byte repeated over the field (a wiped or erased block): no digest at all
  kUnreadable,  // a read error in the header
  kMissing,     // the file ends before the field does
};

// How far one layout holds from its start.
struct LayoutStart {
  std::size_t chained = 0;  // entries or records that chain from the start
  bool tagged = false;      // the first payload has its RIFF/WAVE tags (a cut or mis-sized first entry)
  // The evidence as one number: each entry that chains, and the tags.
  std::size_t weight() const { return chained + (tagged ? 1 : 0); }
};

struct LayoutEvidence {
  std::optional<BackupKind> field;  // the kind the kind field names, if any
  LayoutStart single;               // entries from byte 24 (kinds 3 and 4)
  LayoutStart longHeader;           // entries from byte 60 (kind 6)
  LayoutStart paired;               // records from byte 51 (kind 5)
  DigestReading digest = DigestReading::kUnreadable;
};

// Reads the header and counts the chains. Fails with status 4 when the
// backup cannot be opened and 10 when it is too short for a header (as
// classification does); a read error is evidence, not a failure.
Outcome ReadLayoutEvidence(FileSystem& fs, const std::string& backupFile, LayoutEvidence& evidence);

struct LayoutChoice {
  BackupKind kind = BackupKind::k3;
  bool assumed = false;         // not the kind the kind field names
  bool pairedPossible = false;  // the backup may be a paired one: the password gate applies
};

// The kind the field names, unless another layout holds further from its
// start; no value when the field names no kind and no layout holds at all
// (no voice backup).
std::optional<LayoutChoice> ChooseLayout(const LayoutEvidence& evidence);

// Why nothing may be saved when the backup may be paired and its digest
// cannot tell whether a password protects it; empty when it can.
std::string_view UndecidedGateReason(DigestReading digest);
// The one line shown then: "Nothing can be saved: REASON, and it cannot be
// told whether a mailbox password protects it."
std::string UndecidedGateText(DigestReading digest);

}  // namespace larkspool
