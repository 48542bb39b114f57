// A FileSystem that passes every call on to another one, except the calls it
// has been told to spoil: a read or write is picked by the offset of its file
// it reaches, any other call by its count among the calls of its kind. A
// system copy stops short of a read or write fault inside its range, so that
// the read or write taking over meets it. It reaches the faults real files
// cannot show, and faults that running as root hides (permissions).
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
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
  kCopyRange,
};
inline constexpr std::size_t kFaultyCallKinds = 8;

enum class FaultEffect {
  kFail,   // -1 (or no file) with errno `error`; an allocation returns null
  kShort,  // a read or write stops just before the offset picked; a copy copies half
};

struct Fault {
  FaultyCall call;
  // Reads and writes: the call whose bytes reach this offset of the file
  // (a call for 0 bytes: the call made there). Other calls: the nth of their
  // kind, counted from 1; 0 spoils every call.
  std::int64_t at = 0;
  FaultEffect effect = FaultEffect::kFail;
  int error = EIO;
  std::string file;         // writes: only to the file created under this name
  std::int64_t length = 1;  // reads and writes: the offsets [at, at + length) are spoilt
};

// The read of the backup that reaches `at`.
inline Fault ReadAt(std::int64_t at, FaultEffect effect = FaultEffect::kFail) {
  return {FaultyCall::kRead, at, effect, EIO, {}};
}
// Every read of the backup that reaches a byte of [at, at + length): a
// stretch of bad sectors.
inline Fault ReadRange(std::int64_t at, std::int64_t length) {
  return {FaultyCall::kRead, at, FaultEffect::kFail, EIO, {}, length};
}
// The write to `file` that reaches `at`.
inline Fault WriteAt(std::string file, std::int64_t at, FaultEffect effect = FaultEffect::kFail,
                     int error = EIO) {
  return {FaultyCall::kWrite, at, effect, error, std::move(file)};
}
// The nth call of kind `call`; 0 for every call.
inline Fault NthCall(FaultyCall call, int nth, int error = EIO) {
  return {call, nth, FaultEffect::kFail, error, {}};
}

class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base = NativeFileSystem()) : ForwardingFileSystem(base) {}

  void Inject(const Fault& fault) { faults_.push_back(fault); }
  // Runs `action` just before the nth call of this kind is passed on (or
  // spoilt), for example to remove a file between two opens.
  void Before(FaultyCall call, int nth, std::function<void()> action) {
    actions_.push_back({call, nth, std::move(action)});
  }
  // How many calls of this kind were made, spoilt ones included.
  int calls(FaultyCall call) const { return counts_[static_cast<std::size_t>(call)]; }
  // How many of the faults injected spoilt a call, each counted once: a read
  // ahead may meet a fault before the read that fails on it.
  int spoilt() const { return static_cast<int>(met_.size()); }

  FileHandle OpenRead(const char* path) override;
  FileHandle CreateExclusive(const char* path) override;
  FileHandle OpenForOverwrite(const char* path) override;
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override;
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override;
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override;
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override;
  void Close(FileHandle file) override;
  std::unique_ptr<std::uint8_t[]> AllocateRecordBuffer(std::size_t size) override;

 private:
  struct Action {
    FaultyCall call;
    int nth;
    std::function<void()> run;
  };

  // Notes that `fault` was met and returns it.
  const Fault* Spoil(const Fault& fault);
  // The fault that hits the call, or null: Next for a call that neither
  // reads nor writes (it also runs the call's actions), Transfer for a read
  // or write of `size` bytes, which begins at `start`.
  const Fault* Next(FaultyCall call);
  const Fault* Transfer(FaultyCall call, FileHandle file, std::size_t size, std::int64_t& start);
  FileHandle Open(FaultyCall call, const char* path, FileHandle (FileSystem::*open)(const char*));

  std::vector<Fault> faults_;
  std::vector<Action> actions_;
  std::array<int, kFaultyCallKinds> counts_{};
  std::map<FileHandle, std::string> names_;  // the last part of the path each handle was opened under
  std::set<std::size_t> met_;                // indexes into faults_
};

}  // namespace larkspool::testing
