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
#include "tests/support/session.h"

#ifdef LARKSPOOL_HAVE_AUDIO
#include <sndfile.h>

#include "audio/pcm_decoder.h"
#include "audio/pcm_wav.h"
#include "tests/support/faulty_file_system.h"
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

// A WAV file the library writes in memory, `frames` frames of `channels`
// channels from `write`.
template <typename Write>
Bytes EncodeWith(int encoding, int channels, int rate, Write write) {
  MemoryFile file;
  SF_VIRTUAL_IO io{&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read, &MemoryFile::Write,
                   &MemoryFile::Tell};
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | encoding;
  SNDFILE* out = sf_open_virtual(&io, SFM_WRITE, &info, &file);
  EXPECT_NE(out, nullptr) << sf_strerror(nullptr);
  if (out == nullptr) return {};
  write(out);
  sf_close(out);
  return file.bytes;
}

// Floats stored as they are given (full scale 1.0), as a mono 8 kHz file.
Bytes EncodeFloats(const std::vector<float>& samples) {
  return EncodeWith(SF_FORMAT_FLOAT, 1, 8000, [&samples](SNDFILE* out) {
    EXPECT_EQ(sf_write_float(out, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
  });
}

// `signal` encoded as a WAV file of `encoding` (an SF_FORMAT_ subtype) by
// the library: floats from the samples over 32768, every other encoding from
// the 16-bit samples themselves.
Bytes Encode(const Signal& signal, int encoding) {
  if (encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE) {
    std::vector<float> samples;
    for (const std::int16_t sample : signal.samples) samples.push_back(static_cast<float>(sample) / 32768.0f);
    return EncodeWith(encoding, signal.channels, signal.rate, [&](SNDFILE* out) {
      EXPECT_EQ(sf_writef_float(out, samples.data(), static_cast<sf_count_t>(signal.frames())),
                static_cast<sf_count_t>(signal.frames()));
    });
  }
  return EncodeWith(encoding, signal.channels, signal.rate, [&](SNDFILE* out) {
    EXPECT_EQ(sf_writef_short(out, signal.samples.data(), static_cast<sf_count_t>(signal.frames())),
              static_cast<sf_count_t>(signal.frames()));
  });
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
  bool hostile = false;  // among chunks that must not reach the library
};
class DecodedFormatTest : public ::testing::TestWithParam<FormatCase> {};

constexpr std::array<std::uint8_t, 4> kData = {'d', 'a', 't', 'a'};

// `wav` with a list of odd size before its samples, and after them, past
// the RIFF size, a list whose stated size runs 4 GiB past the file's end and
// whose inner chunk states a size of -8: chunks the library walks without
// end when it is given them.
Bytes AmongHostileChunks(Bytes wav) {
  const auto data =
      static_cast<std::size_t>(std::search(wav.begin(), wav.end(), kData.begin(), kData.end()) - wav.begin());
  const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  wav.insert(wav.begin() + static_cast<std::ptrdiff_t>(data), list.begin(), list.end());
  // The RIFF size ends where the samples end, before the second list.
  for (std::size_t i = 0; i < 4; ++i) wav[4 + i] = static_cast<std::uint8_t>((wav.size() - 8) >> (8 * i));
  const Bytes tail = {'L', 'I', 'S', 'T', 3, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0xFF, 0xFF, 0xFF};
  wav.insert(wav.end(), tail.begin(), tail.end());
  wav.insert(wav.end(), 60, 0xFF);
  return wav;
}

TEST_P(DecodedFormatTest, DecodesToTheSourceSamples) {
  const FormatCase& c = GetParam();
  const Bytes wav =
      c.hostile ? AmongHostileChunks(Encode(c.signal, c.encoding)) : Encode(c.signal, c.encoding);
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
// The codecs fill their last block with silence: less than a block of the
// frames the library writes at 8 and 16 kHz. Its GSM 6.10 blocks hold 320
// frames, and it adds one more when the file is closed.
const Fidelity kImaBlocks{-1, 1017};
const Fidelity kMsBlocks{-1, 2036};
const Fidelity kGsmBlocks{-1, 640};
INSTANTIATE_TEST_SUITE_P(
    Formats, DecodedFormatTest,
    ::testing::Values(
        FormatCase{"PCM 16 sine", SF_FORMAT_PCM_16, 1, Sine(8000, 8000), kExact},
        FormatCase{"PCM 16 stereo", SF_FORMAT_PCM_16, 1, Stereo(16000, 4000), kExact},
        FormatCase{"PCM 8 sweep", SF_FORMAT_PCM_U8, 1, Sweep(8000, 8000), {256, 0}},
        FormatCase{"PCM 24 sweep", SF_FORMAT_PCM_24, 1, Sweep(44100, 10000), kExact},
        FormatCase{"PCM 32 stereo", SF_FORMAT_PCM_32, 1, Stereo(11025, 3000), kExact},
        FormatCase{"float stereo", SF_FORMAT_FLOAT, 3, Stereo(22050, 3000), kExact},
        FormatCase{"double sine", SF_FORMAT_DOUBLE, 3, Sine(8000, 3000), kExact},
        FormatCase{"mu-law sweep", SF_FORMAT_ULAW, 7, Sweep(8000, 8000), kLossy},
        FormatCase{"A-law stereo", SF_FORMAT_ALAW, 6, Stereo(8000, 4000), kLossy},
        FormatCase{"IMA ADPCM sine", SF_FORMAT_IMA_ADPCM, 0x11, Sine(8000, 8000), kImaBlocks},
        FormatCase{"IMA ADPCM stereo", SF_FORMAT_IMA_ADPCM, 0x11, Stereo(16000, 8000), kImaBlocks},
        FormatCase{"MS ADPCM sweep", SF_FORMAT_MS_ADPCM, 2, Sweep(8000, 8000), kMsBlocks},
        FormatCase{"MS ADPCM stereo", SF_FORMAT_MS_ADPCM, 2, Stereo(8000, 6000), kMsBlocks},
        FormatCase{"GSM 6.10 sine", SF_FORMAT_GSM610, 0x31, Sine(8000, 8000), kGsmBlocks},
        FormatCase{"GSM 6.10 sweep", SF_FORMAT_GSM610, 0x31, Sweep(8000, 8000), kGsmBlocks},
        FormatCase{"mu-law among hostile chunks", SF_FORMAT_ULAW, 7, Sweep(8000, 8000), kLossy, true},
        FormatCase{"IMA ADPCM among hostile chunks", SF_FORMAT_IMA_ADPCM, 0x11, Sine(8000, 8000), kImaBlocks,
                   true}),
    ByLabel{});

// Float data may hold anything: beyond full scale it is held to the 16-bit
// range, and NaN is silence, never a wrapped-around sample.
TEST(DecodedFloatTest, SamplesOutsideFullScaleAreHeldToTheRange) {
  const Bytes wav = EncodeFloats({0.25f, 1.5f, -3.0f, std::nanf(""), -1.0f, 0.99999f});
  MemoryPayload source(wav);
  PcmAudio audio;
  ASSERT_TRUE(DecodeToPcm(source, audio).ok());
  EXPECT_EQ(audio.samples, (std::vector<std::int16_t>{8192, 32767, -32768, 0, -32768, 32767}));
}

// What the message box or the command line shows for an outcome.
std::string ShownText(const Outcome& outcome) {
  return outcome.text().empty() ? StatusMessage(outcome.code()).text : outcome.text();
}

WaveShape Tagged(std::uint16_t tag) {
  WaveShape shape;
  shape.formatTag = tag;
  shape.byteRate = 1000;
  shape.blockAlign = 20;
  shape.bitsPerSample = 0;
  shape.dataBytes = 200;
  return shape;
}

WaveShape Extensible(std::uint16_t subFormat) {
  WaveShape shape = Tagged(0xFFFE);
  shape.subFormat = subFormat;
  return shape;
}

struct RefusedCase {
  const char* label;
  Bytes wav;
  StatusCode code;
  std::string text;
};
class RefusedFormatTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedFormatTest, GivesItsMessageAndNoSamples) {
  const RefusedCase& c = GetParam();
  MemoryPayload source(c.wav);
  PcmAudio audio;
  const Outcome decoded = DecodeToPcm(source, audio);
  EXPECT_EQ(decoded.code(), c.code);
  EXPECT_EQ(ShownText(decoded), c.text);
  EXPECT_TRUE(audio.samples.empty());
}

Bytes Without(Bytes wav, std::size_t at, std::size_t count) {
  wav.erase(wav.begin() + static_cast<std::ptrdiff_t>(at),
            wav.begin() + static_cast<std::ptrdiff_t>(at + count));
  return wav;
}

Bytes Cut(Bytes wav, std::size_t size) {
  wav.resize(size);
  return wav;
}

WaveShape MsAdpcmWithoutCoefficients() {
  WaveShape shape;
  shape.formatTag = 2;
  shape.byteRate = 4096;
  shape.blockAlign = 256;
  shape.bitsPerSample = 4;
  shape.dataBytes = 1024;
  return shape;
}

using enum StatusCode;
const std::string kWaveError = "Wave file format error.";
INSTANTIATE_TEST_SUITE_P(
    Refused, RefusedFormatTest,
    ::testing::Values(
        RefusedCase{"G.729", WavWithFormat(Tagged(0x0133)), kAudioFormat,
                    "This message's audio format (G.729) cannot be played here."},
        RefusedCase{"G.729A", WavWithFormat(Tagged(0x0083)), kAudioFormat,
                    "This message's audio format (G.729A) cannot be played here."},
        RefusedCase{"G.726 as an extensible format", WavWithFormat(Extensible(0x0064)), kAudioFormat,
                    "This message's audio format (G.726) cannot be played here."},
        RefusedCase{"G.721", WavWithFormat(Tagged(0x0040)), kAudioFormat,
                    "This message's audio format (G.721) cannot be played here."},
        RefusedCase{"MP3", WavWithFormat(Tagged(0x0055)), kAudioFormat,
                    "This message's audio format (MP3) cannot be played here."},
        RefusedCase{"an unknown tag", WavWithFormat(Tagged(0x1234)), kAudioFormat,
                    "This message's audio format (tag 4660) cannot be played here."},
        RefusedCase{"no RIFF tag", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, kWaveFormat,
                    kWaveError},
        RefusedCase{"shorter than the tags", Bytes{'R', 'I', 'F', 'F'}, kWaveFormat, kWaveError},
        RefusedCase{"no format chunk", Without(WavFile({1, 2, 3}), 12, 24), kWaveFormat, kWaveError},
        RefusedCase{"MS ADPCM without its coefficients", WavWithFormat(MsAdpcmWithoutCoefficients()),
                    kWaveFormat, kWaveError},
        RefusedCase{"GSM 6.10 cut inside its format chunk",
                    Cut(Encode(Sine(8000, 640), SF_FORMAT_GSM610), 30), kWaveFormat, kWaveError}),
    ByLabel{});

// The file written is the canonical 44-byte header and the samples,
// little-endian, as spelt out here byte by byte.
TEST(PcmWavTest, WritesTheCanonicalHeaderAndTheSamples) {
  const PcmAudio audio{{2, 8000}, {1, -2, 0x1234, -32768}};
  Bytes written;
  const WavSink sink = [&written](std::span<const std::uint8_t> bytes) {
    written.insert(written.end(), bytes.begin(), bytes.end());
    return true;
  };
  ASSERT_TRUE(WritePcmWav(audio, sink).ok());
  const Bytes expected = {'R', 'I',  'F',  'F',  44,   0,    0,    0,    'W', 'A', 'V',
                          'E', 'f',  'm',  't',  ' ',  16,   0,    0,    0,   1,   0,
                          2,   0,    0x40, 0x1F, 0,    0,    0x00, 0x7D, 0,   0,  // 8000 Hz, 32000 bytes/s
                          4,   0,    16,   0,    'd',  'a',  't',  'a',  8,   0,   0,
                          0,   0x01, 0x00, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80};
  EXPECT_EQ(written, expected);
}

// A message whose 16-bit form would not fit a WAV file fails before a byte
// is handed on, rather than writing sizes that wrapped around.
TEST(PcmWavTest, AudioTooLongForAWavFileIsRefusedBeforeAnythingIsWritten) {
  const Bytes wav = WavFile(Sine(8000, 1000).samples);
  MemoryPayload source(wav);
  bool handed = false;
  const Outcome converted = ConvertToPcmWav(
      source, [&handed](std::span<const std::uint8_t>) { return handed = true; }, {}, 1998);
  EXPECT_EQ(converted.code(), kAudioFormat);
  EXPECT_EQ(converted.text(), "This message is too long to be written as a 16-bit PCM WAV file.");
  EXPECT_FALSE(handed);
  PcmAudio audio;
  EXPECT_EQ(DecodeToPcm(source, audio, 1998).code(), kAudioFormat);
  EXPECT_TRUE(ConvertToPcmWav(
                  source, [](std::span<const std::uint8_t>) { return true; }, {}, 2000)
                  .ok());
}

// A 16-bit PCM WAV file as any reader sees it: the canonical header checked
// field by field, and the samples.
struct ReadWav {
  int channels = 0;
  int rate = 0;
  std::vector<std::int16_t> samples;
};

std::uint32_t Le(const Bytes& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
  return value;
}

ReadWav ReadPcmWav(const Bytes& file) {
  ReadWav wav;
  EXPECT_GE(file.size(), 44u);
  if (file.size() < 44) return wav;
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(Le(file, 4, 4), file.size() - 8);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le(file, 16, 4), 16u);
  EXPECT_EQ(Le(file, 20, 2), 1u) << "PCM";
  wav.channels = static_cast<int>(Le(file, 22, 2));
  wav.rate = static_cast<int>(Le(file, 24, 4));
  EXPECT_EQ(Le(file, 28, 4), static_cast<std::uint32_t>(wav.rate * wav.channels * 2));
  EXPECT_EQ(Le(file, 32, 2), static_cast<std::uint32_t>(wav.channels * 2));
  EXPECT_EQ(Le(file, 34, 2), 16u);
  EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
  EXPECT_EQ(Le(file, 40, 4), file.size() - 44);
  for (std::size_t at = 44; at + 1 < file.size(); at += 2)
    wav.samples.push_back(static_cast<std::int16_t>(Le(file, at, 2)));
  return wav;
}

void ExpectPcmWavOf(const Bytes& file, const Signal& source, const Fidelity& fidelity) {
  const ReadWav wav = ReadPcmWav(file);
  EXPECT_EQ(wav.channels, source.channels);
  EXPECT_EQ(wav.rate, source.rate);
  ExpectMatches(source, wav.samples, fidelity);
}

const Signal kSine = Sine(8000, 8000);
const Signal kSweep = Sweep(8000, 6000);
const Signal kStereo = Stereo(16000, 5000);

// A WAV file with a chunk of its own after the samples, as some systems
// write (notes, a picture): a reader of the samples passes over it unread.
Bytes WithTrailingChunk(Bytes wav) {
  constexpr std::uint32_t kBody = 100000;
  Bytes chunk = {'z', 'z', 'z', 'z', kBody & 0xFF, (kBody >> 8) & 0xFF, kBody >> 16, 0};
  chunk.resize(chunk.size() + kBody, 0x5A);
  wav.insert(wav.end(), chunk.begin(), chunk.end());
  const auto riff = static_cast<std::uint32_t>(wav.size() - 8);
  for (int i = 0; i < 4; ++i)
    wav[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  return wav;
}

// An extraction that converts: the files of a fault's run stay before it,
// the file it met the fault in is removed, each payload is passed whole (the
// next entry follows its last byte), and the progress counts every payload
// byte once.
struct ConversionCase {
  const char* label;
  std::optional<Fault> fault;
  std::size_t cut;  // bytes the backup lacks at its end, inside the last payload
  std::vector<std::string> messages;
  std::vector<std::string> kept;
};
class ConvertingExtractionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConvertingExtractionTest, WritesPcmFilesOrStopsAtTheFirstFault) {
  const ConversionCase& c = GetParam();
  const Bytes pcm = WavFile(kSine.samples);
  const Bytes ima = WithTrailingChunk(Encode(kStereo, SF_FORMAT_IMA_ADPCM));
  const Bytes gsm = WithTrailingChunk(Encode(kSweep, SF_FORMAT_GSM610));
  BackupBuilder backup = BackupBuilder::Single(BackupKind::k4);
  backup.Entry("pcm.wav", pcm).Entry("ima.wav", ima);
  backup.Entry("gsm.wav", Bytes(gsm.begin(), gsm.end() - static_cast<std::ptrdiff_t>(c.cut)),
               static_cast<std::uint32_t>(gsm.size()));
  Session s;
  s.converter = PcmWavConverter();
  FaultyFileSystem faulty;
  if (c.fault) faulty.Inject(*c.fault);
  s.Extract(backup, faulty);
  EXPECT_EQ(s.ui.MessageTexts(), c.messages);
  const Files files = s.Output();
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  EXPECT_EQ(names, c.kept);
  // 16-bit PCM comes out exactly as it went in.
  if (files.contains("pcm.wav")) {
    EXPECT_EQ(files.at("pcm.wav"), pcm);
  }
  if (files.contains("ima.wav")) {
    ExpectPcmWavOf(files.at("ima.wav"), kStereo, kImaBlocks);
  }
  if (files.contains("gsm.wav")) {
    ExpectPcmWavOf(files.at("gsm.wav"), kSweep, kGsmBlocks);
    EXPECT_EQ(s.doneBytes, static_cast<std::uint64_t>(s.totalBytes));
    EXPECT_EQ(s.ui.percents.back(), 100);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ConvertingExtractionTest,
    ::testing::Values(
        ConversionCase{
            "every message converted", {}, 0, {"Extraction completed."}, {"gsm.wav", "ima.wav", "pcm.wav"}},
        ConversionCase{"disk full inside the second",
                       WriteAt("ima.wav", 3000, FaultEffect::kFail, ENOSPC),
                       0,
                       {"System error(11)"},
                       {"pcm.wav"}},
        ConversionCase{"short write of the last header",
                       WriteAt("gsm.wav", 10, FaultEffect::kShort),
                       0,
                       {"System error(11)"},
                       {"ima.wav", "pcm.wav"}},
        ConversionCase{"the backup ends inside the last one's samples",
                       {},
                       100600,  // the chunk after them (100008 bytes) and some of the samples
                       {"System error(10)"},
                       {"ima.wav", "pcm.wav"}},
        ConversionCase{"the backup ends inside the chunk after them",
                       {},
                       2,
                       {"System error(10)"},
                       {"ima.wav", "pcm.wav"}}),
    ByLabel{});

// The bytes a program writes to standard output as the test reads them: a
// Windows program's CR LF is read as LF, so the bytes expected are too.
std::string AsStandardOutput(const Bytes& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
#ifdef _WIN32
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
#endif
    text += static_cast<char>(bytes[i]);
  }
  return text;
}

// The command line end to end, on a paired backup: every message of
// extract --to=pcm is a 16-bit PCM WAV file of the samples the message was
// made from, cat --to=pcm writes the same bytes, and without the option the
// stored bytes are written unchanged.
TEST(PcmCliTest, ExtractAndCatWritePcmWavFilesOfTheSourceSamples) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "pcm");
  std::filesystem::create_directory(dir / "stored");
  const Bytes u8 = Encode(kSweep, SF_FORMAT_PCM_U8);
  const Bytes ulaw = Encode(kSine, SF_FORMAT_ULAW);
  const Bytes ms = Encode(kStereo, SF_FORMAT_MS_ADPCM);
  BackupBuilder::Paired().Files("u8.wav", u8, "ulaw.wav", ulaw).Files("ms.wav", ms).WriteTo(dir / "box.bkp");

  const Process pcm = RunCli({"extract", "--to=pcm", dir / "box.bkp", dir / "pcm"}, dir.path());
  EXPECT_EQ(pcm.status, 0) << pcm.err;
  const Files files = FilesIn(dir / "pcm");
  ASSERT_EQ(files.size(), 3u);
  ExpectPcmWavOf(files.at("u8.wav"), kSweep, {256, 0});
  ExpectPcmWavOf(files.at("ulaw.wav"), kSine, kLossy);
  ExpectPcmWavOf(files.at("ms.wav"), kStereo, kMsBlocks);

  const Process cat = RunCli({"cat", "--to=pcm", dir / "box.bkp", "ms.wav"}, dir.path());
  EXPECT_EQ(cat.status, 0) << cat.err;
  EXPECT_EQ(cat.out, AsStandardOutput(files.at("ms.wav")));

  const Process stored = RunCli({"extract", "--to=stored", dir / "box.bkp", dir / "stored"}, dir.path());
  EXPECT_EQ(stored.status, 0) << stored.err;
  EXPECT_EQ(FilesIn(dir / "stored"), (Files{{"u8.wav", u8}, {"ulaw.wav", ulaw}, {"ms.wav", ms}}));
}

// A message that cannot be decoded ends the run as a fault does: its message
// names the format, the files before it stay, and nothing of it or after it
// is written; cat writes nothing at all.
TEST(PcmCliTest, AnUndecodableMessageStopsTheRunWithItsFormatNamed) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  const Bytes first = WavFile(kSine.samples);
  BackupBuilder::Single(BackupKind::k3)
      .Entry("first.wav", first)
      .Entry("g729.wav", WavWithFormat(Tagged(0x0133)))
      .Entry("last.wav", WavFile(kSine.samples))
      .WriteTo(dir / "box.bkp");
  const std::string message =
      "larkspool-cli: This message's audio format (G.729) cannot be played here.: g729.wav\n";

  const Process extract = RunCli({"extract", "--to=pcm", dir / "box.bkp", dir / "out"}, dir.path());
  EXPECT_EQ(extract.status, 1);
  EXPECT_EQ(extract.err, message);
  EXPECT_EQ(FilesIn(dir / "out"), (Files{{"first.wav", first}}));

  const Process cat = RunCli({"cat", "--to=pcm", dir / "box.bkp", "g729.wav"}, dir.path());
  EXPECT_EQ(cat.status, 1);
  EXPECT_EQ(cat.err, message);
  EXPECT_EQ(cat.out, "");
}

#else  // LARKSPOOL_HAVE_AUDIO

// Without the decoder --to=pcm says so and writes nothing, rather than the
// stored bytes under the name of a conversion.
TEST(PcmCliTest, WithoutTheDecoderPcmIsRefusedAndNothingIsWritten) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  BackupBuilder::Single(BackupKind::k3).Entry("a.wav", WavFile({1, 2, 3})).WriteTo(dir / "box.bkp");
  const std::string message =
      "larkspool-cli: --to=pcm: this build has no audio decoder; only the stored bytes (--to=stored) can be "
      "written\n";
  const Process extract = RunCli({"extract", "--to=pcm", dir / "box.bkp", dir / "out"}, dir.path());
  EXPECT_EQ(extract.status, 1);
  EXPECT_EQ(extract.err, message);
  EXPECT_TRUE(FilesIn(dir / "out").empty());
  const Process cat = RunCli({"cat", "--to=pcm", dir / "box.bkp", "a.wav"}, dir.path());
  EXPECT_EQ(cat.status, 1);
  EXPECT_EQ(cat.err, message);
  EXPECT_EQ(cat.out, "");
}

#endif  // LARKSPOOL_HAVE_AUDIO

}  // namespace
}  // namespace larkspool::testing
