#include "tests/support/faulty_file_system.h"

namespace larkspool::testing {

const Fault* FaultyFileSystem::Next(FaultyCall call) {
  const int count = ++counts_[static_cast<std::size_t>(call)];
  for (const Action& action : actions_) {
    if (action.call == call && action.nth == count) action.run();
  }
  for (const Fault& fault : faults_) {
    if (fault.call == call && (fault.nth == count || fault.nth == 0)) return &fault;
  }
  return nullptr;
}

FileHandle FaultyFileSystem::Refuse(const Fault& fault) {
  errno = fault.error;
  return kNoFile;
}

FileHandle FaultyFileSystem::OpenRead(const char* path) {
  const Fault* fault = Next(FaultyCall::kOpenRead);
  return fault == nullptr ? base_.OpenRead(path) : Refuse(*fault);
}

FileHandle FaultyFileSystem::CreateExclusive(const char* path) {
  const Fault* fault = Next(FaultyCall::kCreateExclusive);
  return fault == nullptr ? base_.CreateExclusive(path) : Refuse(*fault);
}

FileHandle FaultyFileSystem::OpenForOverwrite(const char* path) {
  const Fault* fault = Next(FaultyCall::kOpenForOverwrite);
  return fault == nullptr ? base_.OpenForOverwrite(path) : Refuse(*fault);
}

std::int64_t FaultyFileSystem::Read(FileHandle file, void* buffer, std::size_t size) {
  const Fault* fault = Next(FaultyCall::kRead);
  if (fault == nullptr) return base_.Read(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) return base_.Read(file, buffer, size / 2);
  errno = fault->error;
  return -1;
}

std::int64_t FaultyFileSystem::Write(FileHandle file, const void* buffer, std::size_t size) {
  const Fault* fault = Next(FaultyCall::kWrite);
  if (fault == nullptr) return base_.Write(file, buffer, size);
  if (fault->effect == FaultEffect::kShort) return base_.Write(file, buffer, size / 2);
  errno = fault->error;
  return -1;
}

std::int64_t FaultyFileSystem::Seek(FileHandle file, std::int64_t offset, SeekFrom from) {
  const Fault* fault = Next(FaultyCall::kSeek);
  if (fault == nullptr) return base_.Seek(file, offset, from);
  errno = fault->error;
  return -1;
}

std::unique_ptr<std::uint8_t[]> FaultyFileSystem::AllocateRecordBuffer(std::size_t size) {
  if (Next(FaultyCall::kAllocateRecordBuffer) != nullptr) return nullptr;
  return base_.AllocateRecordBuffer(size);
}

}  // namespace larkspool::testing
