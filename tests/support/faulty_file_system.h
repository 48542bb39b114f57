// A FileSystem that passes every call on to another one, except the calls it
// has been told to spoil: the n-th Read, Write or AllocateRecordBuffer fails
// outright or comes short. It reaches the faults real files cannot show.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "platform/file_system.h"

namespace larkspool::testing {

enum class FaultyCall { kRead, kWrite, kAllocateRecordBuffer };

enum class FaultEffect {
  kFail,   // -1 with errno EIO; an allocation returns null
  kShort,  // half the bytes asked for, rounded down; an allocation returns null
};

struct Fault {
  FaultyCall call;
  int nth;  // 1-based, counted per kind of call since construction
  FaultEffect effect = FaultEffect::kFail;
};

class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base = PosixFileSystem()) : base_(base) {}

  void Inject(const Fault& fault) { faults_.push_back(fault); }
  // How many calls of this kind were made, spoilt ones included.
  int calls(FaultyCall call) const { return counts_[static_cast<std::size_t>(call)]; }

  FileHandle OpenRead(const char* path) override { return base_.OpenRead(path); }
  FileHandle CreateExclusive(const char* path) override { return base_.CreateExclusive(path); }
  FileHandle OpenForOverwrite(const char* path) override { return base_.OpenForOverwrite(path); }
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    return base_.Seek(file, offset, from);
  }
  void Close(FileHandle file) override { base_.Close(file); }
  bool Unlink(const char* path) override { return base_.Unlink(path); }
  bool ChangeDirectory(const char* path) override { return base_.ChangeDirectory(path); }
  std::optional<std::int64_t> LastWriteTime(FileHandle file) override { return base_.LastWriteTime(file); }
  std::unique_ptr<std::uint8_t[]> AllocateRecordBuffer(std::size_t size) override;

 private:
  // Counts the call; the fault that hits it, or null.
  const Fault* Next(FaultyCall call);

  FileSystem& base_;
  std::vector<Fault> faults_;
  std::array<int, 3> counts_{};
};

}  // namespace larkspool::testing
