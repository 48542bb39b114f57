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
  std::size_t chunk = payload.first_chunk();
  if (Outcome read = ReadFirstChunk(fs, backup, payload, buffer); !read.ok()) return read;
  std::uint32_t copied = 0;
  for (;;) {
    if (Outcome written = WriteChunk(fs, out, std::span(buffer).first(chunk)); !written.ok()) return written;
    copied += static_cast<std::uint32_t>(chunk);
    progress.AddDone(chunk);
    progress.UpdatePercent();
    if (copied >= payload.size) return Outcome::Ok();
    chunk = std::min<std::size_t>(payload.size - copied, kCopyChunkSize);
    if (Outcome read = ReadChunk(fs, backup, std::span(buffer).first(chunk)); !read.ok()) return read;
  }
}

}  // namespace larkspool
