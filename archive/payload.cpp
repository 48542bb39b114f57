#include "archive/payload.h"

#include <algorithm>
#include <cerrno>
#include <span>

#include "archive/backup_format.h"

namespace larkspool {
namespace {

constexpr std::string_view kPayloadPastTheEnd = "backup ends inside a payload";

Outcome ReadChunk(FileSystem& fs, FileHandle backup, std::span<std::uint8_t> chunk) {
  errno = 0;
  if (fs.Read(backup, chunk.data(), chunk.size()) != static_cast<std::int64_t>(chunk.size())) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed, kPayloadPastTheEnd);
  }
  return Outcome::Ok();
}

Outcome WriteChunk(FileSystem& fs, FileHandle out, std::span<const std::uint8_t> chunk) {
  errno = 0;
  if (fs.Write(out, chunk.data(), chunk.size()) != static_cast<std::int64_t>(chunk.size())) {
    return Outcome::FailWithErrno(StatusCode::kWriteFailed, "short write");
  }
  return Outcome::Ok();
}

// The bytes up to the end of the chunk after which the percentage shown
// changes, or of the last chunk, or kMaxCopySpan.
std::size_t NextSpan(const ProgressReporter& progress, std::uint64_t remaining) {
  std::size_t span = 0;
  while (span < remaining && span < kMaxCopySpan) {
    span += static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunkSize, remaining - span));
    if (progress.PercentChangesWith(span)) break;
  }
  return span;
}

// The bytes of a span to move next from `at` (the bytes the file holds) to
// `spanEnd`. A piece ends on a multiple of kCopyBufferSize in the file: the
// page cache then gives the file large pages, which it fills faster than
// small ones. The system is handed the rest of the span at once from such a
// multiple on, since its own copy keeps to them.
std::size_t NextPiece(std::uint64_t at, std::uint64_t spanEnd, bool system) {
  const std::uint64_t toBoundary = kCopyBufferSize - at % kCopyBufferSize;
  const std::uint64_t left = spanEnd - at;
  return static_cast<std::size_t>(system && toBoundary == kCopyBufferSize ? left
                                                                          : std::min(left, toBoundary));
}

// Copies the payload's bytes from `at` (the bytes the file holds) to `end`
// in spans.
Outcome CopyInSpans(FileSystem& fs, FileHandle backup, FileHandle out, std::uint64_t at, std::uint64_t end,
                    ProgressReporter& progress, std::span<std::uint8_t, kCopyBufferSize> buffer) {
  while (at < end) {
    const std::size_t span = NextSpan(progress, end - at);
    const std::uint64_t spanEnd = at + span;
    // After an error or a short count the rest of the span is read and written.
    bool system = true;
    while (at < spanEnd) {
      // Paced, so that the front end hears from the copy often on slow storage.
      const std::size_t piece = progress.BeginPiece(NextPiece(at, spanEnd, system), kCopyChunkSize);
      if (system) {
        const std::int64_t moved = fs.CopyRange(backup, out, piece);
        if (moved > 0) at += static_cast<std::uint64_t>(moved);
        system = moved == static_cast<std::int64_t>(piece);
        progress.EndPiece(moved > 0 ? static_cast<std::size_t>(moved) : 0);
        continue;
      }
      const std::span<std::uint8_t> chunk = buffer.first(piece);
      if (Outcome read = ReadChunk(fs, backup, chunk); !read.ok()) return read;
      if (Outcome written = WriteChunk(fs, out, chunk); !written.ok()) return written;
      at += piece;
      progress.EndPiece(piece);
    }
    progress.AddDone(span);
    progress.UpdatePercent();
  }
  return Outcome::Ok();
}

}  // namespace

Outcome ReadFirstChunk(FileSystem& fs, FileHandle backup, const PayloadSpan& payload,
                       std::span<std::uint8_t, kCopyChunkSize> buffer, std::span<const std::uint8_t>& chunk) {
  const std::size_t first = payload.first_chunk();
  // Bytes held in memory were read already: taking them in place meets no
  // fault that reading them would.
  const std::span<const std::uint8_t> held =
      first >= format::kWaveTagsSize ? fs.ReadHeld(backup, first) : std::span<const std::uint8_t>();
  if (held.empty()) {
    // The tag bytes are filled with 0xFF first, so a payload shorter than
    // the tags fails the test.
    std::fill_n(buffer.begin(), format::kWaveTagsSize, std::uint8_t{0xFF});
    if (Outcome read = ReadChunk(fs, backup, buffer.first(first)); !read.ok()) return read;
  }
  const std::span<const std::uint8_t> bytes = held.empty() ? std::span<const std::uint8_t>(buffer) : held;
  chunk = bytes.first(first);
  return HasWaveTags(bytes.first<format::kWaveTagsSize>()) ? Outcome::Ok()
                                                           : Outcome::Fail(StatusCode::kWaveFormat);
}

Outcome SkipPayload(FileSystem& fs, FileHandle backup, const PayloadSpan& payload, std::int64_t fileSize) {
  if (payload.end() > fileSize)
    return Outcome::Fail(StatusCode::kReadFailed, std::string(kPayloadPastTheEnd));
  errno = 0;
  if (fs.Seek(backup, payload.end(), SeekFrom::kStart) != payload.end()) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed);
  }
  return Outcome::Ok();
}

Outcome CopyPayload(FileSystem& fs, FileHandle backup, FileHandle out, const PayloadSpan& payload,
                    ProgressReporter& progress, CopyBuffer& buffer) {
  // A payload of size 0 is still one (empty) chunk, so it meets the tag test.
  const std::size_t first = payload.first_chunk();
  std::span<const std::uint8_t> chunk;
  if (Outcome read = ReadFirstChunk(fs, backup, payload, buffer.first_chunk(), chunk); !read.ok())
    return read;
  if (Outcome written = WriteChunk(fs, out, chunk); !written.ok()) return written;
  progress.AddDone(first);
  progress.UpdatePercent();
  return CopyInSpans(fs, backup, out, first, payload.size, progress, buffer.all());
}

}  // namespace larkspool
