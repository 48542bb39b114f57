// FileSystem on POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/file_system.h"

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

class PosixFiles final : public FileSystem {
 public:
  FileHandle OpenRead(const char* path) override {
    // O_NONBLOCK keeps a FIFO without a writer from blocking the open; the
    // file is then kept only when it is a regular file.
    const int fd =
        RetryOnInterrupt([&] { return ::open(path, O_RDONLY | O_NONBLOCK | O_BINARY | O_CLOEXEC); });
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
    return RetryOnInterrupt(
        [&] { return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, kOutputMode); });
  }

  FileHandle OpenForOverwrite(const char* path) override {
    // O_NOFOLLOW refuses a link standing at the name; O_NONBLOCK keeps a FIFO
    // without a reader from blocking the open. Only a regular file with no
    // other name is kept: writing through a hard link would change a file
    // that may lie outside the folder.
    const int fd = RetryOnInterrupt(
        [&] { return ::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_BINARY | O_CLOEXEC); });
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
    return ::lstat(path, &named) == 0 && ::fstat(file, &open) == 0 && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
  }

  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    // A regular file delivers everything in one call; the loop only matters
    // for a read cut short by a signal or a pipe.
    while (done < size) {
      const ssize_t n = ::read(file, out + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
  }

  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(file, in + done, size - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? static_cast<std::int64_t>(done) : -1;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
  }

#ifdef __linux__
  // The kernel copies from page cache to page cache, or shares the blocks.
  // Where it cannot (another file system, an old kernel) it fails, and the
  // caller reads and writes instead.
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    ssize_t n;
    do {
      n = ::copy_file_range(from, nullptr, to, nullptr, size, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<std::int64_t>(n);
  }
#endif

  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    const int whence = from == SeekFrom::kStart ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
    return static_cast<std::int64_t>(::lseek(file, static_cast<off_t>(offset), whence));
  }

  void Close(FileHandle file) override { ::close(file); }

  bool Unlink(const char* path) override { return ::unlink(path) == 0; }

  bool ChangeDirectory(const char* path) override { return ::chdir(path) == 0; }

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
};

}  // namespace

FileSystem& NativeFileSystem() {
  static PosixFiles files;
  return files;
}

bool KeepsNameAsGiven(std::string_view /*name*/) { return true; }

}  // namespace larkspool
