#include "cli/batch_job.h"

#include <cerrno>
#include <map>
#include <utility>

#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "app/salvage_request.h"
#include "archive/classify.h"
#include "base/user_interface.h"
#include "cli/batch_console.h"
#include "cli/batch_files.h"
#include "cli/entry_selection.h"
#include "cli/name_encoding.h"
#include "cli/name_escape.h"
#include "cli/output_form.h"
#include "cli/terminal_ui.h"
#include "password/password_gate.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

// Counts the files a job writes and their bytes, as they stand at the end:
// a file written again counts once, a partial file the core removes not at
// all. The backup is read through it untouched.
class CountingFiles final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  FileHandle CreateExclusive(const char* path) override { return Track(base().CreateExclusive(path), path); }
  FileHandle OpenForOverwrite(const char* path) override {
    return Track(base().OpenForOverwrite(path), path);
  }
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    return Count(file, base().Write(file, buffer, size));
  }
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    return Count(to, base().CopyRange(from, to, size));
  }
  void Close(FileHandle file) override {
    open_.erase(file);
    base().Close(file);
  }
  bool Unlink(const char* path) override {
    const bool removed = base().Unlink(path);
    if (removed) written_.erase(path);
    return removed;
  }

  std::uint64_t files() const { return written_.size(); }
  std::uint64_t bytes() const {
    std::uint64_t sum = 0;
    for (const auto& [name, bytes] : written_) sum += bytes;
    return sum;
  }

 private:
  FileHandle Track(FileHandle file, const char* path) {
    if (file != kNoFile) {
      open_[file] = path;
      written_[path] = 0;  // created empty, or truncated
    }
    return file;
  }
  std::int64_t Count(FileHandle file, std::int64_t moved) {
    const auto open = open_.find(file);
    if (moved > 0 && open != open_.end()) written_[open->second] += static_cast<std::uint64_t>(moved);
    return moved;
  }

  std::map<FileHandle, std::string> open_;
  std::map<std::string, std::uint64_t> written_;
};

// A job's user: shows nothing (the table says how each backup ended), takes
// passwords from the password file or asks through the batch's console, and
// lets Ctrl-C through between entries.
class JobUi final : public SilentUserInterface {
 public:
  JobUi(const BatchJob& job, BatchShared& shared, JobProgress& progress)
      : job_(job), shared_(shared), progress_(progress) {}

  void ShowMessage(const Message& message) override {
    if (message.style == MessageStyle::kInformation) return;
    message_ = MessageLine(message);
  }

  OverwriteAnswer AskOverwrite(const std::string& name) override {
    if (const std::optional<OverwriteAnswer> answer = PolicyAnswer(shared_.overwrite)) return *answer;
    if (!shared_.console->CanAsk()) {
      note_ = NoPromptNote(name);
      return OverwriteAnswer::kCancel;
    }
    const std::optional<OverwriteAnswer> answer = shared_.console->AskOverwrite(job_.backup, name);
    if (answer == OverwriteAnswer::kYes || answer == OverwriteAnswer::kYesToAll) return *answer;
    userCancelled_ = true;
    note_ = "cancelled at the question whether to replace " + EscapeName(name);
    return OverwriteAnswer::kCancel;
  }

  // The batch passes the gate before the request does, so the request's own
  // question gets the answer already given.
  std::optional<std::string> AskPassword() override {
    if (asked_) return password_;
    asked_ = true;
    if (shared_.passwords != nullptr) password_ = shared_.passwords->Find(job_.stem);
    if (!password_ && shared_.console->CanAsk()) {
      password_ = shared_.console->AskPassword(job_.backup);
      if (!password_) note_ = "password-protected, and no password was given";
    } else if (!password_) {
      note_ = "password-protected, and no password is known (--password-file, or run on a terminal)";
    }
    return password_;
  }

  bool RunWithProgress(const ProgressLines& /*lines*/, CancelFlag& cancel,
                       const std::function<void()>& walk) override {
    cancel_ = &cancel;
    struct Release {
      CancelFlag*& flag;
      ~Release() { flag = nullptr; }
    } release{cancel_};
    walk();
    return true;
  }
  void ShowPercent(int percent, const std::string& /*text*/) override { progress_.percent = percent; }
  void PumpMessages() override {
    if (cancel_ != nullptr && shared_.cancelled) cancel_->Raise();
  }

  const std::string& message() const { return message_; }
  const std::string& note() const { return note_; }
  // The user cancelled this backup at a question (not the whole batch).
  bool userCancelled() const { return userCancelled_; }

 private:
  const BatchJob& job_;
  BatchShared& shared_;
  JobProgress& progress_;
  CancelFlag* cancel_ = nullptr;
  bool asked_ = false;
  std::optional<std::string> password_;
  bool userCancelled_ = false;
  std::string message_;  // the fault's, as the single command shows it
  std::string note_;     // why a job was cancelled or skipped without Ctrl-C
};

bool IsDamage(const std::string& message) {
  for (const StatusCode code : {StatusCode::kWaveFormat, StatusCode::kReadFailed}) {
    if (message.rfind(StatusMessage(code).text, 0) == 0) return true;
  }
  return false;
}

// The salvage report beside what it saved, as the desktop tool leaves it.
void WriteSalvageReport(FileSystem& fs, const std::string& text) {
  const std::string name(kSalvageReportFile);
  FileHandle file = fs.CreateExclusive(name.c_str());
  if (file == kNoFile && errno == EEXIST) file = fs.OpenForOverwrite(name.c_str());
  if (file == kNoFile) return;
  ScopedFile out(fs, file);
  if (fs.Write(file, text.data(), text.size()) != static_cast<std::int64_t>(text.size())) {
    out.Reset();
    fs.Unlink(name.c_str());
  }
}

class Job {
 public:
  Job(const BatchJob& job, BatchShared& shared, JobProgress& progress)
      : job_(job),
        shared_(shared),
        own_(NewFileSystemWithOwnFolder()),
        files_(*own_),
        ui_(job, shared, progress) {}

  BatchRow Run() {
    if (!PassGates()) return row_;
    // A folder that cannot be made is the request's to report: it cannot
    // enter it (status 5).
    if (shared_.command != BatchCommand::kVerify) row_.folderMade = MakeFolder(job_.folderPath);
    switch (shared_.command) {
      case BatchCommand::kExtract:
        Extract();
        break;
      case BatchCommand::kVerify:
        Verify();
        break;
      case BatchCommand::kSalvage:
        Salvage();
        break;
    }
    return row_;
  }

 private:
  // Classification and the password ahead of the request: a file that is no
  // backup, or one nobody can open, gets no folder. (Salvage reads a backup
  // whose kind field is damaged all the same.)
  bool PassGates() {
    BackupKind kind = BackupKind::k3;
    const Outcome classified = ClassifyBackup(files_, job_.path, kind);
    if (classified.ok()) {
      row_.kind = kind;
    } else if (shared_.command != BatchCommand::kSalvage ||
               classified.code() == StatusCode::kBackupNotFound) {
      return Fail(classified);
    }
    if (!classified.ok() || kind != BackupKind::k5) return true;
    bool passwordSet = false;
    const Outcome gate = CheckMailboxPassword(files_, job_.path, ui_, &passwordSet);
    row_.passwordProtected = passwordSet;
    if (gate.cancelled()) {
      row_.state = shared_.cancelled ? BatchState::kCancelled : BatchState::kSkipped;
      row_.message = shared_.cancelled ? "cancelled" : ui_.note();
      return false;
    }
    return gate.ok() || Fail(gate);
  }

  bool Fail(const Outcome& outcome) {
    row_.state = BatchState::kFailed;
    row_.message = MessageLine(StatusMessage(outcome.code(), outcome.detail()));
    return false;
  }

  void Finish(RunResult result, std::string_view completedText) {
    switch (result) {
      case RunResult::kCompleted:
        row_.state = BatchState::kCompleted;
        row_.message = completedText;
        break;
      case RunResult::kCancelled:
        // A question that could not be asked fails the backup; Ctrl-C or
        // the user's answer cancels it.
        if (shared_.cancelled || ui_.note().empty()) {
          row_.state = BatchState::kCancelled;
          row_.message = "cancelled; the files written before it are kept";
        } else {
          row_.state = ui_.userCancelled() ? BatchState::kCancelled : BatchState::kFailed;
          row_.message = ui_.note();
        }
        break;
      case RunResult::kFailed:
      case RunResult::kProgressWindowFailed:
        row_.state = BatchState::kFailed;
        row_.message = ui_.message();
        break;
    }
  }

  void Extract() {
    Extractor extractor(files_, ui_);
    const auto selection = MakeSelection(shared_.choice);
    extractor.set_entry_options(MakeEntryOptions(shared_.choice.nameEncoding, selection));
    extractor.set_payload_converter(ConverterFor(shared_.form));
    const RunResult result = extractor.OnExtract(job_.path, job_.folderPath);
    Finish(result, kCompletedText);
    row_.messages = files_.files();
    row_.bytes = files_.bytes();
    row_.damaged = result == RunResult::kFailed && extractor.damaged_stop().has_value();
    if (result == RunResult::kCompleted) row_.unmatched = selection->Unmatched();
  }

  void Verify() {
    const auto selection = MakeSelection(shared_.choice);
    BackupListing listing;
    const RunResult result = InspectBackup(files_, ui_, job_.path, ScanMode::kVerify, listing,
                                           MakeEntryOptions(shared_.choice.nameEncoding, selection));
    Finish(result, "OK");
    row_.messages = listing.entries.size();
    for (const ListedEntry& entry : listing.entries) row_.bytes += entry.size;
    row_.damaged = result == RunResult::kFailed && IsDamage(row_.message);
    if (result == RunResult::kCompleted) row_.unmatched = selection->Unmatched();
  }

  void Salvage() {
    SalvageReport report;
    Salvager salvager(files_, ui_);
    salvager.set_entry_options(NamingOptions(shared_.choice.nameEncoding));
    const RunResult result = salvager.OnSalvage(job_.path, job_.folderPath, report);
    Finish(result, {});
    row_.messages = files_.files();
    row_.bytes = files_.bytes();
    if (result != RunResult::kCompleted) return;
    row_.kind = report.kind;
    const SalvageCounts counts{report.Count(SalvageState::kComplete), report.Count(SalvageState::kPartial),
                               report.Count(SalvageState::kUnnamed), report.Count(SalvageState::kLost)};
    row_.salvage = counts;
    row_.message = std::to_string(counts.complete) + " complete, " + std::to_string(counts.partial) +
                   " partial, " + std::to_string(counts.unnamed) + " unnamed, " +
                   std::to_string(counts.lost) + " lost";
    if (!report.Damaged()) return;
    // The file system's folder is the backup's folder now.
    WriteSalvageReport(*own_, SalvageReportText(report, job_.backup, EscapeName));
    row_.state = BatchState::kDamaged;
    row_.message += "; the damaged parts are listed in " + std::string(kSalvageReportFile);
  }

  const BatchJob& job_;
  BatchShared& shared_;
  std::unique_ptr<FileSystem> own_;
  CountingFiles files_;
  JobUi ui_;
  BatchRow row_;
};

}  // namespace

BatchRow RunJob(const BatchJob& job, BatchShared& shared, JobProgress& progress) {
  return Job(job, shared, progress).Run();
}

}  // namespace larkspool::cli
