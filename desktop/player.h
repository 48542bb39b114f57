// Playing a message of the contents window, without a toolkit: the message is
// decoded to 16-bit PCM in memory (audio/), handed to the system's audio
// output, and followed by the front end's timer. One message plays at a
// time; a fault (a format that cannot be decoded, no audio device, the device
// lost while playing) shows one clear message and leaves the player usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "audio/pcm_decoder.h"
#include "base/user_interface.h"
#include "desktop/contents_model.h"

namespace larkspool::desktop {

// The system's audio output (Qt Multimedia's sink, waveOut). All calls come
// from the thread that runs the window; an output whose device reports on
// another thread keeps what it learns until it is asked.
class AudioOutput {
 public:
  enum class Fault {
    kNone,
    kNoDevice,    // no device to play on, or it refused the format
    kDeviceLost,  // the device went away while playing
  };

  virtual ~AudioOutput() = default;

  // Stops whatever plays and plays `audio` from frame `from` (< its frames)
  // to its end. `audio` stays alive and unchanged until Stop, the next
  // Start, or the output's end. False, with fault() set, when playing
  // cannot start; on success fault() is kNone.
  virtual bool Start(const PcmAudio& audio, std::uint64_t from) = 0;
  // Stops at once; nothing more is read from the audio given. Harmless when
  // nothing plays.
  virtual void Stop() = 0;
  // Frames the device has played since the last Start (not counting `from`).
  virtual std::uint64_t FramesPlayed() const = 0;
  // True from a successful Start until the device has played the last frame,
  // a Stop, or a fault.
  virtual bool IsPlaying() const = 0;
  virtual Fault fault() const = 0;
  // What the system said about the fault, for the message's detail; may be
  // empty.
  virtual std::string FaultReason() const { return {}; }
};

// The messages the player shows (the undecodable format's text comes from
// the audio layer: "This message's audio format (G.729) cannot be played
// here.").
inline constexpr std::string_view kNoAudioDeviceText = "No audio device is available to play this message.";
inline constexpr std::string_view kDeviceLostText = "The audio device was lost while playing this message.";
inline constexpr std::string_view kNoPlaybackText = "This build of Larkspool cannot play messages.";
inline constexpr std::string_view kUnreadableAudioText =
    "This message cannot be played: its audio is damaged.";

class Player {
 public:
  Player(ContentsModel& model, AudioOutput& output, UserInterface& ui);
  ~Player();  // stops
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Whether this build can decode at all (the audio layer is built in).
  static bool Available();

  // Stops whatever plays, decodes the message of the model's shown row
  // `row` and plays it from its start. A fault shows its message once and
  // returns false; nothing plays then.
  bool Play(std::size_t row);
  // Stops; the position returns to the start of the message, which stays
  // loaded.
  void Stop();
  // Plays if nothing plays (the row given, or the loaded message when the
  // row is none), stops otherwise: Space and the Play/Stop button.
  bool Toggle(std::optional<std::size_t> row);
  // Moves to `frame` (held to the message's length), or to a fraction of it
  // in 0..1; playing goes on from there, a stopped player stays stopped.
  void Seek(std::uint64_t frame);
  void SeekFraction(double fraction);

  // Called by the front end's timer (every 50 to 100 ms) while playing:
  // notices the end of the message and a lost device (its message, once).
  void Tick();

  bool playing() const { return playing_; }
  // The entry loaded (model.entries() index), if any.
  std::optional<std::size_t> loadedEntry() const { return entry_; }
  // The frame the device is at, and the message's length in frames.
  std::uint64_t position() const;
  std::uint64_t length() const { return audio_ ? audio_->frames() : 0; }
  // "m:ss / m:ss" (position / length); "0:00 / 0:00" with nothing loaded.
  std::string PositionText() const;
  // The position as a slider's value in 0..range.
  int SliderValue(int range) const;

 private:
  bool StartAt(std::uint64_t frame);
  void Fail(AudioOutput::Fault fault);

  ContentsModel& model_;
  AudioOutput& output_;
  UserInterface& ui_;
  std::unique_ptr<PcmAudio> audio_;
  std::optional<std::size_t> entry_;
  std::uint64_t from_ = 0;       // the frame the output started at
  std::uint64_t stoppedAt_ = 0;  // the position while stopped
  bool playing_ = false;
};

}  // namespace larkspool::desktop
