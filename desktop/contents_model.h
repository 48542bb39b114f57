// The contents window of a desktop tool without its toolkit: the messages of
// one backup as rows, narrowed by a filter and sorted by a column, the status
// line, and the runs started from the window (Extract Selected, Extract All,
// Verify). A front end draws the rows the model shows, in its order, and
// passes the user's choices back as shown rows.
//
// Opening a backup passes the same classification and password gate as an
// Extract. A backup whose walk stops at damage (a payload without its tags,
// the file cut short, a name refused) opens with what a salvage would save: its rows are marked complete,
// partial or unnamed, and one line names the damaged byte ranges; its Extract saves as a salvage does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/backup_format.h"
#include "archive/wav_info.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool::desktop {

// The columns, in the order they are shown. kState is there only for a
// damaged backup (ContentsModel::columnCount()).
enum class ContentsColumn : int { kName = 0, kDuration, kSize, kFormat, kSampleRate, kState };
inline constexpr int kContentsColumns = 6;

// "Name", "Duration", "Size", "Format", "Sample rate", "State".
std::string_view ColumnHeading(ContentsColumn column);

// How much of a message of a damaged backup can be saved; every message of a
// sound backup is complete.
enum class RowState { kComplete, kPartial, kUnnamed };

// One message of the backup.
struct ContentsEntry {
  std::string name;               // the file an Extract writes (UTF-8 on Windows)
  std::uint64_t size = 0;         // the payload's bytes (a partial one: the bytes that can be saved)
  std::int64_t offset = 0;        // the payload's first byte in the backup
  std::optional<WaveInfo> audio;  // no value: the WAV header cannot be read
  RowState state = RowState::kComplete;
};

// "N messages, H:MM:SS in all" and, with a selection, "; K selected, M:SS"
// (H:MM:SS once the selection lasts an hour); "1 message" for one.
// ContentsModel::StatusText begins "N of M messages" while a filter hides
// some. Durations are summed over the
// messages whose header can be read, rounded to the second.
std::string ContentsStatusText(std::size_t messages, double seconds, std::size_t selected,
                               double selectedSeconds);
// "m:ss", or "h:mm:ss" from an hour on; rounded down to the second.
std::string ClockText(double seconds);

class ContentsModel {
 public:
  ContentsModel(FileSystem& fs, UserInterface& ui, Clock clock = &WallClockSeconds);
  ~ContentsModel();
  ContentsModel(const ContentsModel&) = delete;
  ContentsModel& operator=(const ContentsModel&) = delete;

  // Opens the backup and lists its messages. A fault shows its message and
  // fails, so does a wrong password; a cancelled password prompt fails and
  // shows nothing. A damaged backup opens with what a salvage would save
  // (the salvage's progress window comes up while it is read). Resets the
  // filter and the sort.
  bool Open(const std::string& backupFile);
  const std::string& backupFile() const { return backupFile_; }
  // "NAME.bkp - Larkspool": the text after the path's last separator.
  std::string Title() const;
  bool damaged() const { return damaged_; }
  // For a damaged backup, one line naming the damaged byte ranges
  // ("Damaged: bytes 1,024-2,047 (no entry header holds), ..."); empty for a
  // sound one.
  const std::string& damageText() const { return damageText_; }

  // Every message, in backup order.
  const std::vector<ContentsEntry>& entries() const { return entries_; }
  // The rows shown, after the filter and the sort: row i shows entry row(i).
  std::size_t size() const { return rows_.size(); }
  std::size_t row(std::size_t i) const { return rows_[i]; }
  const ContentsEntry& entryAt(std::size_t row) const { return entries_[rows_[row]]; }
  // 5, or 6 with the State column of a damaged backup.
  int columnCount() const { return damaged_ ? kContentsColumns : kContentsColumns - 1; }
  // The text of a cell: the name; the duration, format and rate as
  // `larkspool-cli list --long` prints them, "unknown" where the header
  // cannot be read; the size in bytes; "complete", "partial", "unnamed".
  std::string Cell(std::size_t row, ContentsColumn column) const;

  // Shows only the messages whose name contains `text` (letter case aside),
  // or, when it holds '*' or '?', whose whole name matches it as a pattern
  // of the command line (sets in brackets too; letter case aside). An empty text shows every message. The
  // sort stays.
  void SetFilter(std::string text);
  const std::string& filter() const { return filter_; }
  // Orders the rows by the column's value (not its text: a duration as
  // seconds, a size as a number); rows of equal value keep backup order,
  // rows without the value come last. The filter stays.
  void SortBy(ContentsColumn column, bool ascending);

  // The status line for the shown rows and the selected ones among them.
  std::string StatusText(const std::vector<std::size_t>& selectedRows) const;

  // Writes the messages of the shown rows `rows` (all of them) into
  // `folder` as an Extract does: the progress window, the overwrite prompt,
  // the catalogue's messages, the folder entered; the password given at
  // Open is not asked again. A damaged backup saves as a salvage does,
  // writes its report and shows its summary.
  RunResult ExtractRows(const std::vector<std::size_t>& rows, const std::string& folder);
  RunResult ExtractAll(const std::string& folder);
  // Checks every payload as `larkspool-cli verify` does, with the progress
  // window; ends with the fault's message or kVerifiedText.
  RunResult Verify();

  FileSystem& fs() { return fs_; }
  UserInterface& ui() { return ui_; }

 private:
  class KeptPassword;

  bool OpenDamaged(KeptPassword& kept);
  void Refilter();
  RunResult Extract(const std::vector<bool>& chosen, const std::string& folder);
  RunResult ExtractEntries(const std::vector<bool>& chosen, const std::string& folder);
  RunResult SalvageEntries(const std::vector<bool>& chosen, const std::string& folder);

  FileSystem& fs_;
  UserInterface& ui_;
  Clock clock_;
  std::string backupFile_;
  BackupKind kind_ = BackupKind::k3;  // the layout the rows were read in
  bool damaged_ = false;
  std::string damageText_;
  std::optional<std::string> password_;  // the one that passed the gate
  std::vector<ContentsEntry> entries_;
  std::vector<std::size_t> order_;  // every entry, in the sort's order
  std::vector<std::size_t> rows_;   // those of order_ the filter shows
  std::string filter_;
};

// What Verify shows when every payload holds: "N messages checked, no
// fault found." (one message: "1 message checked, ...").
std::string VerifiedText(std::size_t messages);

}  // namespace larkspool::desktop
