#include "archive/extraction_run.h"

#include <cstdio>
#include <ctime>

#include "archive/entry_walker.h"
#include "archive/payload.h"
#include "platform/buffered_reads.h"

namespace larkspool {
namespace {

// Writes every file the walker finds into the current directory.
class ExtractingVisitor final : public EntryVisitor {
 public:
  ExtractingVisitor(FileSystem& fs, FileHandle backup, ProgressReporter& progress, OutputWriter& output,
                    const CancelFlag& cancel, const EntryOptions& options, const PayloadConverter& converter,
                    WalkStop& stop)
      : fs_(fs),
        backup_(backup),
        progress_(progress),
        output_(output),
        cancel_(cancel),
        options_(options),
        converter_(converter),
        stop_(stop) {}

  void OnWalkStart(std::int64_t fileSize, std::int64_t totalBytes) override {
    fileSize_ = fileSize;
    output_.BeginRun(backup_);
    progress_.SetTotal(totalBytes);
    progress_.ResetProgress();
  }

  Outcome OnFile(const StoredName& stored, const PayloadSpan& payload) override {
    payloadBytes_ += payload.size;
    std::string name;
    if (Outcome named = NameEntry(options_, stored, name); !named.ok()) return named;
    if (!TakesEntry(options_, name)) return PassOver(payload).About(name);
    ScopedFile out(fs_);
    switch (output_.OpenOutputFile(name, out)) {
      case OpenResult::kOpened:
        break;
      case OpenResult::kCancelled:
        return Outcome::Cancelled();
      case OpenResult::kSkipped:
        return PassOver(payload).About(name);
      case OpenResult::kFailed:
        return Outcome::Fail(StatusCode::kOpenFailed, Detailed(name, output_.failure_reason()));
    }
    // A partial or empty output file never stays behind, also when the copy
    // ends with an exception (no memory in the front end's drawing).
    Outcome copied = Outcome::Ok();
    try {
      copied = converter_ ? converter_(fs_, backup_, out.get(), payload, progress_)
                          : CopyPayload(fs_, backup_, out.get(), payload, progress_, buffer_);
    } catch (...) {
      out.Reset();
      fs_.Unlink(name.c_str());
      throw;
    }
    out.Reset();
    if (!copied.ok()) fs_.Unlink(name.c_str());
    if (copied.ok()) {
      stop_.written.push_back(payload.offset);
      stop_.writtenNames.push_back(name);
    }
    return copied.About(name);
  }

  void OnEntryDone(std::uint32_t headerBytes) override {
    // The next entry begins after this one's header and payloads.
    stop_.entryStart += headerBytes + payloadBytes_;
    payloadBytes_ = 0;
    progress_.AddDone(headerBytes);
    progress_.UpdatePercent();
    progress_.UpdateElapsed();
    progress_.PumpMessages();
  }

  bool CancelRequested() override { return cancel_.IsRaised(); }

 private:
  // An existing file is kept, or the entry is not taken: the payload is
  // passed over, still counted in the progress.
  Outcome PassOver(const PayloadSpan& payload) {
    if (Outcome skipped = SkipPayload(fs_, backup_, payload, fileSize_); !skipped.ok()) return skipped;
    progress_.AddDone(payload.size);
    progress_.UpdatePercent();
    return Outcome::Ok();
  }

  FileSystem& fs_;
  FileHandle backup_;
  ProgressReporter& progress_;
  OutputWriter& output_;
  const CancelFlag& cancel_;
  const EntryOptions& options_;
  const PayloadConverter& converter_;
  WalkStop& stop_;
  std::int64_t payloadBytes_ = 0;  // of the entry being walked
  std::int64_t fileSize_ = 0;
  CopyBuffer buffer_;
};

}  // namespace

std::string FileLine(const std::string& backupPath) {
  // The line names the file, not its folder: the text after the last
  // separator, or the whole path when it has none. The backslash separates
  // everywhere; on POSIX systems so does the slash, their only separator.
#ifdef _WIN32
  const std::size_t slash = backupPath.rfind('\\');
#else
  const std::size_t slash = backupPath.find_last_of("\\/");
#endif
  return "Backup File: " + (slash == std::string::npos ? backupPath : backupPath.substr(slash + 1));
}

std::string DateLine(std::int64_t lastWriteTime) {
  const auto seconds = static_cast<std::time_t>(lastWriteTime);
  std::tm local{};
#ifdef _WIN32
  const bool converted = localtime_s(&local, &seconds) == 0;
#else
  const bool converted = localtime_r(&seconds, &local) != nullptr;
#endif
  if (!converted) return "Date: ";
  char text[64];
  std::snprintf(text, sizeof text, "Date: %02d/%02d/%02d %02d:%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min);
  return text;
}

// Headers and small payloads come from a window over the backup.
Outcome ExtractionRun::ExtractSingleEntries(FileHandle backup, BackupKind kind) {
  BufferedReads reads(fs_, backup);
  ExtractingVisitor visitor(reads, backup, progress_, output_, cancel_, options_, converter_, stop_);
  return WalkSingleEntries(reads, backup, kind, visitor);
}

Outcome ExtractionRun::ExtractPairedEntries(FileHandle backup) {
  BufferedReads reads(fs_, backup);
  ExtractingVisitor visitor(reads, backup, progress_, output_, cancel_, options_, converter_, stop_);
  return WalkPairedEntries(reads, backup, visitor);
}

Outcome ExtractionRun::Walk(FileHandle backup, BackupKind kind) {
  switch (kind) {
    case BackupKind::k3:
    case BackupKind::k4:
    case BackupKind::k6:
      return ExtractSingleEntries(backup, kind);
    case BackupKind::k5:
      return ExtractPairedEntries(backup);
  }
  return Outcome::Fail(StatusCode::kNotVoiceBackup);
}

RunResult ExtractionRun::RunExtraction(const std::string& backupFile, BackupKind kind) {
  struct BusyScope {
    UserInterface& ui;
    explicit BusyScope(UserInterface& u) : ui(u) { ui.SetBusy(true); }
    ~BusyScope() { ui.SetBusy(false); }
  } busy(ui_);
  stop_ = WalkStop{};

  ScopedFile backup(fs_, fs_.OpenRead(backupFile.c_str()));
  if (!backup.valid()) {
    ReportStatus(ui_, Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile));
    return RunResult::kFailed;
  }
  const auto stored = static_cast<unsigned>(kind);
  if (stored < 3 || stored > 6) {
    ReportStatus(ui_, Outcome::Fail(StatusCode::kNotVoiceBackup));
    return RunResult::kFailed;
  }

  const std::optional<std::int64_t> written = fs_.LastWriteTime(backup.get());
  const ProgressLines lines{FileLine(backupFile), written ? DateLine(*written) : "Date: ", FormatPercent(0),
                            FormatElapsed(0)};
  Outcome outcome = Outcome::Ok();
  const bool shown = ui_.RunWithProgress(lines, cancel_, [&] {
    progress_.MarkStart();
    cancel_.Clear();
    stop_ = WalkStop{StatusCode::kSuccess, EntryAreaStart(kind), {}, {}};
    outcome = Walk(backup.get(), kind);
    if (outcome.failed()) stop_.code = outcome.code();
    // Both the completion and a fault are shown over the progress display,
    // which closes once the message is dismissed.
    if (outcome.ok()) ui_.ShowMessage(Message{std::string(kCompletedText), MessageStyle::kInformation, {}});
    if (outcome.failed()) ReportStatus(ui_, outcome);
  });
  if (!shown) return RunResult::kProgressWindowFailed;
  return outcome.result();
}

}  // namespace larkspool
