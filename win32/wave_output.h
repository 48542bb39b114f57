// Sound through the system's waveOut device: 16-bit PCM from memory, handed
// to the device half a second ahead in short blocks. A thread of its own
// waits on the device's event (the callback waveOut signals as each block is
// done) and hands the next block; the window's timer only asks how far it
// got.
#pragma once

// <windows.h> first: <mmsystem.h> needs its types.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace larkspool::win32 {

class WaveOutput {
 public:
  // What went wrong with the device, if anything.
  enum class Fault { kNone, kNoDevice, kDeviceLost };

  WaveOutput();
  ~WaveOutput();
  WaveOutput(const WaveOutput&) = delete;
  WaveOutput& operator=(const WaveOutput&) = delete;

  // Plays `samples` (interleaved frames of `channels` at `rate`) from
  // `fromFrame`, after stopping whatever played. `samples` must stay as they
  // are until Stop or the next Start. False when the device cannot be
  // opened (fault() tells why: no device, or one that refuses the format).
  bool Start(std::span<const std::int16_t> samples, unsigned channels, unsigned rate,
             std::uint64_t fromFrame);
  // Stops at once; the device is closed. Nothing happens when nothing plays.
  void Stop();
  // Frames the device says it has played since Start (from `fromFrame`).
  std::uint64_t FramesPlayed() const;
  // True from Start until the last frame was played, Stop, or a fault.
  bool Playing() const { return playing_.load(); }
  // The fault of the last Start or of the device while it played; cleared by
  // Start.
  Fault fault() const { return fault_.load(); }
  // The system's words for the fault, when it gave any.
  std::string FaultDetail() const;

 private:
  // The blocks the device holds at a time, each of kBlockMilliseconds: a
  // thread kept from running for less than their half second on a busy
  // machine leaves no gap.
  static constexpr int kBlocks = 10;
  static constexpr unsigned kBlockMilliseconds = 50;

  void Feed();
  // Hands the next samples in `block`; false when none are left.
  bool Fill(WAVEHDR& block);
  void Fail(Fault fault, MMRESULT code);
  void Fail(Fault fault, std::string detail);
  void Close();

  HANDLE event_;
  HWAVEOUT device_ = nullptr;
  std::span<const std::int16_t> samples_;
  unsigned channels_ = 1;
  std::uint64_t startFrame_ = 0;
  std::size_t next_ = 0;  // the next sample to hand
  std::size_t blockSamples_ = 0;
  WAVEHDR blocks_[kBlocks] = {};
  std::thread feeder_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> playing_{false};
  std::atomic<Fault> fault_{Fault::kNone};
  mutable std::mutex detailLock_;
  std::string detail_;
  // The frames played when the device last answered, kept once it has
  // been closed.
  mutable std::atomic<std::uint64_t> lastPlayed_{0};
};

}  // namespace larkspool::win32
