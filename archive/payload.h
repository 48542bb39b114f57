// One payload of the backup: passing over it, and copying it into an output
// file: the first 16384-byte chunk read and tested, the rest in spans that the
// system copies itself where that is faster, or that are read and written
// through the run's copy buffer. The copy and the verification read a payload's
// first chunk and test its RIFF/WAVE tags through the same call, so they
// meet the same faults in the same order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "base/outcome.h"
#include "platform/file_system.h"
#include "progress/progress_reporter.h"

namespace larkspool {

inline constexpr std::size_t kCopyChunkSize = 16384;
using ChunkBuffer = std::array<std::uint8_t, kCopyChunkSize>;
// The longest span of chunks handed to the system at once: a few
// milliseconds of work, so a run answers as promptly as with single chunks.
inline constexpr std::size_t kMaxCopySpan = 256 * kCopyChunkSize;
// The bytes one read and one write move when the system does not copy a span:
// enough that the calls cost little beside the copying, and few enough that
// they are still in the processor's cache when they are written.
inline constexpr std::size_t kCopyBufferSize = 16 * kCopyChunkSize;

// The memory of a run's copies, taken once: its first kCopyChunkSize bytes
// hold a payload's first chunk.
class CopyBuffer {
 public:
  CopyBuffer() : bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(kCopyBufferSize)) {}

  std::span<std::uint8_t, kCopyBufferSize> all() {
    return std::span<std::uint8_t, kCopyBufferSize>(bytes_.get(), kCopyBufferSize);
  }
  std::span<std::uint8_t, kCopyChunkSize> first_chunk() { return all().first<kCopyChunkSize>(); }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};

// Where a payload lies in the backup.
struct PayloadSpan {
  std::int64_t offset = 0;  // its first byte
  std::uint32_t size = 0;

  std::int64_t end() const { return offset + size; }
  // The first chunk of a copy: the whole payload, up to 16384 bytes.
  std::size_t first_chunk() const { return size < kCopyChunkSize ? size : kCopyChunkSize; }
};

// Reads the payload's first chunk from `backup`, which stands at the
// payload, tests the tags, and sets `chunk` to the chunk's bytes: in place
// where a layer of `fs` holds them all (the read window), else read into
// `buffer`. A payload shorter than the tags fails the test. Fails with 10
// when the read fails or comes short, 8 without "RIFF" at 0 and "WAVE" at 8.
Outcome ReadFirstChunk(FileSystem& fs, FileHandle backup, const PayloadSpan& payload,
                       std::span<std::uint8_t, kCopyChunkSize> buffer, std::span<const std::uint8_t>& chunk);

// Leaves `backup` right after the payload without reading it. Fails with 10
// unless the payload lies wholly inside a backup of `fileSize` bytes.
Outcome SkipPayload(FileSystem& fs, FileHandle backup, const PayloadSpan& payload, std::int64_t fileSize);

// Copies the payload from `backup`, which stands at it, to `out` and counts
// it in `progress`. Nothing is written before the first chunk passed the tag
// test. The chunks after it go in spans, each the run of chunks up to the
// one after which the percentage shown changes (at most kMaxCopySpan bytes),
// so the display shows what a chunk-by-chunk copy shows. The system copies
// each span (FileSystem::CopyRange); whatever of a span it does not copy, for
// an error or a short count, is read and written through `buffer`, so a fault
// ends in the status a chunk-by-chunk copy gives. A span goes in pieces that
// `progress` paces (ProgressReporter::BeginPiece), so that the front end can
// answer its windows while one payload is copied. Fails with 8, 10 or 11;
// closes nothing.
Outcome CopyPayload(FileSystem& fs, FileHandle backup, FileHandle out, const PayloadSpan& payload,
                    ProgressReporter& progress, CopyBuffer& buffer);

// Writes a payload into an output file in another form than its stored
// bytes (a layer above this one decodes the audio), in CopyPayload's place:
// `backup` stands at the payload, and on success is left right after it with
// the payload's bytes counted in `progress`. Fails as CopyPayload does (8
// without the tags, 10 when the backup ends inside the payload, 11 when the
// output cannot be written) or with a status of its own; closes nothing.
using PayloadConverter = std::function<Outcome(FileSystem& fs, FileHandle backup, FileHandle out,
                                               const PayloadSpan& payload, ProgressReporter& progress)>;

}  // namespace larkspool
