// The audio details of a payload: the WAV "fmt " and "data" chunks found in
// its first bytes. Parsing is bounded by the bytes given and by the payload's
// size; anything missing, short or nonsensical gives no value, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace larkspool {

struct WaveInfo {
  // The "fmt " chunk's format tag; for an extensible format, the tag in the
  // first two bytes of its sub-format.
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;  // never 0
  std::uint16_t bitsPerSample = 0;
  // The "data" chunk's stored size, cut to what the payload holds after the
  // chunk's header.
  std::uint64_t dataBytes = 0;
  // Where the chunks lie in the payload: the "fmt " chunk's header and its
  // stored size, and the first byte of the samples.
  std::uint64_t fmtAt = 0;
  std::uint32_t fmtSize = 0;
  std::uint64_t dataAt = 0;

  double DurationSeconds() const { return static_cast<double>(dataBytes) / byteRate; }
};

// "PCM", "µ-law", "GSM 6.10", ... for the tags voice systems use, "tag N"
// for any other.
std::string WaveFormatName(std::uint16_t formatTag);

// Parses the first `available` bytes of a payload of `payloadSize` bytes
// (`available` <= `payloadSize`). The chunks are walked from offset 12 until
// both "fmt " and "data" are found; a chunk is never followed past
// `available`.
std::optional<WaveInfo> ParseWaveInfo(const std::uint8_t* bytes, std::size_t available,
                                      std::uint64_t payloadSize);

// How much of a payload ParseWaveInfo is given: the first copy chunk.
inline constexpr std::size_t kWaveInfoWindow = 16384;

// Reads payloads' first bytes into a buffer of its own, reused for every
// payload.
class WaveInfoReader {
 public:
  WaveInfoReader() : buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kWaveInfoWindow)) {}

  // Reads the first bytes of the payload of `size` bytes at `offset` (at
  // most kWaveInfoWindow, fewer when the file ends first) and parses them.
  // Moves the file position; a read error gives no value.
  std::optional<WaveInfo> Read(FileSystem& fs, FileHandle backup, std::int64_t offset, std::uint32_t size);

 private:
  std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace larkspool
