#include "gui/qt_audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>
#include <cstring>

namespace larkspool::gui {
namespace {

std::string ErrorText(QAudio::Error error) {
  switch (error) {
    case QAudio::OpenError:
      return "the audio device could not be opened";
    case QAudio::IOError:
      return "the audio device could not be written to";
    case QAudio::FatalError:
      return "the audio device is no longer available";
    default:
      return {};
  }
}

}  // namespace

void PcmDevice::Reset(const PcmAudio* audio, std::uint64_t fromFrame, std::uint64_t tailBytes) {
  audio_ = audio;
  position_ = audio == nullptr ? 0 : fromFrame * audio->format.channels * sizeof(std::int16_t);
  end_ = audio == nullptr ? 0 : audio->samples.size() * sizeof(std::int16_t) + tailBytes;
}

qint64 PcmDevice::bytesAvailable() const {
  return static_cast<qint64>(end_ - std::min(end_, position_)) + QIODevice::bytesAvailable();
}

qint64 PcmDevice::readData(char* data, qint64 maxSize) {
  if (audio_ == nullptr || maxSize <= 0) return 0;
  const std::uint64_t samples = audio_->samples.size() * sizeof(std::int16_t);
  const std::uint64_t count = std::min(end_ - std::min(end_, position_), static_cast<std::uint64_t>(maxSize));
  const std::uint64_t fromSamples = position_ < samples ? std::min(count, samples - position_) : 0;
  std::memcpy(data, reinterpret_cast<const char*>(audio_->samples.data()) + position_, fromSamples);
  std::memset(data + fromSamples, 0, count - fromSamples);
  position_ += count;
  return static_cast<qint64>(count);
}

QtAudioOutput::QtAudioOutput() = default;

QtAudioOutput::~QtAudioOutput() { Stop(); }

bool QtAudioOutput::Start(const PcmAudio& audio, std::uint64_t from) {
  Stop();
  fault_ = Fault::kNone;
  reason_.clear();
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) {
    fault_ = Fault::kNoDevice;
    reason_ = "the system offers no audio output device";
    return false;
  }
  QAudioFormat format;
  format.setSampleRate(static_cast<int>(audio.format.sampleRate));
  format.setChannelCount(audio.format.channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) {
    fault_ = Fault::kNoDevice;
    reason_ = device.description().toStdString() + " does not play " +
              std::to_string(audio.format.sampleRate) + " Hz, " + std::to_string(audio.format.channels) +
              " channel 16-bit audio";
    return false;
  }
  rate_ = audio.format.sampleRate;
  // Half a second of silence after the message outlasts what the server
  // buffers.
  device_.Reset(&audio, from, std::uint64_t{audio.format.sampleRate} * audio.format.channels);
  device_.open(QIODevice::ReadOnly);
  sink_ = std::make_unique<QAudioSink>(device, format);
  QObject::connect(sink_.get(), &QAudioSink::stateChanged, sink_.get(), [this] { OnStateChanged(); });
  sink_->start(&device_);
  if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
    fault_ = Fault::kNoDevice;
    reason_ = ErrorText(sink_->error());
    Stop();
    return false;
  }
  playing_ = true;
  return true;
}

void QtAudioOutput::Stop() {
  playing_ = false;
  if (sink_) {
    sink_->disconnect();
    sink_->stop();
    sink_.reset();
  }
  device_.close();
  device_.Reset(nullptr, 0);
}

std::uint64_t QtAudioOutput::FramesPlayed() const {
  // Past the message's end this counts the silence after it; the player
  // holds the position to the message's length.
  if (!sink_) return 0;
  return static_cast<std::uint64_t>(sink_->processedUSecs()) * rate_ / 1000000u;
}

void QtAudioOutput::OnStateChanged() {
  if (!sink_ || !playing_) return;
  const QAudio::Error error = sink_->error();
  switch (sink_->state()) {
    case QAudio::IdleState:
      // The stream has handed over its last sample and the device has
      // played it.
      if (device_.atEnd()) playing_ = false;
      break;
    case QAudio::StoppedState:
      if (error != QAudio::NoError && error != QAudio::UnderrunError) {
        fault_ = Fault::kDeviceLost;
        reason_ = ErrorText(error);
      }
      playing_ = false;
      break;
    default:
      break;
  }
}

}  // namespace larkspool::gui
