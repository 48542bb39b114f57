#include "app/salvage_request.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "app/name_pattern.h"
#include "archive/backup_scan.h"
#include "password/password_gate.h"

namespace larkspool {
namespace {

// The entries of a backup the walk reads to its end without a fault, as the
// walkers take them and under the names an extraction gives them; none when
// it meets a fault.
std::optional<std::vector<SalvagedMessage>> SoundEntries(FileSystem& fs, const std::string& backupFile,
                                                         BackupKind kind, const EntryOptions& options) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  std::vector<ListedEntry> entries;
  if (!backup.valid() || !ScanBackup(fs, backup.get(), kind, ScanMode::kVerify, entries, options).ok())
    return std::nullopt;
  std::vector<SalvagedMessage> messages;
  for (const ListedEntry& entry : entries) {
    messages.push_back(
        {SalvageState::kComplete, entry.name, entry.name, entry.offset, entry.size, entry.size, {}});
  }
  return messages;
}

// The report file in the current directory; an earlier one is replaced.
Outcome WriteReportFile(FileSystem& fs, const std::string& name, const std::string& text) {
  FileHandle file = fs.CreateExclusive(name.c_str());
  if (file == kNoFile && errno == EEXIST) file = fs.OpenForOverwrite(name.c_str());
  if (file == kNoFile) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(name);
  ScopedFile out(fs, file);
  errno = 0;
  if (fs.Write(file, text.data(), text.size()) != static_cast<std::int64_t>(text.size())) {
    out.Reset();
    fs.Unlink(name.c_str());
    return Outcome::FailWithErrno(StatusCode::kWriteFailed, "short write").About(name);
  }
  return Outcome::Ok();
}

std::string StateText(const SalvagedMessage& message) {
  std::string text(StateName(message.state));
  if (message.state != SalvageState::kLost && message.saved < message.declared) {
    text += " (" + std::to_string(message.saved) + " of " + std::to_string(message.declared) + " bytes)";
  }
  return text;
}

// The line that says why the report file has another name.
std::string ReportFileNote(std::string_view reportFile) {
  return reportFile == kSalvageReportFile
             ? std::string()
             : "the report is " + std::string(reportFile) + ": a message saved in this run is named " +
                   std::string(kSalvageReportFile);
}

}  // namespace

RunResult Salvager::PassGate(const std::string& backupFile, LayoutChoice& choice) {
  LayoutEvidence evidence;
  Outcome step = ReadLayoutEvidence(fs_, backupFile, evidence);
  std::optional<LayoutChoice> chosen;
  if (step.ok()) {
    chosen = ChooseLayout(evidence);
    // A header that cannot be read does not make the file no backup.
    if (!chosen && evidence.digest == DigestReading::kUnreadable) {
      ui_.ShowMessage(Message{UndecidedGateText(evidence.digest), MessageStyle::kStop, {}});
      return RunResult::kFailed;
    }
    if (!chosen) step = Outcome::Fail(StatusCode::kNotVoiceBackup);
  }
  if (step.ok()) {
    choice = *chosen;
    // A backup that may be paired passes the gate exactly as for an
    // extraction, whatever its kind field reads; carving without names is
    // for backups that are not paired or whose password was checked.
    if (choice.pairedPossible) {
      if (const std::string_view undecided = UndecidedGateReason(evidence.digest); !undecided.empty()) {
        ui_.ShowMessage(Message{UndecidedGateText(evidence.digest), MessageStyle::kStop, {}});
        return RunResult::kFailed;
      }
      if (evidence.digest == DigestReading::kPassword) step = CheckMailboxPassword(fs_, backupFile, ui_);
    }
  }
  if (step.failed()) ReportStatus(ui_, step);
  return step.result();
}

RunResult Salvager::RunScan(SalvageRequest& request, SalvageReport& report) {
  request.naming = options_;
  request.chosen = chosen_;
  scanned_ = true;
  const RunResult result = run_.Run(request, report);
  if (result == RunResult::kProgressWindowFailed) {
    scanned_ = false;
    ui_.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
  }
  return result;
}

RunResult Salvager::Salvage(const std::string& backupFile, bool write, SalvageReport& report) {
  report = SalvageReport{};
  scanned_ = false;
  LayoutChoice choice;
  if (const RunResult passed = PassGate(backupFile, choice); passed != RunResult::kCompleted) return passed;
  report.kindAssumed = choice.assumed;
  const std::optional<std::vector<SalvagedMessage>> sound =
      choice.assumed ? std::nullopt : SoundEntries(fs_, backupFile, choice.kind, options_);
  SalvageRequest request{
      backupFile, choice.kind, EntryAreaStart(choice.kind), write, sound ? &*sound : nullptr, {}, {}, {}};
  return RunScan(request, report);
}

RunResult Salvager::OnSalvage(const std::string& backupFile, const std::string& folder,
                              SalvageReport& report) {
  scanned_ = false;
  if (Outcome entered = ValidateRequest(fs_, backupFile, folder); !entered.ok()) {
    ReportStatus(ui_, entered);
    return entered.result();
  }
  return Salvage(backupFile, true, report);
}

RunResult Salvager::Inspect(const std::string& backupFile, SalvageReport& report) {
  scanned_ = false;
  if (backupFile.empty()) {
    ReportStatus(ui_, Outcome::Fail(StatusCode::kBackupPathEmpty));
    return RunResult::kFailed;
  }
  return Salvage(backupFile, false, report);
}

RunResult Salvager::GoOn(const DamagedStop& stop, SalvageReport& report, std::string& summary) {
  report = SalvageReport{};
  scanned_ = false;
  SalvageRequest request{stop.backupFile, stop.kind, stop.entryStart, true, nullptr, {}, {}, {}};
  // The Extract passed the gate for a kind field that reads 5; one that
  // reads another kind may be the damage, and the gate is passed here.
  if (stop.kind != BackupKind::k5) {
    LayoutChoice choice;
    if (const RunResult passed = PassGate(stop.backupFile, choice); passed != RunResult::kCompleted)
      return passed;
    if (UsesPairRecords(choice.kind)) {
      request.kind = choice.kind;
      request.from = EntryAreaStart(choice.kind);
      report.kindAssumed = true;
    }
  }
  for (const std::int64_t offset : stop.written) {
    if (offset < request.from) {
      ++report.savedBefore;
    } else {
      request.written.insert(offset);
    }
  }
  const RunResult result = RunScan(request, report);
  if (!scanned_) return result;
  // The report is written whatever the run ended with: what was found
  // before a fault or a cancel.
  std::vector<std::string> saved = stop.writtenNames;
  for (const SalvagedMessage& message : report.messages) {
    if (message.state != SalvageState::kLost) saved.push_back(message.outputName);
  }
  const std::string reportFile = ReportFileName(saved);
  std::string text = SalvageReportText(report, stop.backupFile, {}, result);
  if (const std::string note = ReportFileNote(reportFile); !note.empty()) text += note + "\n";
  if (Outcome written = WriteReportFile(fs_, reportFile, text); !written.ok()) {
    ReportStatus(ui_, written);
    return RunResult::kFailed;
  }
  summary = SalvageSummary(report, stop.folder, reportFile);
  return result;
}

std::int64_t UnreadableBytes(const SalvageReport& report) {
  std::int64_t bytes = 0;
  for (const DamagedRange& range : report.damaged) {
    if (range.unreadable) bytes += range.end - range.begin;
  }
  return bytes;
}

std::string SalvageReportText(const SalvageReport& report, std::string_view backupFile, const NameShown& show,
                              RunResult result) {
  const auto shown = [&show](std::string_view name) { return show ? show(name) : std::string(name); };
  std::string text = "Backup: " + shown(backupFile) + "\n";
  text += "Read as kind " + std::to_string(static_cast<unsigned>(report.kind));
  text +=
      report.kindAssumed ? " (the kind field is damaged; the layout under which most entries chain)\n" : "\n";
  if (report.savedBefore > 0) {
    text += std::to_string(report.savedBefore) + " messages written by the extraction before the damage\n";
  }
  for (std::size_t i = 0; i < report.messages.size(); ++i) {
    const SalvagedMessage& message = report.messages[i];
    text += StateText(message) + "  ";
    text += message.outputName.empty() ? shown(message.storedName) : shown(message.outputName);
    if (!message.storedName.empty() && message.outputName != message.storedName &&
        !message.outputName.empty()) {
      text += " (stored as " + shown(message.storedName) + ")";
    }
    text += " at byte " + std::to_string(message.offset);
    if (!message.note.empty()) text += ": " + shown(message.note);
    if (i < report.kept.size() && report.kept[i]) text += "; the existing file was kept";
    text += "\n";
  }
  std::size_t moreMessages = 0;
  for (const std::size_t more : report.moreMessages) moreMessages += more;
  if (moreMessages > 0) text += "and " + std::to_string(moreMessages) + " more messages, not listed\n";
  std::size_t unreadable = 0;
  for (const DamagedRange& range : report.damaged) {
    const std::string reason =
        range.reason.empty() && range.unreadable ? "cannot be read" : shown(range.reason);
    text += "damaged  bytes " + std::to_string(range.begin) + "-" + std::to_string(range.end - 1) + " (" +
            std::to_string(range.end - range.begin) + " bytes): " + reason + "\n";
    if (range.unreadable) ++unreadable;
  }
  if (report.moreDamaged > 0) {
    text += "and " + std::to_string(report.moreDamaged) + " more damaged ranges, not listed\n";
  }
  if (unreadable > 0) {
    text += "unreadable  " + std::to_string(UnreadableBytes(report)) + " bytes in " +
            std::to_string(unreadable) + (unreadable == 1 ? " range" : " ranges") +
            " could not be read (bad blocks)\n";
  } else if (report.unreadable) {
    text += "unreadable  some bytes could not be read (bad blocks), in ranges past those listed\n";
  }
  text += std::to_string(report.Count(SalvageState::kComplete)) + " complete, " +
          std::to_string(report.Count(SalvageState::kPartial)) + " partial, " +
          std::to_string(report.Count(SalvageState::kUnnamed)) + " unnamed, " +
          std::to_string(report.Count(SalvageState::kLost)) + " lost\n";
  if (result == RunResult::kFailed) {
    text += "stopped by a fault: the messages after it were not looked for\n";
  } else if (result == RunResult::kCancelled) {
    text += "cancelled: the messages after that point were not looked for\n";
  }
  return text;
}

std::string ReportFileName(const std::vector<std::string>& saved) {
  const auto taken = [&saved](const std::string& name) {
    return std::any_of(saved.begin(), saved.end(),
                       [&name](const std::string& file) { return AsciiLower(file) == name; });
  };
  std::string name(kSalvageReportFile);
  const std::string_view stem = kSalvageReportFile.substr(0, kSalvageReportFile.rfind('.'));
  for (int n = 2; taken(name); ++n) name = std::string(stem) + "-" + std::to_string(n) + ".txt";
  return name;
}

std::string SalvageSummary(const SalvageReport& report, std::string_view folder,
                           std::string_view reportFile) {
  const std::size_t saved = report.savedBefore + report.Count(SalvageState::kComplete) +
                            report.Count(SalvageState::kPartial) + report.Count(SalvageState::kUnnamed);
  // The folder as the user gave it, with the separator it uses.
  std::string path(folder);
  const char separator =
      path.find('\\') != std::string::npos && path.find('/') == std::string::npos ? '\\' : '/';
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += separator;
  std::string summary =
      std::to_string(saved) + " messages saved, " + std::to_string(report.Count(SalvageState::kPartial)) +
      " in part, " + std::to_string(report.Count(SalvageState::kUnnamed)) +
      " without their names; the damaged parts are listed in " + path + std::string(reportFile);
  if (reportFile != kSalvageReportFile) {
    summary += " (a message saved in this run is named " + std::string(kSalvageReportFile) + ")";
  }
  return summary;
}

}  // namespace larkspool
