// The decoder over arbitrary payload bytes, held in a buffer of exactly their
// size so a read past them is caught. Whatever the bytes, decoding ends with
// whole frames or a fault, and the WAV file written of them states exactly
// the bytes that follow its header.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "audio/pcm_decoder.h"
#include "audio/pcm_wav.h"

namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = value << 8 | bytes[at + i];
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> payload(data, data + size);
  larkspool::MemoryPayload source(payload);
  larkspool::PcmAudio audio;
  const larkspool::Outcome decoded = larkspool::DecodeToPcm(source, audio);
  if (decoded.ok() && (audio.format.channels == 0 || audio.samples.size() % audio.format.channels != 0)) {
    std::abort();
  }
  std::vector<std::uint8_t> file;
  const larkspool::Outcome converted =
      larkspool::ConvertToPcmWav(source, [&file](std::span<const std::uint8_t> bytes) {
        file.insert(file.end(), bytes.begin(), bytes.end());
        return true;
      });
  // Both passes of the conversion decode what DecodeToPcm decoded.
  if (converted.ok() != decoded.ok()) std::abort();
  if (converted.ok() && (file.size() != larkspool::kPcmWavHeaderSize + audio.samples.size() * 2 ||
                         Le32(file, 4) != file.size() - 8 || Le32(file, 40) != file.size() - 44)) {
    std::abort();
  }
  if (!converted.ok() && !file.empty()) std::abort();
  return 0;
}
