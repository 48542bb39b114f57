#include "desktop/player.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "desktop/front_end.h"

namespace larkspool::desktop {
namespace {

#ifdef LARKSPOOL_HAVE_AUDIO
// The message's payload decoded from the backup; a payload of a damaged
// backup is decoded as far as it can be saved.
Outcome Decode(FileSystem& fs, const std::string& backupFile, const ContentsEntry& entry, PcmAudio& audio) {
  if (entry.size > UINT32_MAX) return Outcome::Fail(StatusCode::kWaveFormat);
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile);
  BackupPayload payload(fs, backup.get(), PayloadSpan{entry.offset, static_cast<std::uint32_t>(entry.size)});
  return DecodeToPcm(payload, audio);
}
#endif

}  // namespace

Player::Player(ContentsModel& model, AudioOutput& output, UserInterface& ui)
    : model_(model), output_(output), ui_(ui) {}

Player::~Player() { output_.Stop(); }

bool Player::Available() {
#ifdef LARKSPOOL_HAVE_AUDIO
  return true;
#else
  return false;
#endif
}

bool Player::Play(std::size_t row) {
  Stop();
  if (row >= model_.size()) return false;
#ifdef LARKSPOOL_HAVE_AUDIO
  auto audio = std::make_unique<PcmAudio>();
  Outcome decoded = Outcome::Ok();
  try {
    decoded = Decode(model_.fs(), model_.backupFile(), model_.entryAt(row), *audio);
  } catch (...) {
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return false;
  }
  if (decoded.ok() && audio->frames() == 0) {
    decoded = Outcome::Fail(StatusCode::kWaveFormat).WithText(std::string(kUnreadableAudioText));
  }
  if (!decoded.ok()) {
    audio_.reset();
    entry_.reset();
    if (decoded.failed()) ReportStatus(ui_, decoded);
    return false;
  }
  audio_ = std::move(audio);
  entry_ = model_.row(row);
  return StartAt(0);
#else
  ui_.ShowMessage(Message{std::string(kNoPlaybackText), MessageStyle::kExclamation, {}});
  return false;
#endif
}

void Player::Stop() {
  if (playing_) output_.Stop();
  playing_ = false;
  stoppedAt_ = 0;
}

bool Player::Toggle(std::optional<std::size_t> row) {
  if (playing_) {
    Stop();
    return true;
  }
  if (row && (!audio_ || !entry_ || *row >= model_.size() || model_.row(*row) != *entry_)) return Play(*row);
  if (audio_) return StartAt(stoppedAt_);
  return false;
}

void Player::Seek(std::uint64_t frame) {
  if (!audio_) return;
  frame = std::min(frame, length());
  if (!playing_) {
    stoppedAt_ = frame;
    return;
  }
  output_.Stop();
  playing_ = false;
  if (frame >= length()) {
    stoppedAt_ = 0;
    return;
  }
  StartAt(frame);
}

void Player::SeekFraction(double fraction) {
  if (!audio_ || !(fraction >= 0)) fraction = 0;
  fraction = std::min(fraction, 1.0);
  Seek(static_cast<std::uint64_t>(std::llround(fraction * static_cast<double>(length()))));
}

void Player::Tick() {
  if (!playing_) return;
  if (const AudioOutput::Fault fault = output_.fault(); fault != AudioOutput::Fault::kNone) {
    const std::uint64_t at = position();
    output_.Stop();
    Fail(fault);
    stoppedAt_ = at;
    return;
  }
  if (!output_.IsPlaying()) {
    output_.Stop();
    playing_ = false;
    stoppedAt_ = 0;
  }
}

std::uint64_t Player::position() const {
  if (!playing_) return stoppedAt_;
  return std::min(from_ + output_.FramesPlayed(), length());
}

std::string Player::PositionText() const {
  const double rate = audio_ && audio_->format.sampleRate > 0 ? audio_->format.sampleRate : 1.0;
  return ClockText(static_cast<double>(position()) / rate) + " / " +
         ClockText(static_cast<double>(length()) / rate);
}

int Player::SliderValue(int range) const {
  if (length() == 0 || range <= 0) return 0;
  return static_cast<int>(static_cast<double>(position()) * range / static_cast<double>(length()));
}

bool Player::StartAt(std::uint64_t frame) {
  if (!audio_ || length() == 0) return false;
  if (frame >= length()) frame = 0;
  if (!output_.Start(*audio_, frame)) {
    Fail(output_.fault());
    stoppedAt_ = frame;
    return false;
  }
  from_ = frame;
  playing_ = true;
  return true;
}

void Player::Fail(AudioOutput::Fault fault) {
  playing_ = false;
  const std::string_view text =
      fault == AudioOutput::Fault::kDeviceLost ? kDeviceLostText : kNoAudioDeviceText;
  ui_.ShowMessage(Message{std::string(text), MessageStyle::kExclamation, output_.FaultReason()});
}

}  // namespace larkspool::desktop
