#include "archive/wav_info.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "archive/backup_format.h"

namespace larkspool {
namespace {

constexpr std::size_t kChunkHeaderSize = 4 + 4;  // id, size
constexpr std::size_t kFmtSize = 2 + 2 + 4 + 4 + 2 + 2;
// An extensible format goes on with its extra size, valid bits, channel mask
// and the sub-format's GUID, whose first two bytes are the real format tag.
constexpr std::size_t kSubFormatOffset = kFmtSize + 2 + 2 + 4;
constexpr std::size_t kExtensibleFmtSize = kSubFormatOffset + 16;
constexpr std::uint16_t kExtensibleTag = 0xFFFE;

std::uint16_t Fixed16At(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Fixed32At(const std::uint8_t* p) {
  return DecodeFixed32(std::span<const std::uint8_t, format::kFixed32Size>(p, format::kFixed32Size));
}

bool HasWaveTagsAt(const std::uint8_t* p) {
  return HasWaveTags(std::span<const std::uint8_t, format::kWaveTagsSize>(p, format::kWaveTagsSize));
}

// Fills the format fields from a "fmt " chunk body of `size` bytes, all of
// them present. False when it is too short or describes no playable audio.
bool DecodeFmt(const std::uint8_t* body, std::uint64_t size, WaveInfo& info) {
  if (size < kFmtSize) return false;
  info.formatTag = Fixed16At(body);
  info.channels = Fixed16At(body + 2);
  info.sampleRate = Fixed32At(body + 4);
  info.byteRate = Fixed32At(body + 8);
  info.bitsPerSample = Fixed16At(body + 14);
  if (info.formatTag == kExtensibleTag && size >= kExtensibleFmtSize) {
    info.formatTag = Fixed16At(body + kSubFormatOffset);
  }
  return info.channels != 0 && info.sampleRate != 0 && info.byteRate != 0;
}

}  // namespace

std::string WaveFormatName(std::uint16_t formatTag) {
  switch (formatTag) {
    case 0x0001:
      return "PCM";
    case 0x0002:
      return "MS ADPCM";
    case 0x0003:
      return "IEEE float";
    case 0x0006:
      return "A-law";
    case 0x0007:
      return "µ-law";
    case 0x0011:
      return "IMA ADPCM";
    case 0x0017:
      return "OKI ADPCM";
    case 0x0031:
      return "GSM 6.10";
    case 0x0040:
      return "G.721";
    case 0x0055:
      return "MP3";
    case 0x0064:
      return "G.726";
    case 0x0083:
      return "G.729A";
    case 0x0133:
      return "G.729";
    default:
      return "tag " + std::to_string(formatTag);
  }
}

std::optional<WaveInfo> ParseWaveInfo(const std::uint8_t* bytes, std::size_t available,
                                      std::uint64_t payloadSize) {
  available = static_cast<std::size_t>(std::min<std::uint64_t>(available, payloadSize));
  if (available < format::kWaveTagsSize || !HasWaveTagsAt(bytes)) return std::nullopt;
  WaveInfo info;
  bool haveFmt = false;
  bool haveData = false;
  // 64-bit positions: a stored chunk size cannot wrap them.
  std::uint64_t at = format::kWaveTagsSize;
  while (!(haveFmt && haveData) && at + kChunkHeaderSize <= available) {
    const std::uint8_t* header = bytes + at;
    const std::uint64_t size = Fixed32At(header + 4);
    const std::uint64_t body = at + kChunkHeaderSize;
    if (std::memcmp(header, "fmt ", 4) == 0 && !haveFmt) {
      if (body + size > available || !DecodeFmt(bytes + body, size, info)) return std::nullopt;
      info.fmtAt = at;
      info.fmtSize = static_cast<std::uint32_t>(size);
      haveFmt = true;
    } else if (std::memcmp(header, "data", 4) == 0 && !haveData) {
      info.dataBytes = std::min(size, payloadSize - body);
      info.dataAt = body;
      haveData = true;
    }
    at = body + size + (size & 1);  // chunks are padded to an even length
  }
  if (!haveFmt || !haveData) return std::nullopt;
  return info;
}

std::optional<WaveInfo> WaveInfoReader::Read(FileSystem& fs, FileHandle backup, std::int64_t offset,
                                             std::uint32_t size) {
  const std::size_t wanted = std::min<std::size_t>(size, kWaveInfoWindow);
  if (fs.Seek(backup, offset, SeekFrom::kStart) != offset) return std::nullopt;
  const std::int64_t got = fs.Read(backup, buffer_.get(), wanted);
  if (got < 0) return std::nullopt;
  return ParseWaveInfo(buffer_.get(), static_cast<std::size_t>(got), size);
}

}  // namespace larkspool
