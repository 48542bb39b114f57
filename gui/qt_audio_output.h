// The contents window's audio output on Qt Multimedia: a QAudioSink on the
// system's default output device, pulling the decoded PCM from memory.
#pragma once

#include <QIODevice>
#include <memory>
#include <string>

#include "desktop/player.h"

class QAudioSink;

namespace larkspool::gui {

// The samples of a PcmAudio as a read-only byte stream, from a frame on,
// and then `tailBytes` of silence: the sink stops as soon as the stream has
// nothing more to give, dropping what the sound server still holds, so the
// silence is what is dropped, not the message's last tenths of a second.
class PcmDevice final : public QIODevice {
 public:
  // `audio` must outlive the reads.
  void Reset(const PcmAudio* audio, std::uint64_t fromFrame, std::uint64_t tailBytes = 0);
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override;
  bool atEnd() const override { return bytesAvailable() == 0; }

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* /*data*/, qint64 /*maxSize*/) override { return -1; }

 private:
  const PcmAudio* audio_ = nullptr;
  std::uint64_t position_ = 0;  // in bytes
  std::uint64_t end_ = 0;       // the samples' bytes and the silence's
};

class QtAudioOutput final : public desktop::AudioOutput {
 public:
  QtAudioOutput();
  ~QtAudioOutput() override;

  bool Start(const PcmAudio& audio, std::uint64_t from) override;
  void Stop() override;
  std::uint64_t FramesPlayed() const override;
  bool IsPlaying() const override { return playing_; }
  Fault fault() const override { return fault_; }
  std::string FaultReason() const override { return reason_; }

 private:
  void OnStateChanged();

  std::unique_ptr<QAudioSink> sink_;
  PcmDevice device_;
  std::uint32_t rate_ = 0;
  bool playing_ = false;
  Fault fault_ = Fault::kNone;
  std::string reason_;
};

}  // namespace larkspool::gui
