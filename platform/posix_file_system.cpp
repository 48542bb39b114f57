// FileSystem on POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>

#include "platform/file_system.h"
#include "platform/transfer_loop.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace larkspool {

std::unique_ptr<std::uint8_t[]> FileSystem::AllocateRecordBuffer(std::size_t size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]);
}

namespace {

// Output files get the ordinary permissions of a user's file; the process's
// umask narrows them as for any other program.
constexpr mode_t kOutputMode = 0666;
// The most one read or write is asked to move.
constexpr std::size_t kMaxTransfer = SSIZE_MAX;

// Relative paths are resolved against `folder_`: the process's current
// directory (AT_FDCWD), or for a file system with a folder of its own the
// folder its ChangeDirectory entered, held open.
class PosixFiles final : public FileSystem {
 public:
  explicit PosixFiles(bool ownFolder = false) : ownFolder_(ownFolder) {}

  FileHandle OpenRead(const char* path) override {
    // O_NONBLOCK keeps a FIFO without a writer from blocking the open; the
    // file is then kept only when it is a regular file.
    const int fd = RetryOnInterrupt(
        [&] { return ::openat(folder_, path, O_RDONLY | O_NONBLOCK | O_BINARY | O_CLOEXEC); });
    if (fd < 0) return kNoFile;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      ::close(fd);
      errno = error;
      return kNoFile;
    }
    return fd;
  }

  FileHandle CreateExclusive(const char* path) override {
    return RetryOnInterrupt([&] {
      return ::openat(folder_, path, O_RDWR | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, kOutputMode);
    });
  }

  FileHandle OpenForOverwrite(const char* path) override {
    // O_NOFOLLOW refuses a link standing at the name; O_NONBLOCK keeps a FIFO
    // without a reader from blocking the open. Only a regular file with no
    // other name is kept: writing through a hard link would change a file
    // that may lie outside the folder.
    const int fd = RetryOnInterrupt(
        [&] { return ::openat(folder_, path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_BINARY | O_CLOEXEC); });
    if (fd < 0) return kNoFile;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
      const int error = S_ISDIR(info.st_mode) ? EISDIR : S_ISREG(info.st_mode) ? EMLINK : EINVAL;
      ::close(fd);
      errno = error;
      return kNoFile;
    }
    // Truncate only once the file is known to be a regular file.
    if (::ftruncate(fd, 0) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return kNoFile;
    }
    return fd;
  }

  bool SameFile(const char* path, FileHandle file) override {
    struct stat named {};
    struct stat open {};
    return ::fstatat(folder_, path, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(file, &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
  }

  // A regular file delivers everything in one call; the loop only matters
  // for a call cut short by a signal, a pipe or a full disk.
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    return TransferAll(size, kMaxTransfer, false,
                       [&](std::size_t done, std::size_t count) { return ::read(file, out + done, count); });
  }

  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    return TransferAll(size, kMaxTransfer, true,
                       [&](std::size_t done, std::size_t count) { return ::write(file, in + done, count); });
  }

#ifdef __linux__
  // The backup's pages go into a pipe as references and are copied once, into
  // the file's pages: one copy, inside the system, wherever the payload lies
  // within a page. A piece of half the pipe fits it wherever it starts, so
  // the file is written from the boundaries the caller chose.
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    if (!OpenPipe()) return -1;
    std::size_t copied = 0;
    while (copied < size) {
      const ssize_t in = Splice(from, pipe_[1], std::min(size - copied, pipeBytes_ / 2));
      if (in < 0) return copied > 0 ? static_cast<std::int64_t>(copied) : -1;
      if (in == 0) break;  // the end of the backup
      const auto taken = static_cast<std::size_t>(in);
      std::size_t out = 0;
      ssize_t n = 0;
      while (out < taken && (n = Splice(pipe_[0], to, taken - out)) > 0) out += static_cast<std::size_t>(n);
      copied += out;
      if (out < taken) {
        // The bytes left in the pipe go with it, and the backup goes back to
        // the first of them, for the caller to read and write. (The backup is
        // a regular file, where such a seek does not fail.)
        const int error = errno;
        ClosePipe();
        if (::lseek(from, -static_cast<off_t>(taken - out), SEEK_CUR) < 0) return -1;
        errno = error;
        return copied > 0 || n == 0 ? static_cast<std::int64_t>(copied) : -1;
      }
    }
    return static_cast<std::int64_t>(copied);
  }
#endif

  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    const int whence = from == SeekFrom::kStart ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
    return static_cast<std::int64_t>(::lseek(file, static_cast<off_t>(offset), whence));
  }

  void Close(FileHandle file) override { ::close(file); }

  bool Unlink(const char* path) override { return ::unlinkat(folder_, path, 0) == 0; }

  bool ChangeDirectory(const char* path) override {
    if (!ownFolder_) return ::chdir(path) == 0;
    // Entered as chdir would: a folder the user may search.
    if (::faccessat(folder_, path, X_OK, 0) != 0) return false;
    const int folder = RetryOnInterrupt([&] { return ::openat(folder_, path, kFolderFlags); });
    if (folder == kNoFile) return false;
    CloseFolder();
    folder_ = folder;
    return true;
  }

  std::optional<std::int64_t> LastWriteTime(FileHandle file) override {
    struct stat info {};
    if (::fstat(file, &info) != 0) return std::nullopt;
    return static_cast<std::int64_t>(info.st_mtime);
  }

 private:
  template <typename OpenCall>
  static FileHandle RetryOnInterrupt(OpenCall call) {
    int fd;
    do {
      fd = call();
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoFile : fd;
  }

  void CloseFolder() {
    if (folder_ != AT_FDCWD) ::close(folder_);
    folder_ = AT_FDCWD;
  }

#ifdef O_PATH
  // Only a handle for the calls below, which needs no read permission.
  static constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  static constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  const bool ownFolder_;
  int folder_ = AT_FDCWD;

#ifdef __linux__
  static ssize_t Splice(int in, int out, std::size_t size) {
    ssize_t n;
    do {
      n = ::splice(in, nullptr, out, nullptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  // The pipe of CopyRange, made at its first use: non-blocking, so that no
  // call can wait on it, and as large as the system grants up to kPipeBytes.
  bool OpenPipe() {
    if (pipe_[0] >= 0) return true;
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    ::fcntl(pipe_[1], F_SETPIPE_SZ, kPipeBytes);
    const int granted = ::fcntl(pipe_[1], F_GETPIPE_SZ);
    pipeBytes_ = granted > 0 ? static_cast<std::size_t>(granted) : 65536;
    return true;
  }
  void ClosePipe() {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    pipe_[0] = pipe_[1] = -1;
  }

  static constexpr int kPipeBytes = 1 << 20;
  int pipe_[2] = {-1, -1};
  std::size_t pipeBytes_ = 0;
#endif

 public:
  ~PosixFiles() override {
    CloseFolder();
#ifdef __linux__
    if (pipe_[0] >= 0) ClosePipe();
#endif
  }
  PosixFiles(const PosixFiles&) = delete;
  PosixFiles& operator=(const PosixFiles&) = delete;
};

}  // namespace

FileSystem& NativeFileSystem() {
  static PosixFiles files;
  return files;
}

std::unique_ptr<FileSystem> NewFileSystemWithOwnFolder() { return std::make_unique<PosixFiles>(true); }

bool KeepsNameAsGiven(std::string_view /*name*/) { return true; }

bool IsFolder(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::string folder(PATH_MAX, '\0');
  if (::getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(folder.find('\0'));
  return folder == "/" ? folder + path : folder + "/" + path;
}

std::optional<std::string> NameFromStored(std::string_view stored) { return std::string(stored); }

}  // namespace larkspool
