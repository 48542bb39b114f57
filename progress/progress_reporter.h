// Progress arithmetic and the reporting calls the walkers and the payload copy
// make: the bar and percentage follow the bytes accounted, the elapsed time
// follows the wall clock, and the pump lets the user's Cancel through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "base/user_interface.h"

namespace larkspool {

// done / total * 100 in double precision, truncated; 99 and above show as 100,
// so the values shown are 0..98 and 100.
int ComputePercent(std::uint64_t done, std::int64_t total);
// "37%"
std::string FormatPercent(int percent);
// "Elapsed Time: HH:MM:SS"; whole days are not shown.
std::string FormatElapsed(std::int64_t seconds);

// Seconds since 1970-01-01 UTC, or any count of seconds that only grows.
using Clock = std::function<std::int64_t()>;
std::int64_t WallClockSeconds();
// Milliseconds from any fixed point, never going back, whatever is done to
// the wall clock: how long work takes.
using Ticks = std::function<std::int64_t()>;
std::int64_t SteadyMilliseconds();

// The counters of one run and the display they drive. Updates that would not
// change what is on screen are not passed on to the front end; they reach it
// as UserInterface::KeepResponsive, as the pieces of a long copy do.
class ProgressReporter {
 public:
  ProgressReporter(UserInterface& ui, Clock clock, Ticks ticks = SteadyMilliseconds)
      : ui_(ui), clock_(std::move(clock)), ticks_(std::move(ticks)) {}

  // The display came up showing 0 % and no elapsed time; the elapsed time
  // counts from here.
  void MarkStart() {
    m_timeStart = clock_();
    shownPercent_ = 0;
    shownElapsed_ = 0;
    pace_ = Pace{};
  }
  // The byte count that stands for 100 %; the done count restarts at 0.
  void SetTotal(std::int64_t totalBytes);
  void AddDone(std::uint64_t bytes) { m_nDoneBytes += bytes; }

  // True when `moreBytes` accounted on top of the done count would change
  // the percentage shown.
  bool PercentChangesWith(std::uint64_t moreBytes) const {
    return ComputePercent(m_nDoneBytes + moreBytes, m_nTotalBytes) != shownPercent_;
  }

  void ResetProgress();
  void UpdatePercent();
  void UpdateElapsed();
  void PumpMessages() { ui_.PumpMessages(); }

  // Work inside one entry that can take long (a payload copy) goes in
  // pieces, and after each the front end may answer its windows
  // (UserInterface::KeepResponsive). However slow the storage, a piece is
  // sized to take about kPieceMilliseconds at the pace the last one went:
  // BeginPiece takes the bytes the caller would move and the unit it moves
  // them in, and returns the bytes to move now, whole units and at least one
  // (or `wanted`, when less). Until a piece of the run has been timed, one
  // unit; a piece too quick to time sets no limit.
  std::size_t BeginPiece(std::size_t wanted, std::size_t unit);
  // The piece begun last moved `moved` bytes.
  void EndPiece(std::size_t moved);
  static constexpr std::int64_t kPieceMilliseconds = 20;

  std::int64_t total_bytes() const { return m_nTotalBytes; }
  std::uint64_t done_bytes() const { return m_nDoneBytes; }

 private:
  // The last piece timed: its bytes and milliseconds.
  struct Pace {
    std::size_t bytes = 0;
    std::int64_t took = -1;  // none yet
  };

  UserInterface& ui_;
  Clock clock_;
  Ticks ticks_;
  Pace pace_;
  std::int64_t pieceStart_ = 0;
  std::int64_t m_nTotalBytes = 0;
  std::uint64_t m_nDoneBytes = 0;
  std::int64_t m_timeStart = 0;
  int shownPercent_ = -1;
  std::int64_t shownElapsed_ = -1;
};

}  // namespace larkspool
