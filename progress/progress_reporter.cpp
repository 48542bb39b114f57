#include "progress/progress_reporter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace larkspool {

int ComputePercent(std::uint64_t done, std::int64_t total) {
  if (total <= 0) return done == 0 ? 0 : 100;
  // Divide first, then multiply: the order decides cases such as 29 of 100,
  // which shows 28.
  const double quotient = static_cast<double>(done) / static_cast<double>(total);
  const double scaled = quotient * 100.0;
  if (scaled >= 99.0) return 100;
  return static_cast<int>(scaled);
}

std::string FormatPercent(int percent) { return std::to_string(percent) + "%"; }

std::string FormatElapsed(std::int64_t seconds) {
  const long long hours = seconds / 3600 - (seconds / 86400) * 24;
  const long long minutes = seconds / 60 - (seconds / 3600) * 60;
  const long long secs = seconds - (seconds / 60) * 60;
  char text[64];
  std::snprintf(text, sizeof text, "Elapsed Time: %02lld:%02lld:%02lld", hours, minutes, secs);
  return text;
}

std::int64_t WallClockSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ProgressReporter::SetTotal(std::int64_t totalBytes) {
  m_nTotalBytes = totalBytes;
  m_nDoneBytes = 0;
}

void ProgressReporter::ResetProgress() {
  // The percentage text keeps what the display came up with ("0%").
  ui_.ResetProgressBar();
  shownPercent_ = 0;
}

void ProgressReporter::UpdatePercent() {
  const int percent = ComputePercent(m_nDoneBytes, m_nTotalBytes);
  if (percent == shownPercent_) {
    // Still a sign of work going on, for the front end to answer its windows.
    ui_.KeepResponsive();
    return;
  }
  shownPercent_ = percent;
  ui_.ShowPercent(percent, FormatPercent(percent));
}

void ProgressReporter::UpdateElapsed() {
  const std::int64_t elapsed = clock_() - m_timeStart;
  if (elapsed == shownElapsed_) {
    ui_.KeepResponsive();
    return;
  }
  shownElapsed_ = elapsed;
  ui_.ShowElapsed(FormatElapsed(elapsed));
}

std::size_t ProgressReporter::BeginPiece(std::size_t wanted, std::size_t unit) {
  pieceStart_ = ticks_();
  if (pace_.took == 0) return wanted;
  std::size_t units = 1;
  if (pace_.took > 0) {
    // What the last piece's pace moves in kPieceMilliseconds, in whole units.
    const auto budget = static_cast<std::uint64_t>(pace_.bytes) *
                        static_cast<std::uint64_t>(kPieceMilliseconds) /
                        static_cast<std::uint64_t>(pace_.took);
    units = static_cast<std::size_t>(std::max<std::uint64_t>(1, budget / unit));
  }
  return units > wanted / unit ? wanted : units * unit;
}

void ProgressReporter::EndPiece(std::size_t moved) {
  if (moved > 0) pace_ = Pace{moved, std::max<std::int64_t>(0, ticks_() - pieceStart_)};
  ui_.KeepResponsive();
}

}  // namespace larkspool
