#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <filesystem>

namespace larkspool::testing {

const Fault* FaultyFileSystem::Spoil(const Fault& fault) {
  met_.insert(static_cast<std::size_t>(&fault - faults_.data()));
  return &fault;
}

const Fault* FaultyFileSystem::Next(FaultyCall call) {
  const int count = ++counts_[static_cast<std::size_t>(call)];
  for (const Action& action : actions_) {
    if (action.call == call && action.nth == count) action.run();
  }
  for (const Fault& fault : faults_) {
    if (fault.call == call && (fault.at == count || fault.at == 0)) return Spoil(fault);
  }
  return nullptr;
}

const Fault* FaultyFileSystem::Transfer(FaultyCall call, FileHandle file, std::size_t size,
                                        std::int64_t& start) {
  ++counts_[static_cast<std::size_t>(call)];
  start = base().Seek(file, 0, SeekFrom::kCurrent);
  const std::int64_t end = start + static_cast<std::int64_t>(size);
  for (const Fault& fault : faults_) {
    const bool reached = size == 0 ? fault.at <= start && start < fault.at + fault.length
                                   : fault.at < end && fault.at + fault.length > start;
    if (fault.call == call && reached && (fault.file.empty() || fault.file == names_[file]))
      return Spoil(fault);
  }
  return nullptr;
}

FileHandle FaultyFileSystem::Open(FaultyCall call, const char* path,
                                  FileHandle (FileSystem::*open)(const char*)) {
  if (const Fault* fault = Next(call)) {
    errno = fault->error;
    return kNoFile;
  }
  const FileHandle file = (base().*open)(path);
  if (file != kNoFile) names_[file] = std::filesystem::path(path).filename().string();
  return file;
}

FileHandle FaultyFileSystem::OpenRead(const char* path) {
  return Open(FaultyCall::kOpenRead, path, &FileSystem::OpenRead);
}

FileHandle FaultyFileSystem::CreateExclusive(const char* path) {
  return Open(FaultyCall::kCreateExclusive, path, &FileSystem::CreateExclusive);
}

FileHandle FaultyFileSystem::OpenForOverwrite(const char* path) {
  return Open(FaultyCall::kOpenForOverwrite, path, &FileSystem::OpenForOverwrite);
}

std::int64_t FaultyFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  std::int64_t start = 0;
  const Fault* fault = Transfer(FaultyCall::kRead, file, size, start);
  if (fault == nullptr) return base().Read(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) {
    return base().Read(file, buffer, static_cast<std::size_t>(fault->at - start));
  }
  errno = fault->error;
  return -1;
}

std::int64_t FaultyFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  std::int64_t start = 0;
  const Fault* fault = Transfer(FaultyCall::kWrite, file, size, start);
  if (fault == nullptr) return base().Write(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) {
    return base().Write(file, buffer, static_cast<std::size_t>(fault->at - start));
  }
  errno = fault->error;
  return -1;
}

std::int64_t FaultyFileSystem::CopyRange(FileHandle from, FileHandle to, std::size_t size) {
  if (const Fault* fault = Next(FaultyCall::kCopyRange)) {
    if (fault->effect == FaultEffect::kShort) return base().CopyRange(from, to, size / 2);
    errno = fault->error;
    return -1;
  }
  // A read or write fault inside the range: the copy stops short of it, and
  // the read or write that takes over meets it.
  const std::int64_t source = base().Seek(from, 0, SeekFrom::kCurrent);
  const std::int64_t target = base().Seek(to, 0, SeekFrom::kCurrent);
  auto length = static_cast<std::int64_t>(size);
  for (const Fault& fault : faults_) {
    const bool read = fault.call == FaultyCall::kRead && (fault.file.empty() || fault.file == names_[from]);
    const bool write = fault.call == FaultyCall::kWrite && (fault.file.empty() || fault.file == names_[to]);
    const std::int64_t start = read ? source : target;
    if ((read || write) && fault.at < start + length && fault.at + fault.length > start) {
      length = std::max<std::int64_t>(fault.at - start, 0);
    }
  }
  return length == 0 ? 0 : base().CopyRange(from, to, static_cast<std::size_t>(length));
}

std::int64_t FaultyFileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  if (const Fault* fault = Next(FaultyCall::kSeek)) {
    errno = fault->error;
    return -1;
  }
  return base().Seek(file, offset, from);
}

void FaultyFileSystem::Close(FileHandle file) {
  names_.erase(file);
  base().Close(file);
}

std::unique_ptr<std::uint8_t[]> FaultyFileSystem::AllocateRecordBuffer(std::size_t size) {
  if (Next(FaultyCall::kAllocateRecordBuffer) != nullptr) return nullptr;
  return base().AllocateRecordBuffer(size);
}

}  // namespace larkspool::testing
