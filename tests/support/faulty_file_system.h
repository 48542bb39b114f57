// A FileSystem that passes every call on to another one, except the calls it
// has been told to spoil: the n-th call of a kind fails outright or comes
// short, and an action can run just before a given call. It reaches the
// faults real files cannot show, and faults that running as root hides
// (permissions).
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <vector>

#include "platform/file_system.h"

namespace larkspool::testing {

enum class FaultyCall {
  kRead,
  kWrite,
  kAllocateRecordBuffer,
  kOpenRead,
  kCreateExclusive,
  kOpenForOverwrite,
  kSeek,
};
inline constexpr std::size_t kFaultyCallKinds = 7;

enum class FaultEffect {
  kFail,   // -1 (or no file) with errno `error`; an allocation returns null
  kShort,  // half the bytes asked for, rounded down; any other call fails
};

struct Fault {
  FaultyCall call;
  int nth;  // 1-based, counted per kind of call since construction; 0 spoils every call
  FaultEffect effect = FaultEffect::kFail;
  int error = EIO;
};

class FaultyFileSystem final : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base = PosixFileSystem()) : base_(base) {}

  void Inject(const Fault& fault) { faults_.push_back(fault); }
  // Runs `action` just before the nth call of this kind is passed on (or
  // spoilt), for example to remove a file between two opens.
  void Before(FaultyCall call, int nth, std::function<void()> action) {
    actions_.push_back({call, nth, std::move(action)});
  }
  // How many calls of this kind were made, spoilt ones included.
  int calls(FaultyCall call) const { return counts_[static_cast<std::size_t>(call)]; }

  FileHandle OpenRead(const char* path) override;
  FileHandle CreateExclusive(const char* path) override;
  FileHandle OpenForOverwrite(const char* path) override;
  bool SameFile(const char* path, FileHandle file) override { return base_.SameFile(path, file); }
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
  void Close(FileHandle file) override { base_.Close(file); }
  bool Unlink(const char* path) override { return base_.Unlink(path); }
  bool ChangeDirectory(const char* path) override { return base_.ChangeDirectory(path); }
  std::optional<std::int64_t> LastWriteTime(FileHandle file) override { return base_.LastWriteTime(file); }
  std::unique_ptr<std::uint8_t[]> AllocateRecordBuffer(std::size_t size) override;

 private:
  struct Action {
    FaultyCall call;
    int nth;
    std::function<void()> run;
  };

  // Counts the call and runs its actions; the fault that hits it, or null.
  const Fault* Next(FaultyCall call);
  // A spoilt open: sets errno and returns no file.
  static FileHandle Refuse(const Fault& fault);

  FileSystem& base_;
  std::vector<Fault> faults_;
  std::vector<Action> actions_;
  std::array<int, kFaultyCallKinds> counts_{};
};

}  // namespace larkspool::testing
