// The audio details of payloads: real headers of the formats voice systems
// write, and headers damaged in every way a payload can be.
#include "archive/wav_info.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>

#include "builder/backup_builder.h"

namespace larkspool::testing {
namespace {

Bytes Chunk(const char* id, std::uint32_t size, std::size_t bodyBytes) {
  Bytes chunk(8 + bodyBytes, 'x');
  for (std::size_t i = 0; i < 4; ++i) chunk[i] = static_cast<std::uint8_t>(id[i]);
  EncodeFixed32(std::span(chunk).subspan<4, 4>(), size);
  return chunk;
}

WaveShape Shape(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint32_t byteRate,
                std::uint16_t bits, std::uint32_t dataBytes) {
  WaveShape waveFormat;
  waveFormat.formatTag = tag;
  waveFormat.channels = channels;
  waveFormat.sampleRate = rate;
  waveFormat.byteRate = byteRate;
  waveFormat.bitsPerSample = bits;
  waveFormat.dataBytes = dataBytes;
  return waveFormat;
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes Poke(Bytes bytes, std::size_t at, std::uint32_t value) {
  EncodeFixed32(std::span(bytes).subspan(at).first<4>(), value);
  return bytes;
}

struct Expected {
  std::string format;
  std::uint16_t tag;
  std::uint16_t channels;
  std::uint32_t rate;
  std::uint16_t bits;
  double seconds;
};

TEST(WaveInfoTest, ReadsTheFormatAndDurationOrGivesNoValue) {
  const Bytes pcm = WavWithFormat(Shape(1, 1, 8000, 16000, 16, 24000));
  WaveShape withList = Shape(7, 1, 8000, 8000, 8, 4000);
  withList.beforeData = Chunk("LIST", 5, 6);  // odd size, one pad byte
  WaveShape extensible = Shape(0xFFFE, 2, 44100, 176400, 16, 17640);
  extensible.subFormat = 1;
  WaveShape oversized = Shape(6, 1, 8000, 8000, 8, 800);
  oversized.dataSize = 80000;  // the payload ends long before
  WaveShape dataFirst = Shape(1, 1, 8000, 16000, 16, 0);
  dataFirst.beforeData = Chunk("junk", 0xFFFFFFF0, 0);  // a size that would wrap a 32-bit position
  WaveShape bigFirst = Shape(1, 1, 8000, 16000, 16, 0);
  bigFirst.beforeData = Chunk("LIST", 20000, 20000);  // "data" lies past the bytes read

  const struct {
    const char* what;
    Bytes payload;
    std::optional<Expected> expected;
  } cases[] = {
      {"PCM", pcm, Expected{"PCM", 1, 1, 8000, 16, 1.5}},
      {"mu-law after a padded LIST", WavWithFormat(withList), Expected{"µ-law", 7, 1, 8000, 8, 0.5}},
      {"A-law, data cut to the payload", WavWithFormat(oversized), Expected{"A-law", 6, 1, 8000, 8, 0.1}},
      {"IMA ADPCM stereo", WavWithFormat(Shape(0x11, 2, 8000, 8110, 4, 16220)),
       Expected{"IMA ADPCM", 0x11, 2, 8000, 4, 2.0}},
      {"GSM 6.10", WavWithFormat(Shape(0x31, 1, 8000, 1625, 0, 3250)),
       Expected{"GSM 6.10", 0x31, 1, 8000, 0, 2.0}},
      {"G.726", WavWithFormat(Shape(0x64, 1, 8000, 4000, 4, 1000)),
       Expected{"G.726", 0x64, 1, 8000, 4, 0.25}},
      {"G.721", WavWithFormat(Shape(0x40, 1, 8000, 4000, 4, 6000)), Expected{"G.721", 0x40, 1, 8000, 4, 1.5}},
      {"unknown tag", WavWithFormat(Shape(0x1234, 1, 11025, 11025, 8, 11025)),
       Expected{"tag 4660", 0x1234, 1, 11025, 8, 1.0}},
      {"extensible PCM", WavWithFormat(extensible), Expected{"PCM", 1, 2, 44100, 16, 0.1}},
      {"no RIFF tag", Poke(pcm, 0, 0x46464952 + 1), std::nullopt},
      {"tags only", Cut(pcm, 12), std::nullopt},
      {"cut inside the fmt chunk", Cut(pcm, 30), std::nullopt},
      {"cut before the data chunk", Cut(pcm, 36), std::nullopt},
      {"cut inside the data chunk's header", Cut(pcm, 42), std::nullopt},
      {"fmt chunk of 14 bytes", Poke(pcm, 16, 14), std::nullopt},
      {"fmt chunk longer than the payload", Poke(pcm, 16, 0x7FFFFFFF), std::nullopt},
      {"byte rate 0", Poke(pcm, 28, 0), std::nullopt},
      {"no channels", Poke(pcm, 20, 1), std::nullopt},
      {"huge chunk before fmt",
       [&] {
         Bytes wav = Cut(pcm, 12);
         const Bytes junk = Chunk("junk", 0xFFFFFFFF, 4);
         wav.insert(wav.end(), junk.begin(), junk.end());
         wav.insert(wav.end(), pcm.begin() + 12, pcm.end());
         return wav;
       }(),
       std::nullopt},
      {"huge chunk before data", WavWithFormat(dataFirst), std::nullopt},
      {"data past the bytes read", WavWithFormat(bigFirst), std::nullopt},
      {"random payload", WavPayload(200, 4), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t window = std::min(c.payload.size(), kWaveInfoWindow);
    const std::optional<WaveInfo> info = ParseWaveInfo(c.payload.data(), window, c.payload.size());
    ASSERT_EQ(info.has_value(), c.expected.has_value());
    if (!info) continue;
    EXPECT_EQ(WaveFormatName(info->formatTag), c.expected->format);
    EXPECT_EQ(info->formatTag, c.expected->tag);
    EXPECT_EQ(info->channels, c.expected->channels);
    EXPECT_EQ(info->sampleRate, c.expected->rate);
    EXPECT_EQ(info->bitsPerSample, c.expected->bits);
    EXPECT_DOUBLE_EQ(info->DurationSeconds(), c.expected->seconds);
  }
}

}  // namespace
}  // namespace larkspool::testing
