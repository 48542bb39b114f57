// One salvage run: the scan of a damaged backup with the progress display up,
// each message it finds written into the current directory under the output
// rules of an extraction (the overwrite policy, unsafe names refused, no file
// left half written by a write fault), and what was found gathered into a
// report. A run that writes nothing gives the same report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "archive/entry_options.h"
#include "archive/output_file.h"
#include "archive/salvage_scan.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

struct SalvageReport {
  // A run keeps the first kKept messages and the first kKept damaged ranges;
  // the rest are counted ("and N more"), so a hostile file cannot make the
  // report grow with its size.
  static constexpr std::size_t kKept = 10000;

  BackupKind kind = BackupKind::k3;  // the layout the backup was read as
  bool kindAssumed = false;          // the kind field is damaged; `kind` was the likeliest
  std::vector<SalvagedMessage> messages;
  std::vector<DamagedRange> damaged;
  std::vector<bool> kept;                     // per message: an existing file was kept, nothing written
  std::size_t savedBefore = 0;                // messages an Extract wrote before the salvage went on
  std::array<std::size_t, 4> moreMessages{};  // per state (its value): found past the first kKept
  std::size_t moreDamaged = 0;                // damaged ranges found past the first kKept
  bool unreadable = false;                    // some bytes of the backup could not be read

  // Messages in this state, the ones past kKept included.
  std::size_t Count(SalvageState state) const;
  // Anything found damaged: a range, a message not complete, a note.
  bool Damaged() const;
  // Adds what a scan tells, keeping it or counting it.
  void Add(const SalvagedMessage& message);
  void Add(const DamagedRange& range);
};

struct SalvageRequest {
  std::string backupFile;
  BackupKind kind = BackupKind::k3;
  std::int64_t from = 0;  // an entry or record start
  bool write = true;
  // The entries of a sound backup as the walkers take them: written as they
  // stand, with no search.
  const std::vector<SalvagedMessage>* sound = nullptr;
  // Payload offsets a run before this one wrote already: reported, not
  // written again.
  std::set<std::int64_t> written;
  // How the scan's stored names are read, as for an extraction (`select` is
  // not used: a salvage takes every message).
  EntryOptions naming;
  // The messages to take, by their payload's offset; unset, every one. A
  // message not taken is neither written nor reported.
  std::function<bool(std::int64_t offset)> chosen;
};

class SalvageRun {
 public:
  SalvageRun(FileSystem& fs, UserInterface& ui, Clock clock) : fs_(fs), ui_(ui), clock_(std::move(clock)) {}

  // Runs the scan with the progress display up. Bytes of the backup that
  // cannot be read are damage, not a fault. A fault (a write fault) is shown
  // before the display closes; after a fault or a cancel the report holds
  // everything found before it. Each copy moves the progress display itself.
  RunResult Run(const SalvageRequest& request, SalvageReport& report);

 private:
  FileSystem& fs_;
  UserInterface& ui_;
  Clock clock_;
};

// Sets the RIFF size and the data chunk size of a WAV file's first bytes,
// `head`, to fit a file of `size` bytes; the offsets and values to write
// into the copy, at most two.
struct SizeMend {
  std::size_t offset;
  std::uint32_t value;
};
std::vector<SizeMend> MendSizes(std::span<const std::uint8_t> head, std::uint64_t size);

}  // namespace larkspool
