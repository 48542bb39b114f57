#include "win32/wave_output.h"

#include <algorithm>
#include <utility>

#include "platform/windows_text.h"

namespace larkspool::win32 {
namespace {

// How long the device may hold blocks without finishing one before it is
// taken as lost (unplugged, its server gone).
constexpr ULONGLONG kStalledMilliseconds = 3000;

std::string ErrorText(MMRESULT code) {
  wchar_t text[MAXERRORLENGTH] = {};
  if (waveOutGetErrorTextW(code, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || text[0] == L'\0') {
    return "error " + std::to_string(code);
  }
  return Utf8(text);
}

}  // namespace

WaveOutput::WaveOutput() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

WaveOutput::~WaveOutput() {
  Stop();
  if (event_ != nullptr) CloseHandle(event_);
}

std::string WaveOutput::FaultDetail() const {
  std::lock_guard lock(detailLock_);
  return detail_;
}

void WaveOutput::Fail(Fault fault, MMRESULT code) { Fail(fault, ErrorText(code)); }

void WaveOutput::Fail(Fault fault, std::string detail) {
  {
    std::lock_guard lock(detailLock_);
    detail_ = std::move(detail);
  }
  fault_ = fault;
  playing_ = false;
}

bool WaveOutput::Start(std::span<const std::int16_t> samples, unsigned channels, unsigned rate,
                       std::uint64_t fromFrame) {
  Stop();
  fault_ = Fault::kNone;
  {
    std::lock_guard lock(detailLock_);
    detail_.clear();
  }
  channels_ = std::max(channels, 1u);
  samples_ = samples;
  startFrame_ = std::min<std::uint64_t>(fromFrame, samples.size() / channels_);
  next_ = static_cast<std::size_t>(startFrame_) * channels_;
  lastPlayed_ = 0;
  if (event_ == nullptr) {
    Fail(Fault::kNoDevice, MMSYSERR_NOMEM);
    return false;
  }

  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(channels_);
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<WORD>(channels_ * 2);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  ResetEvent(event_);
  const MMRESULT opened =
      waveOutOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
  if (opened != MMSYSERR_NOERROR) {
    device_ = nullptr;
    Fail(Fault::kNoDevice, opened);
    return false;
  }
  // The open's own signal.
  WaitForSingleObject(event_, 0);

  blockSamples_ = std::max<std::size_t>(std::size_t{rate} * kBlockMilliseconds / 1000, 1) * channels_;
  playing_ = true;
  for (WAVEHDR& block : blocks_) {
    block = {};
    if (!Fill(block)) break;
  }
  if (!playing_) {  // a write failed
    Close();
    return false;
  }
  stopping_ = false;
  feeder_ = std::thread([this] { Feed(); });
  return true;
}

bool WaveOutput::Fill(WAVEHDR& block) {
  if (block.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &block, sizeof block);
  block = {};
  if (next_ >= samples_.size()) return false;
  const std::size_t count = std::min(blockSamples_, samples_.size() - next_);
  // The device only reads the samples.
  block.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(samples_.data() + next_));
  block.dwBufferLength = static_cast<DWORD>(count * sizeof(std::int16_t));
  MMRESULT result = waveOutPrepareHeader(device_, &block, sizeof block);
  if (result == MMSYSERR_NOERROR) result = waveOutWrite(device_, &block, sizeof block);
  if (result != MMSYSERR_NOERROR) {
    if (block.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &block, sizeof block);
    block = {};
    Fail(Fault::kDeviceLost, result);
    return false;
  }
  next_ += count;
  return true;
}

void WaveOutput::Feed() {
  ULONGLONG lastProgress = GetTickCount64();
  std::uint64_t lastSeen = 0;
  while (!stopping_) {
    WaitForSingleObject(event_, 100);
    if (stopping_) return;
    bool held = false;
    for (WAVEHDR& block : blocks_) {
      if (!(block.dwFlags & WHDR_PREPARED)) continue;
      if (!(block.dwFlags & WHDR_DONE)) {
        held = true;
        continue;
      }
      lastProgress = GetTickCount64();
      if (Fill(block)) held = true;
      if (fault_ != Fault::kNone) return;
    }
    if (!held) {
      lastPlayed_ = samples_.size() / channels_ - startFrame_;
      playing_ = false;
      return;
    }
    // A device that answers no more, or holds its blocks for ever.
    MMTIME time = {};
    time.wType = TIME_SAMPLES;
    const MMRESULT asked = waveOutGetPosition(device_, &time, sizeof time);
    if (asked != MMSYSERR_NOERROR) {
      Fail(Fault::kDeviceLost, asked);
      return;
    }
    const std::uint64_t seen = FramesPlayed();
    if (seen != lastSeen) {
      lastSeen = seen;
      lastProgress = GetTickCount64();
    }
    if (GetTickCount64() - lastProgress > kStalledMilliseconds) {
      Fail(Fault::kDeviceLost, "the device stopped playing");
      return;
    }
  }
}

std::uint64_t WaveOutput::FramesPlayed() const {
  if (device_ == nullptr || !playing_) return lastPlayed_;
  MMTIME time = {};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(device_, &time, sizeof time) != MMSYSERR_NOERROR) return lastPlayed_;
  std::uint64_t played = 0;
  if (time.wType == TIME_SAMPLES) {
    played = time.u.sample;
  } else if (time.wType == TIME_BYTES) {
    played = time.u.cb / (channels_ * sizeof(std::int16_t));
  } else {
    return lastPlayed_;
  }
  played = std::min<std::uint64_t>(played, samples_.size() / channels_ - startFrame_);
  lastPlayed_ = played;
  return played;
}

void WaveOutput::Stop() {
  if (feeder_.joinable()) {
    stopping_ = true;
    SetEvent(event_);
    feeder_.join();
    stopping_ = false;
  }
  if (device_ != nullptr) {
    FramesPlayed();
    Close();
  }
  playing_ = false;
}

void WaveOutput::Close() {
  // Reset hands every block back, done.
  waveOutReset(device_);
  for (WAVEHDR& block : blocks_) {
    if (block.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &block, sizeof block);
    block = {};
  }
  waveOutClose(device_);
  device_ = nullptr;
  playing_ = false;
}

}  // namespace larkspool::win32
