#include "tests/support/faulty_file_system.h"

#include <cerrno>

namespace larkspool::testing {

const Fault* FaultyFileSystem::Next(FaultyCall call) {
  const int count = ++counts_[static_cast<std::size_t>(call)];
  for (const Fault& fault : faults_) {
    if (fault.call == call && fault.nth == count) return &fault;
  }
  return nullptr;
}

std::int64_t FaultyFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  const Fault* fault = Next(FaultyCall::kRead);
  if (fault == nullptr) return base_.Read(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) return base_.Read(file, buffer, size / 2);
  errno = EIO;
  return -1;
}

std::int64_t FaultyFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  const Fault* fault = Next(FaultyCall::kWrite);
  if (fault == nullptr) return base_.Write(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) return base_.Write(file, buffer, size / 2);
  errno = EIO;
  return -1;
}

std::unique_ptr<std::uint8_t[]> FaultyFileSystem::AllocateRecordBuffer(std::size_t size) {
  if (Next(FaultyCall::kAllocateRecordBuffer) != nullptr) return nullptr;
  return base_.AllocateRecordBuffer(size);
}

}  // namespace larkspool::testing
