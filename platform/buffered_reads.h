// A FileSystem that reads one file through a window held in memory: a read
// of a few hundred bytes (an entry header, a small payload) costs no system
// call while the window holds it, and the window is refilled with one read.
// Bytes the window holds can also be handed out in place (ReadHeld).
// Every other call, and every call on other files, passes on unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/file_system.h"

namespace larkspool {

class BufferedReads final : public ForwardingFileSystem {
 public:
  static constexpr std::size_t kWindowSize = 65536;

  // From here on every read, seek and copy of `file` goes through this
  // object.
  BufferedReads(FileSystem& base, FileHandle file);

  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override;
  std::span<const std::uint8_t> ReadHeld(FileHandle file, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;

 private:
  std::size_t held() const { return filled_ - used_; }
  // Hands out up to `size` bytes of the window.
  std::size_t Take(std::uint8_t* out, std::size_t size);
  // Reads `rest` bytes past the window into out + done, where `done` bytes
  // came from the window.
  std::int64_t Direct(std::uint8_t* out, std::size_t done, std::size_t rest);
  // The file moved on by `count` bytes (nothing when negative).
  void Advance(std::int64_t count) {
    if (count > 0 && end_ >= 0) end_ += count;
  }

  FileHandle file_;
  // The window: bytes [used_, filled_) are the file's next bytes, and the
  // file itself stands right after them.
  std::unique_ptr<std::uint8_t[]> window_;
  std::size_t used_ = 0;
  std::size_t filled_ = 0;
  // Where the file stands (the window's end); -1 until a seek has told.
  std::int64_t end_ = -1;
};

}  // namespace larkspool
