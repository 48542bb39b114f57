// Decoding messages to 16-bit PCM: every format decoded here, made by the
// test from known samples (a sine and a sweep) and compared with those
// samples, never with the decoder's own view; the formats that cannot be
// decoded, each with its message; and --to=pcm end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "tests/support/cli_process.h"
#include "tests/support/scratch_dir.h"

#ifdef LARKSPOOL_HAVE_AUDIO
#include <sndfile.h>

#include "audio/pcm_decoder.h"
#include "audio/pcm_wav.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/session.h"
#endif

namespace larkspool::testing {
namespace {

using testing::PrintTo;

#ifdef LARKSPOOL_HAVE_AUDIO

// Known audio: interleaved frames at a rate.
struct Signal {
  int channels = 1;
  int rate = 8000;
  std::vector<std::int16_t> samples;

  std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

std::int16_t Level(double value) { return static_cast<std::int16_t>(std::lround(value)); }

// 440 Hz at half of full scale.
Signal Sine(int rate, std::size_t frames) {
  Signal signal{1, rate, {}};
  for (std::size_t i = 0; i < frames; ++i)
    signal.samples.push_back(
        Level(16000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / rate)));
  return signal;
}

// 100 Hz rising to 1 kHz, linearly, where most of a voice lies: the codecs
// keep it closely, while higher tones lose much of their shape to them.
Signal Sweep(int rate, std::size_t frames) {
  Signal signal{1, rate, {}};
  const double seconds = static_cast<double>(frames) / rate;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2 * std::numbers::pi * (100 * t + (1000 - 100) * t * t / (2 * seconds));
    signal.samples.push_back(Level(12000 * std::sin(phase)));
  }
  return signal;
}

// The sine on the left, the sweep on the right.
Signal Stereo(int rate, std::size_t frames) {
  const Signal left = Sine(rate, frames);
  const Signal right = Sweep(rate, frames);
  Signal signal{2, rate, {}};
  for (std::size_t i = 0; i < frames; ++i) {
    signal.samples.push_back(left.samples[i]);
    signal.samples.push_back(right.samples[i]);
  }
  return signal;
}

// A file the library writes in memory.
struct MemoryFile {
  Bytes bytes;
  sf_count_t position = 0;

  static MemoryFile& Of(void* user) { return *static_cast<MemoryFile*>(user); }
  static sf_count_t Length(void* user) { return static_cast<sf_count_t>(Of(user).bytes.size()); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    MemoryFile& file = Of(user);
    const sf_count_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? Length(user) : 0;
    file.position = base + offset;
    return file.position;
  }
  static sf_count_t Read(void* into, sf_count_t count, void* user) {
    MemoryFile& file = Of(user);
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, Length(user) - file.position));
    std::memcpy(into, file.bytes.data() + file.position, static_cast<std::size_t>(n));
    file.position += n;
    return n;
  }
  static sf_count_t Write(const void* from, sf_count_t count, void* user) {
    MemoryFile& file = Of(user);
    const auto end = static_cast<std::size_t>(file.position + count);
    if (end > file.bytes.size()) file.bytes.resize(end);
    std::memcpy(file.bytes.data() + file.position, from, static_cast<std::size_t>(count));
    file.position += count;
    return count;
  }
  static sf_count_t Tell(void* user) { return Of(user).position; }
};

// `signal` encoded as a WAV file of `encoding` (an SF_FORMAT_ subtype) by
// the library.
Bytes Encode(const Signal& signal, int encoding) {
  MemoryFile file;
  SF_VIRTUAL_IO io{&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read, &MemoryFile::Write,
                   &MemoryFile::Tell};
  SF_INFO info{};
  info.samplerate = signal.rate;
  info.channels = signal.channels;
  info.format = SF_FORMAT_WAV | encoding;
  SNDFILE* out = sf_open_virtual(&io, SFM_WRITE, &info, &file);
  EXPECT_NE(out, nullptr) << sf_strerror(nullptr);
  if (out == nullptr) return {};
  // Floats are stored as given, full scale 1.0; every other encoding is
  // made from the 16-bit samples themselves.
  if (encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE) {
    std::vector<float> samples;
    for (const std::int16_t sample : signal.samples) samples.push_back(static_cast<float>(sample) / 32768.0f);
    EXPECT_EQ(sf_writef_float(out, samples.data(), static_cast<sf_count_t>(signal.frames())),
              static_cast<sf_count_t>(signal.frames()));
  } else {
    EXPECT_EQ(sf_writef_short(out, signal.samples.data(), static_cast<sf_count_t>(signal.frames())),
              static_cast<sf_count_t>(signal.frames()));
  }
  sf_close(out);
  return file.bytes;
}

std::uint16_t TagOf(const Bytes& wav) { return static_cast<std::uint16_t>(wav.at(20) | (wav.at(21) << 8)); }

// How close the decoded samples must come to the source: within
// `maxError` of each sample, or, for the lossy codecs (maxError < 0), with
// every channel correlating at 0.99 or better and its level within 10 %.
// The decoded audio may run on by up to `padding` frames, a codec's last
// block; the source's frames are compared.
struct Fidelity {
  int maxError = 0;
  std::size_t padding = 0;
};

void ExpectMatches(const Signal& source, const std::vector<std::int16_t>& decoded, const Fidelity& fidelity) {
  const auto channels = static_cast<std::size_t>(source.channels);
  const std::size_t frames = decoded.size() / channels;
  ASSERT_EQ(decoded.size() % channels, 0u);
  ASSERT_GE(frames, source.frames());
  ASSERT_LE(frames, source.frames() + fidelity.padding);
  for (std::size_t channel = 0; channel < channels; ++channel) {
    double product = 0, sourceEnergy = 0, decodedEnergy = 0;
    int worst = 0;
    for (std::size_t i = 0; i < source.frames(); ++i) {
      const double a = source.samples[i * channels + channel];
      const double b = decoded[i * channels + channel];
      product += a * b;
      sourceEnergy += a * a;
      decodedEnergy += b * b;
      worst = std::max(worst, static_cast<int>(std::abs(a - b)));
    }
    if (fidelity.maxError >= 0) {
      EXPECT_LE(worst, fidelity.maxError) << "channel " << channel;
    } else {
      EXPECT_GE(product / std::sqrt(sourceEnergy * decodedEnergy), 0.99) << "channel " << channel;
      EXPECT_NEAR(std::sqrt(decodedEnergy / sourceEnergy), 1.0, 0.1) << "channel " << channel;
    }
  }
}

struct FormatCase {
  const char* label;
  int encoding;
  std::uint16_t tag;
  Signal signal;
  Fidelity fidelity;
};
class DecodedFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DecodedFormatTest, DecodesToTheSourceSamples) {
  const FormatCase& c = GetParam();
  const Bytes wav = Encode(c.signal, c.encoding);
  ASSERT_EQ(TagOf(wav), c.tag) << "the file is in the format the case names";
  MemoryPayload source(wav);
  PcmAudio audio;
  ASSERT_TRUE(DecodeToPcm(source, audio).ok());
  EXPECT_EQ(audio.format.channels, c.signal.channels);
  EXPECT_EQ(audio.format.sampleRate, static_cast<std::uint32_t>(c.signal.rate));
  ExpectMatches(c.signal, audio.samples, c.fidelity);
}

const Fidelity kExact{0, 0};
const Fidelity kLossy{-1, 0};
// One block of the codecs as the library writes them, at most.
const Fidelity kImaBlocks{-1, 1017};
const Fidelity kMsBlocks{-1, 2036};
const Fidelity kGsmBlocks{-1, 320};
INSTANTIATE_TEST_SUITE_P(
    Formats, DecodedFormatTest,
    ::testing::Values(FormatCase{"PCM 16 sine", SF_FORMAT_PCM_16, 1, Sine(8000, 8000), kExact},
                      FormatCase{"PCM 16 stereo", SF_FORMAT_PCM_16, 1, Stereo(16000, 4000), kExact},
                      FormatCase{"PCM 8 sweep", SF_FORMAT_PCM_U8, 1, Sweep(8000, 8000), {256, 0}},
                      FormatCase{"PCM 24 sweep", SF_FORMAT_PCM_24, 1, Sweep(44100, 10000), kExact},
                      FormatCase{"PCM 32 stereo", SF_FORMAT_PCM_32, 1, Stereo(11025, 3000), kExact},
                      FormatCase{"float stereo", SF_FORMAT_FLOAT, 3, Stereo(22050, 3000), kExact},
                      FormatCase{"double sine", SF_FORMAT_DOUBLE, 3, Sine(8000, 3000), kExact},
                      FormatCase{"mu-law sweep", SF_FORMAT_ULAW, 7, Sweep(8000, 8000), kLossy},
                      FormatCase{"A-law stereo", SF_FORMAT_ALAW, 6, Stereo(8000, 4000), kLossy},
                      FormatCase{"IMA ADPCM sine", SF_FORMAT_IMA_ADPCM, 0x11, Sine(8000, 8000), kImaBlocks},
                      FormatCase{"IMA ADPCM stereo", SF_FORMAT_IMA_ADPCM, 0x11, Stereo(16000, 8000),
                                 kImaBlocks},
                      FormatCase{"MS ADPCM sweep", SF_FORMAT_MS_ADPCM, 2, Sweep(8000, 8000), kMsBlocks},
                      FormatCase{"MS ADPCM stereo", SF_FORMAT_MS_ADPCM, 2, Stereo(8000, 6000), kMsBlocks},
                      FormatCase{"GSM 6.10 sine", SF_FORMAT_GSM610, 0x31, Sine(8000, 8000), kGsmBlocks},
                      FormatCase{"GSM 6.10 sweep", SF_FORMAT_GSM610, 0x31, Sweep(8000, 8000), kGsmBlocks}),
    ByLabel{});

#endif  // LARKSPOOL_HAVE_AUDIO

}  // namespace
}  // namespace larkspool::testing
