#include "platform/buffered_reads.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace larkspool {

BufferedReads::BufferedReads(FileSystem& base, FileHandle file)
    // Without the memory for a window every call passes on.
    : ForwardingFileSystem(base), file_(file), window_(new (std::nothrow) std::uint8_t[kWindowSize]) {}

std::size_t BufferedReads::Take(std::uint8_t* out, std::size_t size) {
  const std::size_t n = size < held() ? size : held();
  if (n != 0) std::memcpy(out, window_.get() + used_, n);
  used_ += n;
  return n;
}

std::int64_t BufferedReads::Direct(std::uint8_t* out, std::size_t done, std::size_t rest) {
  const std::int64_t got = base().Read(file_, out + done, rest);
  if (got < 0) return -1;
  Advance(got);
  return static_cast<std::int64_t>(done) + got;
}

std::int64_t BufferedReads::Read(FileHandle file, void* buffer, std::size_t size) {
  if (file != file_ || !window_) return base().Read(file, buffer, size);
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = Take(out, size);
  const std::size_t rest = size - done;
  if (rest == 0) return static_cast<std::int64_t>(done);
  // A large read goes straight into the caller's buffer.
  if (rest >= kWindowSize / 2) return Direct(out, done, rest);
  used_ = filled_ = 0;
  const std::int64_t got = base().Read(file_, window_.get(), kWindowSize);
  // The window may have reached a fault past the bytes asked for: those are
  // read alone, so that a fault shows where a read of them meets it.
  if (got < 0) return Direct(out, done, rest);
  Advance(got);
  // A window short of the bytes asked for is the end of the file, or a fault
  // that a read of just those bytes meets as well.
  filled_ = static_cast<std::size_t>(got);
  done += Take(out + done, rest);
  return static_cast<std::int64_t>(done);
}

std::span<const std::uint8_t> BufferedReads::ReadHeld(FileHandle file, std::size_t size) {
  if (file != file_) return base().ReadHeld(file, size);
  if (size > held()) return {};
  const std::span<const std::uint8_t> bytes(window_.get() + used_, size);
  used_ += size;
  return bytes;
}

std::int64_t BufferedReads::CopyRange(FileHandle from, FileHandle to, std::size_t size) {
  if (from != file_ || held() == 0) {
    const std::int64_t copied = base().CopyRange(from, to, size);
    if (from == file_) Advance(copied);
    return copied;
  }
  // The bytes the window holds are written from it; the system copies the
  // rest from where the file stands.
  const std::size_t first = size < held() ? size : held();
  const std::int64_t written = base().Write(to, window_.get() + used_, first);
  if (written <= 0) return written == 0 ? 0 : -1;
  used_ += static_cast<std::size_t>(written);
  if (static_cast<std::size_t>(written) < size && held() == 0) {
    const std::int64_t copied = base().CopyRange(from, to, size - first);
    Advance(copied);
    if (copied > 0) return written + copied;
  }
  return written;
}

std::int64_t BufferedReads::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  if (file != file_ || !window_) return base().Seek(file, offset, from);
  const std::int64_t here = end_ - static_cast<std::int64_t>(held());
  const std::int64_t target = from == SeekFrom::kStart ? offset : here + offset;
  const std::int64_t start = end_ - static_cast<std::int64_t>(filled_);
  // Every seek makes one call, so that it fails where it would without the
  // window; inside the window that call leaves the file where it stands.
  if (from != SeekFrom::kEnd && end_ >= 0 && target >= start && target <= end_) {
    if (base().Seek(file, end_, SeekFrom::kStart) != end_) return -1;
    used_ = static_cast<std::size_t>(target - start);
    return target;
  }
  used_ = filled_ = 0;
  const bool known = from == SeekFrom::kStart || (from == SeekFrom::kCurrent && end_ >= 0);
  end_ = known ? base().Seek(file, target, SeekFrom::kStart) : base().Seek(file, offset, from);
  return end_;
}

}  // namespace larkspool
