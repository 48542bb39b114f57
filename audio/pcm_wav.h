// 16-bit PCM WAV files: the form every player opens. Writing decoded audio,
// and converting a payload into one as it is written, for an extraction or
// for standard output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "archive/payload.h"
#include "audio/pcm_decoder.h"
#include "base/outcome.h"
#include "platform/file_system.h"

namespace larkspool {

// Takes the next bytes of the file; false when they could not be written,
// with errno telling why.
using WavSink = std::function<bool(std::span<const std::uint8_t> bytes)>;

// "RIFF", "WAVE", a 16-byte "fmt " chunk and the "data" chunk's header.
inline constexpr std::size_t kPcmWavHeaderSize = 12 + 8 + 16 + 8;

// The header of a 16-bit PCM WAV file holding `frames` frames of `format`;
// their bytes must not pass kMaxPcmWavData.
std::array<std::uint8_t, kPcmWavHeaderSize> PcmWavHeader(const PcmFormat& format, std::uint64_t frames);

// `audio` as a 16-bit PCM WAV file. Fails with 11 when the sink fails, with
// 13 when it is too long for a WAV file.
Outcome WritePcmWav(const PcmAudio& audio, const WavSink& sink);

// Decodes `source` into a 16-bit PCM WAV file handed to `sink`, holding
// only a block of samples at a time: a first pass counts the frames the
// header states, a second writes them, so the header comes first and the
// sink need not seek. Nothing reaches the sink when the payload cannot be
// decoded or its samples would not fit a file of `maxDataBytes`. After each
// block written, `written` is told the frames written so far and the frames
// in all. Fails as PcmDecoder and WritePcmWav do.
Outcome ConvertToPcmWav(PayloadSource& source, const WavSink& sink,
                        const std::function<void(std::uint64_t written, std::uint64_t frames)>& written = {},
                        std::uint64_t maxDataBytes = kMaxPcmWavData);

// An extraction's converter that writes every payload as a 16-bit PCM WAV
// file: a payload the backup does not hold whole fails (10) before anything
// is written, and the progress advances with the frames written.
PayloadConverter PcmWavConverter();

// The payload at `backup`'s position handed to `sink` as a 16-bit PCM WAV
// file; a payload the backup does not hold whole fails (10) before anything
// is handed.
Outcome HandAsPcmWav(FileSystem& fs, FileHandle backup, const PayloadSpan& payload, const WavSink& sink);

}  // namespace larkspool
