#include "app/salvage_request.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "archive/backup_scan.h"
#include "archive/classify.h"
#include "password/password_gate.h"

namespace larkspool {
namespace {

// The layout under which the most entries chain from the entry-area start,
// for a backup whose kind field is damaged.
BackupKind LikeliestKind(FileSystem& fs, const std::string& backupFile) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  BackupKind best = BackupKind::k3;
  std::size_t most = 0;
  if (!backup.valid()) return best;
  for (const BackupKind kind : {BackupKind::k3, BackupKind::k6, BackupKind::k5}) {
    const std::size_t chained = CountChainedEntries(fs, backup.get(), kind);
    if (chained > most) {
      most = chained;
      best = kind;
    }
  }
  return best;
}

// The entries of a backup the walk reads to its end without a fault, as the
// walkers take them; none when it meets one.
std::optional<std::vector<SalvagedMessage>> SoundEntries(FileSystem& fs, const std::string& backupFile,
                                                         BackupKind kind) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  std::vector<ListedEntry> entries;
  if (!backup.valid() || !ScanBackup(fs, backup.get(), kind, ScanMode::kVerify, entries).ok())
    return std::nullopt;
  std::vector<SalvagedMessage> messages;
  for (const ListedEntry& entry : entries) {
    messages.push_back(
        {SalvageState::kComplete, entry.name, entry.name, entry.offset, entry.size, entry.size, {}});
  }
  return messages;
}

// The report file in the current directory; an earlier one is replaced.
Outcome WriteReportFile(FileSystem& fs, const std::string& text) {
  const std::string name(kSalvageReportFile);
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

}  // namespace

RunResult Salvager::Salvage(const std::string& backupFile, bool write, SalvageReport& report) {
  report = SalvageReport{};
  BackupKind kind = BackupKind::k3;
  Outcome step = ClassifyBackup(fs_, backupFile, kind);
  if (step.failed() && step.code() == StatusCode::kNotVoiceBackup) {
    kind = LikeliestKind(fs_, backupFile);
    report.kindAssumed = true;
    step = Outcome::Ok();
  }
  // A backup read as paired passes the gate exactly as for an extraction,
  // also when its kind was only assumed.
  if (step.ok() && kind == BackupKind::k5) step = CheckMailboxPassword(fs_, backupFile, ui_);
  if (!step.ok()) {
    if (step.failed()) ReportStatus(ui_, step);
    return step.result();
  }
  const std::optional<std::vector<SalvagedMessage>> sound =
      report.kindAssumed ? std::nullopt : SoundEntries(fs_, backupFile, kind);
  SalvageRequest request{backupFile, kind, EntryAreaStart(kind), write, sound ? &*sound : nullptr, {}};
  const RunResult result = run_.Run(request, report);
  if (result == RunResult::kProgressWindowFailed) {
    ui_.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
  }
  return result;
}

RunResult Salvager::OnSalvage(const std::string& backupFile, const std::string& folder,
                              SalvageReport& report) {
  if (Outcome entered = ValidateRequest(fs_, backupFile, folder); !entered.ok()) {
    ReportStatus(ui_, entered);
    return entered.result();
  }
  return Salvage(backupFile, true, report);
}

RunResult Salvager::Inspect(const std::string& backupFile, SalvageReport& report) {
  if (backupFile.empty()) {
    ReportStatus(ui_, Outcome::Fail(StatusCode::kBackupPathEmpty));
    return RunResult::kFailed;
  }
  return Salvage(backupFile, false, report);
}

RunResult Salvager::GoOn(const DamagedStop& stop, SalvageReport& report, std::string& summary) {
  report = SalvageReport{};
  SalvageRequest request{stop.backupFile, stop.kind, stop.entryStart, true, nullptr, {}};
  for (const std::int64_t offset : stop.written) {
    if (offset < stop.entryStart) {
      ++report.savedBefore;
    } else {
      request.written.insert(offset);
    }
  }
  RunResult result = run_.Run(request, report);
  if (result == RunResult::kProgressWindowFailed) {
    ui_.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
  }
  if (result != RunResult::kCompleted) return result;
  if (Outcome written = WriteReportFile(fs_, SalvageReportText(report, stop.backupFile)); !written.ok()) {
    ReportStatus(ui_, written);
    return RunResult::kFailed;
  }
  summary = SalvageSummary(report, stop.folder);
  return result;
}

std::string SalvageReportText(const SalvageReport& report, std::string_view backupFile,
                              const NameShown& show) {
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
    if (!message.note.empty()) text += ": " + message.note;
    if (i < report.kept.size() && report.kept[i]) text += "; the existing file was kept";
    text += "\n";
  }
  for (const DamagedRange& range : report.damaged) {
    text += "damaged  bytes " + std::to_string(range.begin) + "-" + std::to_string(range.end - 1) + " (" +
            std::to_string(range.end - range.begin) + " bytes): " + shown(range.reason) + "\n";
  }
  text += std::to_string(report.Count(SalvageState::kComplete)) + " complete, " +
          std::to_string(report.Count(SalvageState::kPartial)) + " partial, " +
          std::to_string(report.Count(SalvageState::kUnnamed)) + " unnamed, " +
          std::to_string(report.Count(SalvageState::kLost)) + " lost\n";
  return text;
}

std::string SalvageSummary(const SalvageReport& report, std::string_view folder) {
  const std::size_t saved = report.savedBefore + report.Count(SalvageState::kComplete) +
                            report.Count(SalvageState::kPartial) + report.Count(SalvageState::kUnnamed);
  // The folder as the user gave it, with the separator it uses.
  std::string path(folder);
  const char separator =
      path.find('\\') != std::string::npos && path.find('/') == std::string::npos ? '\\' : '/';
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += separator;
  return std::to_string(saved) + " messages saved, " + std::to_string(report.Count(SalvageState::kPartial)) +
         " in part, " + std::to_string(report.Count(SalvageState::kUnnamed)) +
         " without their names; the damaged parts are listed in " + path + std::string(kSalvageReportFile);
}

}  // namespace larkspool
