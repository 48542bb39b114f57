#include "archive/salvage_run.h"

#include <algorithm>
#include <cstring>

#include "archive/extraction_run.h"
#include "archive/payload.h"
#include "archive/salvage_names.h"

namespace larkspool {
namespace {

class WritingVisitor final : public SalvageVisitor {
 public:
  WritingVisitor(FileSystem& fs, FileHandle backup, const SalvageRequest& request, SalvageReport& report,
                 OutputWriter& output, ProgressReporter& progress, const CancelFlag& cancel)
      : fs_(fs),
        backup_(backup),
        request_(request),
        report_(report),
        output_(output),
        progress_(progress),
        cancel_(cancel),
        done_(request.from) {}

  Outcome OnMessage(const SalvagedMessage& message) override {
    if (message.offset < toldBefore_) return Outcome::Ok();
    if (request_.chosen && !request_.chosen(message.offset)) return Outcome::Ok();
    report_.Add(message);
    if (!request_.write || message.state == SalvageState::kLost || request_.written.contains(message.offset))
      return Outcome::Ok();
    // The copy moves the display on from the message's first byte.
    Account(message.offset);
    const Outcome written = Write(message).About(message.outputName);
    // The report holds what was saved before a fault, not the message the
    // fault stopped.
    if (!written.ok()) Retract(message);
    return written;
  }

  void OnDamage(const DamagedRange& range) override {
    if (range.end > toldBefore_) report_.Add(range);
  }

  void OnProgress(std::int64_t position) override {
    Account(position);
    progress_.UpdatePercent();
    progress_.UpdateElapsed();
    progress_.PumpMessages();
  }

  bool CancelRequested() override { return cancel_.IsRaised(); }

  // After a read error in the message at `offset` among the entries of a
  // sound backup, the scan goes over them again: what came before that
  // message was told already.
  void ToldBefore(std::int64_t offset) { toldBefore_ = offset; }

 private:
  // Forgets a message that was told but not saved.
  void Retract(const SalvagedMessage& message) {
    if (!report_.messages.empty() && report_.messages.back().offset == message.offset) {
      report_.messages.pop_back();
      report_.kept.pop_back();
    } else {
      --report_.moreMessages[static_cast<std::size_t>(message.state)];
    }
  }

  // Counts the bytes up to `position` as done; the copies count their own.
  void Account(std::int64_t position) {
    if (position > done_) progress_.AddDone(static_cast<std::uint64_t>(position - done_));
    done_ = std::max(done_, position);
  }

  Outcome Write(const SalvagedMessage& message) {
    ScopedFile out(fs_);
    switch (output_.OpenOutputFile(message.outputName, out)) {
      case OpenResult::kOpened:
        break;
      case OpenResult::kCancelled:
        return Outcome::Cancelled();
      case OpenResult::kSkipped:
        if (report_.kept.size() == report_.messages.size() && !report_.kept.empty() &&
            report_.messages.back().offset == message.offset) {
          report_.kept.back() = true;
        }
        return Outcome::Ok();
      case OpenResult::kFailed:
        return Outcome::Fail(StatusCode::kOpenFailed, output_.failure_reason());
    }
    // A partial or empty output file never stays behind, also when the copy
    // ends with an exception (no memory in the front end's drawing).
    Outcome copied = Outcome::Ok();
    try {
      copied = Copy(message, out.get());
    } catch (...) {
      out.Reset();
      fs_.Unlink(message.outputName.c_str());
      throw;
    }
    out.Reset();
    if (!copied.ok()) fs_.Unlink(message.outputName.c_str());
    if (copied.ok()) done_ = std::max(done_, message.offset + static_cast<std::int64_t>(message.saved));
    return copied;
  }

  Outcome Copy(const SalvagedMessage& message, FileHandle out) {
    const PayloadSpan payload{message.offset, static_cast<std::uint32_t>(message.saved)};
    std::vector<SizeMend> mends;
    if (message.mendSizes()) {
      std::vector<std::uint8_t> head(payload.first_chunk());
      errno = 0;
      if (fs_.Seek(backup_, payload.offset, SeekFrom::kStart) != payload.offset ||
          fs_.Read(backup_, head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
        return Outcome::FailWithErrno(StatusCode::kReadFailed, "backup ends inside a payload");
      mends = MendSizes(head, message.saved);
    }
    errno = 0;
    if (fs_.Seek(backup_, payload.offset, SeekFrom::kStart) != payload.offset)
      return Outcome::FailWithErrno(StatusCode::kReadFailed);
    if (Outcome copied = CopyPayload(fs_, backup_, out, payload, progress_, buffer_); !copied.ok())
      return copied;
    for (const SizeMend& mend : mends) {
      std::array<std::uint8_t, format::kFixed32Size> bytes{};
      EncodeFixed32(bytes, mend.value);
      const auto at = static_cast<std::int64_t>(mend.offset);
      errno = 0;
      if (fs_.Seek(out, at, SeekFrom::kStart) != at ||
          fs_.Write(out, bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size()))
        return Outcome::FailWithErrno(StatusCode::kWriteFailed, "short write");
    }
    return Outcome::Ok();
  }

  FileSystem& fs_;
  FileHandle backup_;
  const SalvageRequest& request_;
  SalvageReport& report_;
  OutputWriter& output_;
  ProgressReporter& progress_;
  const CancelFlag& cancel_;
  CopyBuffer buffer_;
  std::int64_t done_;            // the bytes the display counts: from `request.from` to here
  std::int64_t toldBefore_ = 0;  // messages and damage before this offset were told
};

}  // namespace

std::size_t SalvageReport::Count(SalvageState state) const {
  return moreMessages[static_cast<std::size_t>(state)] +
         static_cast<std::size_t>(
             std::count_if(messages.begin(), messages.end(),
                           [state](const SalvagedMessage& m) { return m.state == state; }));
}

bool SalvageReport::Damaged() const {
  const std::size_t moreNotComplete = moreMessages[static_cast<std::size_t>(SalvageState::kPartial)] +
                                      moreMessages[static_cast<std::size_t>(SalvageState::kUnnamed)] +
                                      moreMessages[static_cast<std::size_t>(SalvageState::kLost)];
  return kindAssumed || unreadable || !damaged.empty() || moreDamaged > 0 || moreNotComplete > 0 ||
         std::any_of(messages.begin(), messages.end(), [](const SalvagedMessage& m) {
           return m.state != SalvageState::kComplete || !m.note.empty();
         });
}

void SalvageReport::Add(const SalvagedMessage& message) {
  if (messages.size() < kKept) {
    messages.push_back(message);
    kept.push_back(false);
  } else {
    ++moreMessages[static_cast<std::size_t>(message.state)];
  }
}

void SalvageReport::Add(const DamagedRange& range) {
  unreadable = unreadable || range.unreadable;
  if (damaged.size() < kKept) {
    damaged.push_back(range);
  } else {
    ++moreDamaged;
  }
}

std::vector<SizeMend> MendSizes(std::span<const std::uint8_t> head, std::uint64_t size) {
  std::vector<SizeMend> mends;
  if (size < format::kWaveTagsSize || head.size() < format::kWaveTagsSize) return mends;
  mends.push_back({4, static_cast<std::uint32_t>(size - 8)});
  // The chunks after "WAVE": a four-letter id, a 32-bit size, the bytes and
  // a pad byte when the size is odd.
  std::uint64_t at = format::kWaveTagsSize;
  while (at + 8 <= head.size()) {
    const std::uint32_t chunkSize = DecodeFixed32(head.subspan(at + 4).first<format::kFixed32Size>());
    if (std::memcmp(head.data() + at, "data", 4) == 0) {
      if (at + 8 <= size && chunkSize > size - at - 8)
        mends.push_back({static_cast<std::size_t>(at + 4), static_cast<std::uint32_t>(size - at - 8)});
      break;
    }
    at += 8 + std::uint64_t{chunkSize} + (chunkSize & 1U);
  }
  return mends;
}

RunResult SalvageRun::Run(const SalvageRequest& request, SalvageReport& report) {
  ScopedFile backup(fs_, fs_.OpenRead(request.backupFile.c_str()));
  if (!backup.valid()) {
    ReportStatus(ui_, Outcome::FailWithErrno(StatusCode::kOpenFailed).About(request.backupFile));
    return RunResult::kFailed;
  }
  report.kind = request.kind;
  const std::optional<std::int64_t> lastWrite = fs_.LastWriteTime(backup.get());
  const ProgressLines lines{FileLine(request.backupFile),
                            lastWrite ? DateLine(*lastWrite) : "Date: ", FormatPercent(0), FormatElapsed(0)};
  ProgressReporter progress(ui_, clock_);
  OutputWriter output(fs_, ui_);
  CancelFlag cancel;
  Outcome outcome = Outcome::Ok();
  const bool shown = ui_.RunWithProgress(lines, cancel, [&] {
    progress.MarkStart();
    cancel.Clear();
    output.BeginRun(backup.get());
    const std::int64_t fileSize = fs_.Seek(backup.get(), 0, SeekFrom::kEnd);
    progress.SetTotal(fileSize - request.from);
    progress.ResetProgress();
    WritingVisitor visitor(fs_, backup.get(), request, report, output, progress, cancel);
    bool scan = request.sound == nullptr;
    if (!scan) {
      for (const SalvagedMessage& message : *request.sound) {
        outcome = visitor.OnMessage(message);
        if (outcome.failed() && outcome.code() == StatusCode::kReadFailed) {
          // Bytes of the backup that cannot be read: the scan takes over,
          // which reads around them.
          visitor.ToldBefore(message.offset);
          scan = true;
          break;
        }
        if (!outcome.ok()) break;
        visitor.OnProgress(message.offset + static_cast<std::int64_t>(message.saved));
        // As in the walks, the last message completes the run.
        if (&message != &request.sound->back() && visitor.CancelRequested()) outcome = Outcome::Cancelled();
        if (!outcome.ok()) break;
      }
    }
    if (scan) {
      // Names are read and refused as an extraction reads and refuses them.
      NamingVisitor named(visitor, request.naming);
      outcome = SalvageScan(fs_, backup.get(), request.kind, request.from, named);
    }
    if (outcome.failed()) ReportStatus(ui_, outcome);
  });
  if (!shown) return RunResult::kProgressWindowFailed;
  return outcome.result();
}

}  // namespace larkspool
