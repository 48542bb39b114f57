// The salvage requests: save every message a damaged backup still holds, show
// what a salvage would save without writing anything, and go on from where
// an Extract stopped at a damaged entry. The password stays a gate: whenever
// the backup may be a paired one it needs its password exactly as an
// extraction does, and when its header cannot tell whether a password
// protects it nothing is saved.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/extract_request.h"
#include "app/salvage_gate.h"
#include "archive/entry_options.h"
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
  // The layout is the kind field's unless another chains more entries from
  // its start (a damaged kind field); a file whose kind field names no kind
  // and in which nothing chains is no voice backup (status 6). A sound
  // backup is written exactly as an Extract writes it. A fault is shown
  // through the interface; the report holds what was found before it.
  RunResult OnSalvage(const std::string& backupFile, const std::string& folder, SalvageReport& report);
  // The same, writing nothing: what a salvage would save.
  RunResult Inspect(const std::string& backupFile, SalvageReport& report);
  // Goes on after an Extract that stopped at a damaged entry: from that
  // entry on, with the same progress display and overwrite prompt, without
  // writing again what the Extract wrote. Writes the report into the folder
  // (also after a fault or a cancel) and sets `summary` to the text to show.
  RunResult GoOn(const DamagedStop& stop, SalvageReport& report, std::string& summary);

  // How stored names are read, as for an extraction: by default the
  // platform's NameFromStored. Every message is taken (`select` is not used).
  void set_entry_options(EntryOptions options) {
    options_ = std::move(options);
    options_.select = nullptr;
  }
  // The messages the requests to come take, by their payload's offset;
  // unset, every one. A message not taken is neither saved nor reported.
  void set_chosen(std::function<bool(std::int64_t offset)> chosen) { chosen_ = std::move(chosen); }
  // Whether the last request got as far as the scan, so that its report
  // holds what was found: also after a fault or a cancel.
  bool scanned() const { return scanned_; }

 private:
  RunResult Salvage(const std::string& backupFile, bool write, SalvageReport& report);
  // Decides the layout and passes the password gate; the fault or refusal
  // has been shown when this fails.
  RunResult PassGate(const std::string& backupFile, LayoutChoice& choice);
  RunResult RunScan(SalvageRequest& request, SalvageReport& report);

  FileSystem& fs_;
  UserInterface& ui_;
  SalvageRun run_;
  EntryOptions options_;
  std::function<bool(std::int64_t)> chosen_;
  bool scanned_ = false;
};

// The report as lines of text: the layout, each message with its state and
// file, the damaged byte ranges, the unreadable bytes, the counts, and how a
// run that did not complete ended (`result`).
// `show` turns a stored name into the text shown; by default the bytes as
// they are.
using NameShown = std::function<std::string(std::string_view)>;
std::string SalvageReportText(const SalvageReport& report, std::string_view backupFile,
                              const NameShown& show = {}, RunResult result = RunResult::kCompleted);
// The bytes of the ranges the system could not read.
std::int64_t UnreadableBytes(const SalvageReport& report);
// The name of the report file: larkspool-salvage.txt, or when a message
// saved in the same run has that name (letter case aside), the first of
// larkspool-salvage-2.txt, -3, ... that none has.
std::string ReportFileName(const std::vector<std::string>& saved);
// "N messages saved, P in part, U without their names; the damaged parts are
// listed in FOLDER/REPORT" and, when the report file is not
// larkspool-salvage.txt, why.
std::string SalvageSummary(const SalvageReport& report, std::string_view folder,
                           std::string_view reportFile = kSalvageReportFile);

}  // namespace larkspool
