// The salvage requests: save every message a damaged backup still holds, show
// what a salvage would save without writing anything, and go on from where
// an Extract stopped at a damaged entry. The password stays a gate: a backup
// read as paired needs its password exactly as an extraction does.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/extract_request.h"
#include "archive/salvage_run.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

inline constexpr std::string_view kSalvageReportFile = "larkspool-salvage.txt";
// The question a desktop tool asks (Yes / No, question icon) after the
// message of an Extract that stopped at a damaged entry (damaged_stop()).
inline constexpr std::string_view kSalvageOfferText =
    "The backup is damaged. Save the messages that can still be read?";

class Salvager {
 public:
  Salvager(FileSystem& fs, UserInterface& ui, Clock clock = &WallClockSeconds)
      : fs_(fs), ui_(ui), run_(fs, ui, std::move(clock)) {}

  // The whole request into `folder`, checked and entered as an Extract does.
  // A backup whose kind field is damaged is read in the layout under which
  // the most entries chain. A sound backup is written exactly as an Extract
  // writes it. A fault is shown through the interface; the report holds what
  // was found before it.
  RunResult OnSalvage(const std::string& backupFile, const std::string& folder, SalvageReport& report);
  // The same, writing nothing: what a salvage would save.
  RunResult Inspect(const std::string& backupFile, SalvageReport& report);
  // Goes on after an Extract that stopped at a damaged entry: from that
  // entry on, with the same progress display and overwrite prompt, without
  // writing again what the Extract wrote. Writes the report into
  // FOLDER/larkspool-salvage.txt and sets `summary` to the text to show.
  RunResult GoOn(const DamagedStop& stop, SalvageReport& report, std::string& summary);

 private:
  RunResult Salvage(const std::string& backupFile, bool write, SalvageReport& report);

  FileSystem& fs_;
  UserInterface& ui_;
  SalvageRun run_;
};

// The report as lines of text: the layout, each message with its state and
// file, the damaged byte ranges, and the counts.
// `show` turns a stored name into the text shown; by default the bytes as
// they are.
using NameShown = std::function<std::string(std::string_view)>;
std::string SalvageReportText(const SalvageReport& report, std::string_view backupFile,
                              const NameShown& show = {});
// "N messages saved, P in part, U without their names; the damaged parts are
// listed in FOLDER/larkspool-salvage.txt"
std::string SalvageSummary(const SalvageReport& report, std::string_view folder);

}  // namespace larkspool
