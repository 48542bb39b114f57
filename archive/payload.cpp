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

// Copies `size` bytes in spans, after the first chunk.
Outcome CopyInSpans(FileSystem& fs, FileHandle backup, FileHandle out, std::uint64_t size,
                    ProgressReporter& progress, ChunkBuffer& buffer) {
  for (std::uint64_t copied = 0; copied < size;) {
    const std::size_t span = NextSpan(progress, size - copied);
    const std::int64_t moved = fs.CopyRange(backup, out, span);
    for (std::size_t done = moved > 0 ? static_cast<std::size_t>(moved) : 0; done < span;) {
      const std::span<std::uint8_t> chunk = std::span(buffer).first(std::min(kCopyChunkSize, span - done));
      if (Outcome read = ReadChunk(fs, backup, chunk); !read.ok()) return read;
      if (Outcome written = WriteChunk(fs, out, chunk); !written.ok()) return written;
      done += chunk.size();
    }
    copied += span;
    progress.AddDone(span);
    progress.UpdatePercent();
  }
  return Outcome::Ok();
}

}  // namespace

Outcome ReadFirstChunk(FileSystem& fs, FileHandle backup, const PayloadSpan& payload, ChunkBuffer& buffer) {
  const std::span<std::uint8_t, format::kWaveTagsSize> tags(buffer.data(), format::kWaveTagsSize);
  std::fill(tags.begin(), tags.end(), std::uint8_t{0xFF});
  if (Outcome read = ReadChunk(fs, backup, std::span(buffer).first(payload.first_chunk())); !read.ok()) {
    return read;
  }
  return HasWaveTags(tags) ? Outcome::Ok() : Outcome::Fail(StatusCode::kWaveFormat);
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
                    ProgressReporter& progress) {
  ChunkBuffer buffer;
  // A payload of size 0 is still one (empty) chunk, so it meets the tag test.
  const std::size_t first = payload.first_chunk();
  if (Outcome read = ReadFirstChunk(fs, backup, payload, buffer); !read.ok()) return read;
  if (Outcome written = WriteChunk(fs, out, std::span(buffer).first(first)); !written.ok()) return written;
  progress.AddDone(first);
  progress.UpdatePercent();
  return CopyInSpans(fs, backup, out, payload.size - first, progress, buffer);
}

}  // namespace larkspool
