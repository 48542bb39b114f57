#include "audio/pcm_decoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "archive/backup_format.h"
#include "archive/wav_info.h"

namespace larkspool {
namespace {

constexpr std::string_view kPayloadPastTheEnd = "backup ends inside a payload";

// The samples decoded at once: a few pages of floats, whatever the channels.
constexpr std::size_t kBlockSamples = 16384;

// The encodings the library reports for the formats decoded here; a payload
// whose tag passed but that it reads as anything else is not decoded.
bool IsDecodedEncoding(int format) {
  const int major = format & SF_FORMAT_TYPEMASK;
  if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) return false;
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
      return true;
    default:
      return false;
  }
}

// A sample of the library's normalised floats (full scale is 1.0) as 16
// bits: scaled by 32768, so 16-bit input comes back exactly, rounded, and
// held to the range; float data may hold anything, NaN included.
std::int16_t ToInt16(float sample) {
  if (std::isnan(sample)) return 0;
  const float scaled = sample * 32768.0f;
  if (scaled >= 32767.0f) return std::numeric_limits<std::int16_t>::max();
  if (scaled <= -32768.0f) return std::numeric_limits<std::int16_t>::min();
  return static_cast<std::int16_t>(std::lrint(scaled));
}

}  // namespace

std::size_t MemoryPayload::ReadAt(std::uint64_t at, std::uint8_t* into, std::size_t count) {
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at), count, into);
  return count;
}

std::size_t BackupPayload::ReadAt(std::uint64_t at, std::uint8_t* into, std::size_t count) {
  if (!status().ok()) return 0;
  const std::int64_t wanted = payload_.offset + static_cast<std::int64_t>(at);
  errno = 0;
  if (position_ != wanted && fs_.Seek(backup_, wanted, SeekFrom::kStart) != wanted) {
    position_ = -1;
    Failed(Outcome::FailWithErrno(StatusCode::kReadFailed));
    return 0;
  }
  const std::int64_t read = fs_.Read(backup_, into, count);
  position_ = read < 0 ? -1 : wanted + read;
  if (read != static_cast<std::int64_t>(count)) {
    Failed(Outcome::FailWithErrno(StatusCode::kReadFailed, kPayloadPastTheEnd));
    return read < 0 ? 0 : static_cast<std::size_t>(read);
  }
  return count;
}

Outcome BackupPayload::CheckWhole() {
  std::uint8_t last = 0;
  if (payload_.size > 0) ReadAt(payload_.size - 1, &last, 1);
  return status();
}

Outcome BackupPayload::LeaveAtEnd() {
  errno = 0;
  if (fs_.Seek(backup_, payload_.end(), SeekFrom::kStart) != payload_.end()) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed);
  }
  position_ = payload_.end();
  return Outcome::Ok();
}

bool IsDecodedFormat(std::uint16_t formatTag) {
  switch (formatTag) {
    case 0x0001:  // PCM
    case 0x0002:  // MS ADPCM
    case 0x0003:  // IEEE float
    case 0x0006:  // A-law
    case 0x0007:  // µ-law
    case 0x0011:  // IMA ADPCM
    case 0x0031:  // GSM 6.10
      return true;
    default:
      return false;
  }
}

Outcome UndecodedFormat(std::uint16_t formatTag) {
  const std::string name = WaveFormatName(formatTag);
  return Outcome::Fail(StatusCode::kAudioFormat)
      .WithText("This message's audio format (" + name + ") cannot be played here.");
}

Outcome TooLongForPcmWav() {
  return Outcome::Fail(StatusCode::kAudioFormat)
      .WithText("This message is too long to be written as a 16-bit PCM WAV file.");
}

// The library reads a WAV file of three chunks made for it: the payload's
// "fmt " chunk as it is stored and a "data" chunk over the payload's samples,
// behind a header of our own. Whatever else the payload holds (lists, chunks
// after the samples, sizes that run past its end) never reaches the
// library, which can walk such chunks without end. A read past the end
// reads nothing.
struct PcmDecoder::Library {
  Library(PayloadSource& from, const std::uint8_t* head, const WaveInfo& wave) : source(from) {
    dataBytes = std::min<std::uint64_t>(wave.dataBytes, kMaxPcmWavData);
    dataAt = wave.dataAt;
    const std::size_t fmtPadded = wave.fmtSize + (wave.fmtSize & 1u);
    header.assign(12 + 8 + fmtPadded + 8, 0);
    std::uint8_t* at = header.data();
    const auto put = [&at](std::string_view text) { at = std::copy(text.begin(), text.end(), at); };
    const auto put32 = [&at](std::uint64_t value) {
      for (int i = 0; i < 4; ++i) *at++ = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put("RIFF");
    put32(std::min<std::uint64_t>(header.size() - 8 + dataBytes, std::numeric_limits<std::uint32_t>::max()));
    put("WAVEfmt ");
    put32(wave.fmtSize);
    at = std::copy_n(head + wave.fmtAt + 8, wave.fmtSize, at) + (wave.fmtSize & 1u);
    put("data");
    put32(dataBytes);
  }
  ~Library() {
    if (file != nullptr) sf_close(file);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  static Library& Of(void* user) { return *static_cast<Library*>(user); }

  sf_count_t size() const { return static_cast<sf_count_t>(header.size() + dataBytes); }

  static sf_count_t Length(void* user) { return Of(user).size(); }

  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    Library& self = Of(user);
    const sf_count_t base = whence == SEEK_CUR ? self.position : whence == SEEK_END ? self.size() : 0;
    if ((offset > 0 && base > std::numeric_limits<sf_count_t>::max() - offset) || base + offset < 0)
      return -1;
    self.position = base + offset;
    return self.position;
  }

  static sf_count_t Read(void* into, sf_count_t count, void* user) {
    Library& self = Of(user);
    auto* to = static_cast<std::uint8_t*>(into);
    const sf_count_t size = self.size();
    if (count <= 0 || self.position >= size) return 0;
    auto wanted = static_cast<std::size_t>(std::min(count, size - self.position));
    std::size_t read = 0;
    const auto headerSize = static_cast<sf_count_t>(self.header.size());
    if (self.position < headerSize) {
      read = std::min(wanted, static_cast<std::size_t>(headerSize - self.position));
      std::copy_n(self.header.begin() + self.position, read, to);
      wanted -= read;
    }
    if (wanted > 0) {
      const auto at = static_cast<std::uint64_t>(self.position) + read - self.header.size();
      read += self.source.ReadAt(self.dataAt + at, to + read, wanted);
    }
    self.position += static_cast<sf_count_t>(read);
    return static_cast<sf_count_t>(read);
  }

  static sf_count_t Write(const void* /*from*/, sf_count_t /*count*/, void* /*user*/) { return 0; }

  static sf_count_t Tell(void* user) { return Of(user).position; }

  PayloadSource& source;
  std::vector<std::uint8_t> header;
  std::uint64_t dataAt = 0;
  std::uint64_t dataBytes = 0;
  sf_count_t position = 0;
  SNDFILE* file = nullptr;
  SF_INFO info{};
};

PcmDecoder::PcmDecoder(PayloadSource& source) : source_(source) {}

PcmDecoder::~PcmDecoder() = default;

Outcome PcmDecoder::Open() {
  library_.reset();
  format_ = PcmFormat{};
  // The tags and the format tag, read as every other reader of payloads
  // reads them: a payload too short for the tags fails the tag test.
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(source_.size(), kWaveInfoWindow)));
  source_.ReadAt(0, head.data(), head.size());
  if (!source_.status().ok()) return source_.status();
  if (head.size() < format::kWaveTagsSize ||
      !HasWaveTags(
          std::span<const std::uint8_t, format::kWaveTagsSize>(head.data(), format::kWaveTagsSize))) {
    return Outcome::Fail(StatusCode::kWaveFormat);
  }
  const std::optional<WaveInfo> info = ParseWaveInfo(head.data(), head.size(), source_.size());
  if (!info) return Outcome::Fail(StatusCode::kWaveFormat, "the format chunk cannot be read");
  if (!IsDecodedFormat(info->formatTag)) return UndecodedFormat(info->formatTag);

  auto library = std::make_unique<Library>(source_, head.data(), *info);
  SF_VIRTUAL_IO io{&Library::Length, &Library::Seek, &Library::Read, &Library::Write, &Library::Tell};
  library->file = sf_open_virtual(&io, SFM_READ, &library->info, library.get());
  if (!source_.status().ok()) return source_.status();
  if (library->file == nullptr) return Outcome::Fail(StatusCode::kWaveFormat, sf_strerror(nullptr));
  if (!IsDecodedEncoding(library->info.format)) return UndecodedFormat(info->formatTag);
  const int channels = library->info.channels;
  const int rate = library->info.samplerate;
  if (channels < 1 || channels > std::numeric_limits<std::uint16_t>::max() || rate < 1) {
    return Outcome::Fail(StatusCode::kWaveFormat, "no channels or no sample rate");
  }
  sf_command(library->file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  format_ = PcmFormat{static_cast<std::uint16_t>(channels), static_cast<std::uint32_t>(rate)};
  library_ = std::move(library);
  return Outcome::Ok();
}

std::size_t PcmDecoder::Read(std::span<std::int16_t> samples) {
  if (!library_ || format_.channels == 0) return 0;
  const std::size_t frames = samples.size() / format_.channels;
  if (frames == 0) return 0;
  buffer_.resize(frames * format_.channels);
  const sf_count_t decoded = sf_readf_float(library_->file, buffer_.data(), static_cast<sf_count_t>(frames));
  if (decoded <= 0) return 0;
  const auto count = static_cast<std::size_t>(decoded) * format_.channels;
  std::transform(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count), samples.begin(),
                 ToInt16);
  return static_cast<std::size_t>(decoded);
}

Outcome PcmDecoder::status() const {
  if (!source_.status().ok()) return source_.status();
  if (library_ && sf_error(library_->file) != SF_ERR_NO_ERROR) {
    return Outcome::Fail(StatusCode::kWaveFormat, sf_strerror(library_->file));
  }
  return Outcome::Ok();
}

Outcome DecodeToPcm(PayloadSource& source, PcmAudio& audio, std::uint64_t maxDataBytes) {
  audio = PcmAudio{};
  PcmDecoder decoder(source);
  if (Outcome opened = decoder.Open(); !opened.ok()) return opened;
  audio.format = decoder.format();
  const std::size_t channels = audio.format.channels;
  const std::size_t block = std::max<std::size_t>(1, kBlockSamples / channels) * channels;
  for (;;) {
    const std::size_t held = audio.samples.size();
    audio.samples.resize(held + block);
    const std::size_t frames = decoder.Read(std::span(audio.samples).subspan(held));
    audio.samples.resize(held + frames * channels);
    if (audio.samples.size() * sizeof(std::int16_t) > maxDataBytes) return TooLongForPcmWav();
    if (frames == 0) break;
  }
  return decoder.status();
}

}  // namespace larkspool
