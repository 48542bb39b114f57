#include "desktop/contents_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <unordered_set>
#include <utility>

#include "app/audio_details.h"
#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "app/name_pattern.h"
#include "app/salvage_request.h"
#include "archive/backup_scan.h"
#include "archive/classify.h"
#include "archive/extraction_run.h"
#include "desktop/front_end.h"
#include "desktop/main_window_model.h"
#include "password/password_gate.h"

namespace larkspool::desktop {

// The user interface of the window's requests: everything goes to the
// window's, except that the password given once is answered from memory, and
// the first one the user gives is kept.
class ContentsModel::KeptPassword final : public UserInterface {
 public:
  KeptPassword(UserInterface& ui, std::optional<std::string> password)
      : ui_(ui), password_(std::move(password)) {}

  const std::optional<std::string>& password() const { return password_; }

  void ShowMessage(const Message& message) override { ui_.ShowMessage(message); }
  OverwriteAnswer AskOverwrite(const std::string& name) override { return ui_.AskOverwrite(name); }
  std::optional<std::string> AskPassword() override {
    if (!password_) password_ = ui_.AskPassword();
    return password_;
  }
  bool AskYesNo(const std::string& question) override { return ui_.AskYesNo(question); }
  void SetBusy(bool busy) override { ui_.SetBusy(busy); }
  bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                       const std::function<void()>& walk) override {
    return ui_.RunWithProgress(lines, cancel, walk);
  }
  void ResetProgressBar() override { ui_.ResetProgressBar(); }
  void ShowPercent(int percent, const std::string& text) override { ui_.ShowPercent(percent, text); }
  void ShowElapsed(const std::string& text) override { ui_.ShowElapsed(text); }
  void PumpMessages() override { ui_.PumpMessages(); }
  void KeepResponsive() override { ui_.KeepResponsive(); }

 private:
  UserInterface& ui_;
  std::optional<std::string> password_;
};

namespace {

std::string Plural(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string HoursText(long long seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60, seconds % 60);
  return text;
}

std::string MinutesText(long long seconds) {
  if (seconds >= 3600) return HoursText(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  return text;
}

// The byte ranges a salvage found damaged, as one line.
std::string DamageLine(const SalvageReport& report) {
  constexpr std::size_t kShown = 3;
  std::string line = "Damaged: ";
  const std::size_t ranges = report.damaged.size() + report.moreDamaged;
  for (std::size_t i = 0; i < report.damaged.size() && i < kShown; ++i) {
    const DamagedRange& range = report.damaged[i];
    if (i > 0) line += "; ";
    line += "bytes " + std::to_string(range.begin) + "-" + std::to_string(range.end - 1) + " (" +
            (range.reason.empty() ? std::string(kUnreadableReason) : range.reason) + ")";
  }
  if (ranges > kShown) line += "; and " + Plural(ranges - kShown, "more range", "more ranges");
  if (ranges == 0) line += "some messages are cut";
  const std::size_t lost = report.Count(SalvageState::kLost);
  if (lost > 0) line += "; " + Plural(lost, "message is lost", "messages are lost");
  std::size_t more = 0;
  for (const std::size_t count : report.moreMessages) more += count;
  if (more > 0) line += "; " + Plural(more, "more message is", "more messages are") + " not listed";
  return line;
}

RowState StateOf(SalvageState state) {
  switch (state) {
    case SalvageState::kPartial:
      return RowState::kPartial;
    case SalvageState::kUnnamed:
      return RowState::kUnnamed;
    default:
      return RowState::kComplete;
  }
}

}  // namespace

std::string_view ColumnHeading(ContentsColumn column) {
  switch (column) {
    case ContentsColumn::kName:
      return "Name";
    case ContentsColumn::kDuration:
      return "Duration";
    case ContentsColumn::kSize:
      return "Size";
    case ContentsColumn::kFormat:
      return "Format";
    case ContentsColumn::kSampleRate:
      return "Sample rate";
    case ContentsColumn::kState:
      return "State";
  }
  return {};
}

std::string ClockText(double seconds) {
  if (!(seconds > 0)) return "0:00";
  return MinutesText(static_cast<long long>(std::floor(seconds)));
}

std::string ContentsStatusText(std::size_t messages, double seconds, std::size_t selected,
                               double selectedSeconds) {
  std::string text = Plural(messages, "message", "messages") + ", " +
                     HoursText(std::llround(std::max(seconds, 0.0))) + " in all";
  if (selected > 0) {
    text += "; " + std::to_string(selected) + " selected, " +
            MinutesText(std::llround(std::max(selectedSeconds, 0.0)));
  }
  return text;
}

std::string VerifiedText(std::size_t messages) {
  return Plural(messages, "message", "messages") + " checked, no fault found.";
}

ContentsModel::ContentsModel(FileSystem& fs, UserInterface& ui, Clock clock)
    : fs_(fs), ui_(ui), clock_(std::move(clock)) {}

ContentsModel::~ContentsModel() = default;

bool ContentsModel::Open(const std::string& backupFile) {
  backupFile_ = backupFile.empty() ? backupFile : AbsolutePath(backupFile);
  damaged_ = false;
  damageText_.clear();
  password_.reset();
  entries_.clear();
  filter_.clear();
  try {
    KeptPassword kept(ui_, std::nullopt);
    BackupListing listing;
    const Outcome listed = ListBackup(fs_, kept, backupFile_, ScanMode::kVerify, listing);
    if (listed.cancelled()) return false;
    // The walk stopped at damage: a payload without its tags, the backup
    // cut short, or an entry whose name cannot be a file here (a zeroed
    // header) in a backup that opens.
    bool damaged = listed.failed() &&
                   (listed.code() == StatusCode::kWaveFormat || listed.code() == StatusCode::kReadFailed);
    if (listed.failed() && listed.code() == StatusCode::kOpenFailed) {
      ScopedFile backup(fs_, fs_.OpenRead(backupFile_.c_str()));
      damaged = backup.valid();
    }
    if (listed.failed() && !damaged) {
      ReportStatus(ui_, listed);
      return false;
    }
    password_ = kept.password();
    if (!damaged) {
      ReadAudioDetails(fs_, backupFile_, listing);
      entries_.reserve(listing.entries.size());
      for (ListedEntry& entry : listing.entries) {
        entries_.push_back(
            ContentsEntry{std::move(entry.name), entry.size, entry.offset, entry.audio, RowState::kComplete});
      }
      kind_ = listing.kind;
    } else if (!OpenDamaged(kept)) {
      entries_.clear();
      return false;
    }
  } catch (...) {
    entries_.clear();
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return false;
  }
  order_.resize(entries_.size());
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
  rows_ = order_;
  return true;
}

bool ContentsModel::OpenDamaged(KeptPassword& kept) {
  Salvager salvager(fs_, kept, clock_);
  SalvageReport report;
  if (salvager.Inspect(backupFile_, report) != RunResult::kCompleted) return false;
  password_ = kept.password();
  damaged_ = true;
  kind_ = report.kind;
  damageText_ = DamageLine(report);
  ScopedFile backup(fs_, fs_.OpenRead(backupFile_.c_str()));
  WaveInfoReader reader;
  for (const SalvagedMessage& message : report.messages) {
    if (message.state == SalvageState::kLost) continue;
    ContentsEntry entry{message.outputName, message.saved, message.offset, std::nullopt,
                        StateOf(message.state)};
    if (backup.valid() && message.saved <= UINT32_MAX) {
      entry.audio = reader.Read(fs_, backup.get(), message.offset, static_cast<std::uint32_t>(message.saved));
    }
    entries_.push_back(std::move(entry));
  }
  return true;
}

std::string ContentsModel::Title() const {
  const std::size_t cut = backupFile_.find_last_of(
#ifdef _WIN32
      "\\/"
#else
      "/"
#endif
  );
  const std::string name = cut == std::string::npos ? backupFile_ : backupFile_.substr(cut + 1);
  return name + " - Larkspool";
}

std::string ContentsModel::Cell(std::size_t row, ContentsColumn column) const {
  const ContentsEntry& entry = entryAt(row);
  const std::optional<WaveInfo>& audio = entry.audio;
  switch (column) {
    case ContentsColumn::kName:
      return entry.name;
    case ContentsColumn::kDuration:
      return audio ? FormatDuration(audio->DurationSeconds()) : "unknown";
    case ContentsColumn::kSize:
      return std::to_string(entry.size);
    case ContentsColumn::kFormat:
      return audio ? WaveFormatName(audio->formatTag) : "unknown";
    case ContentsColumn::kSampleRate:
      return audio ? std::to_string(audio->sampleRate) : "unknown";
    case ContentsColumn::kState:
      switch (entry.state) {
        case RowState::kComplete:
          return "complete";
        case RowState::kPartial:
          return "partial";
        case RowState::kUnnamed:
          return "unnamed";
      }
  }
  return {};
}

void ContentsModel::SetFilter(std::string text) {
  filter_ = std::move(text);
  Refilter();
}

void ContentsModel::Refilter() {
  rows_.clear();
  if (filter_.empty()) {
    rows_ = order_;
    return;
  }
  const bool pattern = filter_.find_first_of("*?") != std::string::npos;
  const std::string lowered = AsciiLower(filter_);
  for (const std::size_t i : order_) {
    const std::string& name = entries_[i].name;
    const bool shown =
        pattern ? MatchesPattern(filter_, name, true) : AsciiLower(name).find(lowered) != std::string::npos;
    if (shown) rows_.push_back(i);
  }
}

void ContentsModel::SortBy(ContentsColumn column, bool ascending) {
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
  // Each column's value as a number, or as text for the name and format;
  // no value sorts last whichever the direction.
  const auto number = [this, column](std::size_t i) -> std::optional<double> {
    const ContentsEntry& entry = entries_[i];
    switch (column) {
      case ContentsColumn::kDuration:
        if (entry.audio) return entry.audio->DurationSeconds();
        return std::nullopt;
      case ContentsColumn::kSize:
        return static_cast<double>(entry.size);
      case ContentsColumn::kSampleRate:
        if (entry.audio) return static_cast<double>(entry.audio->sampleRate);
        return std::nullopt;
      case ContentsColumn::kState:
        return static_cast<double>(entry.state);
      default:
        return std::nullopt;
    }
  };
  if (column == ContentsColumn::kName || column == ContentsColumn::kFormat) {
    std::vector<std::string> keys(entries_.size());
    std::vector<bool> known(entries_.size(), true);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (column == ContentsColumn::kName) {
        keys[i] = AsciiLower(entries_[i].name);
      } else if (entries_[i].audio) {
        keys[i] = WaveFormatName(entries_[i].audio->formatTag);
      } else {
        known[i] = false;
      }
    }
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      if (known[a] != known[b]) return static_cast<bool>(known[a]);
      if (!known[a]) return false;
      return ascending ? keys[a] < keys[b] : keys[b] < keys[a];
    });
  } else {
    std::vector<std::optional<double>> keys(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) keys[i] = number(i);
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
      if (keys[a].has_value() != keys[b].has_value()) return keys[a].has_value();
      if (!keys[a]) return false;
      return ascending ? *keys[a] < *keys[b] : *keys[b] < *keys[a];
    });
  }
  Refilter();
}

std::string ContentsModel::StatusText(const std::vector<std::size_t>& selectedRows) const {
  double seconds = 0;
  for (const std::size_t i : rows_) {
    if (entries_[i].audio) seconds += entries_[i].audio->DurationSeconds();
  }
  double selectedSeconds = 0;
  std::size_t selected = 0;
  for (const std::size_t row : selectedRows) {
    if (row >= rows_.size()) continue;
    ++selected;
    if (const std::optional<WaveInfo>& audio = entries_[rows_[row]].audio)
      selectedSeconds += audio->DurationSeconds();
  }
  std::string text = ContentsStatusText(rows_.size(), seconds, selected, selectedSeconds);
  // A filter that hides messages: "3 of 12 messages, ...".
  if (rows_.size() != entries_.size()) {
    text = std::to_string(rows_.size()) + " of " + Plural(entries_.size(), "message", "messages") +
           text.substr(text.find(','));
  }
  return text;
}

RunResult ContentsModel::ExtractRows(const std::vector<std::size_t>& rows, const std::string& folder) {
  std::vector<bool> chosen(entries_.size(), false);
  for (const std::size_t row : rows) {
    if (row < rows_.size()) chosen[rows_[row]] = true;
  }
  return Extract(chosen, folder);
}

RunResult ContentsModel::ExtractAll(const std::string& folder) {
  return Extract(std::vector<bool>(entries_.size(), true), folder);
}

RunResult ContentsModel::Extract(const std::vector<bool>& chosen, const std::string& folder) {
  try {
    return damaged_ ? SalvageEntries(chosen, folder) : ExtractEntries(chosen, folder);
  } catch (...) {
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return RunResult::kFailed;
  }
}

std::function<bool(std::int64_t)> ContentsModel::ChosenOffsets(const std::vector<bool>& chosen) const {
  std::unordered_set<std::int64_t> offsets;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (chosen[i]) offsets.insert(entries_[i].offset);
  }
  return [offsets = std::move(offsets)](std::int64_t offset) { return offsets.contains(offset); };
}

RunResult ContentsModel::ExtractEntries(const std::vector<bool>& chosen, const std::string& folder) {
  KeptPassword kept(ui_, password_);
  MainWindowModel run(fs_, kept);
  run.OnEditChange(backupFile_, folder);
  if (std::find(chosen.begin(), chosen.end(), false) != chosen.end()) {
    // The walk asks about each entry once, in backup order: the order of
    // the entries listed at Open. An entry is taken only under the name it
    // was listed with, so a backup changed since then has nothing taken
    // that was not chosen.
    std::vector<std::optional<std::string>> names(chosen.size());
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      if (chosen[i]) names[i] = entries_[i].name;
    }
    EntryOptions options;
    options.select = [names = std::move(names),
                      next = std::make_shared<std::size_t>(0)](std::string_view name) {
      const std::size_t i = (*next)++;
      return i < names.size() && names[i] && *names[i] == name;
    };
    run.extractor().set_entry_options(std::move(options));
    // A backup damaged since it was opened: the salvage offered saves only
    // what was chosen too.
    run.set_salvage_chosen(ChosenOffsets(chosen));
  }
  return run.OnExtract();
}

RunResult ContentsModel::SalvageEntries(const std::vector<bool>& chosen, const std::string& folder) {
  KeptPassword kept(ui_, password_);
  if (Outcome entered = ValidateRequest(fs_, backupFile_, folder); !entered.ok()) {
    ReportStatus(ui_, entered);
    return entered.result();
  }
  Salvager salvager(fs_, kept, clock_);
  if (std::find(chosen.begin(), chosen.end(), false) != chosen.end())
    salvager.set_chosen(ChosenOffsets(chosen));
  SalvageReport report;
  std::string summary;
  const DamagedStop from{backupFile_, folder, kind_, EntryAreaStart(kind_), {}, {}};
  const RunResult result = salvager.GoOn(from, report, summary);
  if (!summary.empty()) ui_.ShowMessage(Message{summary, MessageStyle::kInformation, {}});
  return result;
}

RunResult ContentsModel::Verify() {
  try {
    KeptPassword kept(ui_, password_);
    BackupKind kind = BackupKind::k3;
    Outcome step = ClassifyBackup(fs_, backupFile_, kind);
    if (step.ok() && kind == BackupKind::k5) step = CheckMailboxPassword(fs_, backupFile_, kept);
    if (!step.ok()) {
      if (step.failed()) ReportStatus(ui_, step);
      return step.result();
    }
    ScopedFile backup(fs_, fs_.OpenRead(backupFile_.c_str()));
    if (!backup.valid()) {
      ReportStatus(ui_, Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile_));
      return RunResult::kFailed;
    }
    struct BusyScope {
      UserInterface& ui;
      explicit BusyScope(UserInterface& u) : ui(u) { ui.SetBusy(true); }
      ~BusyScope() { ui.SetBusy(false); }
    } busy(kept);
    ProgressReporter progress(kept, clock_);
    CancelFlag cancel;
    const std::optional<std::int64_t> written = fs_.LastWriteTime(backup.get());
    const ProgressLines lines{FileLine(backupFile_),
                              written ? DateLine(*written) : "Date: ", FormatPercent(0), FormatElapsed(0)};
    Outcome outcome = Outcome::Ok();
    const bool shown = kept.RunWithProgress(lines, cancel, [&] {
      progress.MarkStart();
      cancel.Clear();
      std::vector<ListedEntry> checked;
      ScanProgress reported{progress, cancel};
      outcome = ScanBackup(fs_, backup.get(), kind, ScanMode::kVerify, checked, {}, &reported);
      if (outcome.ok())
        kept.ShowMessage(Message{VerifiedText(checked.size()), MessageStyle::kInformation, {}});
      if (outcome.failed()) ReportStatus(kept, outcome);
    });
    if (!shown) {
      ui_.ShowMessage(Message{std::string(kProgressFailedText), MessageStyle::kPlain, {}});
      return RunResult::kProgressWindowFailed;
    }
    return outcome.result();
  } catch (...) {
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return RunResult::kFailed;
  }
}

}  // namespace larkspool::desktop
