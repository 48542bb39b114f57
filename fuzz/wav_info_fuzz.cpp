// The audio-details parser over arbitrary payload bytes. The input is the
// first bytes of a payload, in a buffer of exactly its size, so a read past
// them is caught; the payload itself is taken to be as long as the input or
// much longer. A value comes back only with a byte rate, and its data size
// never exceeds what the payload holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/wav_info.h"

namespace {

void Check(const std::uint8_t* data, std::size_t size, std::uint64_t payloadSize) {
  const std::optional<larkspool::WaveInfo> info = larkspool::ParseWaveInfo(data, size, payloadSize);
  if (!info) return;
  // The smallest header with both chunks: tags, "fmt " of 16 bytes, "data".
  constexpr std::uint64_t kSmallestHeader = 12 + 8 + 16 + 8;
  if (info->byteRate == 0 || info->channels == 0 || info->sampleRate == 0 || size < kSmallestHeader ||
      info->dataBytes > payloadSize - kSmallestHeader || larkspool::WaveFormatName(info->formatTag).empty()) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The payload as long as the bytes read, and a payload that goes on.
  Check(data, size, size);
  Check(data, size, std::uint64_t{size} + 0xFFFFFFFFu);
  return 0;
}
