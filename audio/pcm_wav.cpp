#include "audio/pcm_wav.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace larkspool {
namespace {

constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kSampleBytes = 2;
// The frames written at once.
constexpr std::size_t kBlockSamples = 16384;

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Outcome Hand(const WavSink& sink, std::span<const std::uint8_t> bytes) {
  errno = 0;
  return sink(bytes) ? Outcome::Ok() : Outcome::FailWithErrno(StatusCode::kWriteFailed, "short write");
}

// Samples as the file holds them: little-endian, whatever the processor.
Outcome HandSamples(const WavSink& sink, std::span<const std::int16_t> samples,
                    std::vector<std::uint8_t>& bytes) {
  bytes.resize(samples.size() * kSampleBytes);
  for (std::size_t i = 0; i < samples.size(); ++i)
    Put16(&bytes[i * kSampleBytes], static_cast<std::uint16_t>(samples[i]));
  return Hand(sink, bytes);
}

std::uint64_t DataBytes(const PcmFormat& format, std::uint64_t frames) {
  return frames * format.channels * kSampleBytes;
}

}  // namespace

std::array<std::uint8_t, kPcmWavHeaderSize> PcmWavHeader(const PcmFormat& format, std::uint64_t frames) {
  const auto dataBytes = static_cast<std::uint32_t>(DataBytes(format, frames));
  const auto blockAlign = static_cast<std::uint16_t>(format.channels * kSampleBytes);
  std::array<std::uint8_t, kPcmWavHeaderSize> header{};
  std::uint8_t* at = header.data();
  std::memcpy(at, "RIFF", 4);
  Put32(at + 4, static_cast<std::uint32_t>(kPcmWavHeaderSize - 8) + dataBytes);
  std::memcpy(at + 8, "WAVEfmt ", 8);
  Put32(at + 16, 16);
  Put16(at + 20, kPcmTag);
  Put16(at + 22, format.channels);
  Put32(at + 24, format.sampleRate);
  Put32(at + 28, format.sampleRate * blockAlign);
  Put16(at + 32, blockAlign);
  Put16(at + 34, 16);
  std::memcpy(at + 36, "data", 4);
  Put32(at + 40, dataBytes);
  return header;
}

Outcome WritePcmWav(const PcmAudio& audio, const WavSink& sink) {
  if (audio.samples.size() * kSampleBytes > kMaxPcmWavData) return TooLongForPcmWav();
  if (Outcome header = Hand(sink, PcmWavHeader(audio.format, audio.frames())); !header.ok()) return header;
  std::vector<std::uint8_t> bytes;
  const std::span<const std::int16_t> samples(audio.samples);
  for (std::size_t at = 0; at < samples.size(); at += kBlockSamples) {
    const std::size_t count = std::min(kBlockSamples, samples.size() - at);
    if (Outcome written = HandSamples(sink, samples.subspan(at, count), bytes); !written.ok()) return written;
  }
  return Outcome::Ok();
}

Outcome ConvertToPcmWav(PayloadSource& source, const WavSink& sink,
                        const std::function<void(std::uint64_t written, std::uint64_t frames)>& written,
                        std::uint64_t maxDataBytes) {
  std::vector<std::int16_t> block;
  // The first pass: the frames there are, and whether they decode at all.
  std::uint64_t frames = 0;
  {
    PcmDecoder counter(source);
    if (Outcome opened = counter.Open(); !opened.ok()) return opened;
    const std::size_t channels = counter.format().channels;
    block.resize(std::max<std::size_t>(1, kBlockSamples / channels) * channels);
    while (const std::size_t decoded = counter.Read(block)) {
      frames += decoded;
      if (DataBytes(counter.format(), frames) > maxDataBytes) return TooLongForPcmWav();
    }
    if (Outcome counted = counter.status(); !counted.ok()) return counted;
  }
  // The second: the same frames, written. A source that gives other frames
  // the second time would make the header wrong, so the count is held to.
  PcmDecoder decoder(source);
  if (Outcome opened = decoder.Open(); !opened.ok()) return opened;
  if (Outcome header = Hand(sink, PcmWavHeader(decoder.format(), frames)); !header.ok()) return header;
  const std::size_t channels = decoder.format().channels;
  std::vector<std::uint8_t> bytes;
  std::uint64_t done = 0;
  while (done < frames) {
    const std::size_t decoded = decoder.Read(block);
    if (decoded == 0) break;
    const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(decoded, frames - done));
    if (Outcome handed = HandSamples(sink, std::span(block).first(taken * channels), bytes); !handed.ok())
      return handed;
    done += taken;
    if (written) written(done, frames);
  }
  if (Outcome decoded = decoder.status(); !decoded.ok()) return decoded;
  if (done != frames) return Outcome::Fail(StatusCode::kReadFailed, "the payload changed while it was read");
  return Outcome::Ok();
}

PayloadConverter PcmWavConverter() {
  return [](FileSystem& fs, FileHandle backup, FileHandle out, const PayloadSpan& payload,
            ProgressReporter& progress) -> Outcome {
    BackupPayload source(fs, backup, payload);
    if (Outcome whole = source.CheckWhole(); !whole.ok()) return whole;
    // The payload's bytes are counted as its frames are written.
    std::uint64_t counted = 0;
    const auto count = [&](std::uint64_t done, std::uint64_t frames) {
      const std::uint64_t reached = payload.size * done / frames;
      progress.AddDone(reached - counted);
      progress.UpdatePercent();
      counted = reached;
    };
    const WavSink sink = [&fs, out](std::span<const std::uint8_t> bytes) {
      return fs.Write(out, bytes.data(), bytes.size()) == static_cast<std::int64_t>(bytes.size());
    };
    if (Outcome converted = ConvertToPcmWav(source, sink, count); !converted.ok()) return converted;
    progress.AddDone(payload.size - counted);
    progress.UpdatePercent();
    return source.LeaveAtEnd();
  };
}

Outcome HandAsPcmWav(FileSystem& fs, FileHandle backup, const PayloadSpan& payload, const WavSink& sink) {
  BackupPayload source(fs, backup, payload);
  if (Outcome whole = source.CheckWhole(); !whole.ok()) return whole;
  return ConvertToPcmWav(source, sink);
}

}  // namespace larkspool
