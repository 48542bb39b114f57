// Bad sectors below the program: a library preloaded into a process
// (LD_PRELOAD) that fails every call reading one file over given byte ranges,
// as a disk with unreadable sectors does. A call that starts inside a range
// fails with EIO; one that would reach into a range stops short before it.
//
//   LARKSPOOL_UNREADABLE_FILE=PATH          the file (any name it is opened under)
//   LARKSPOOL_UNREADABLE_RANGES=A-B,C-D...  byte ranges [A, B) that cannot be read
//
// Every call a program can read a file with is covered: read, readv, pread,
// preadv (and their 64-bit names), splice, copy_file_range and sendfile;
// calls that read from the file's position take it from lseek.
#undef _FILE_OFFSET_BITS  // the 32- and 64-bit names are defined apart here

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Range {
  std::int64_t begin;
  std::int64_t end;
};

struct Config {
  bool active = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<Range> ranges;
};

Config Load() {
  Config config;
  const char* file = std::getenv("LARKSPOOL_UNREADABLE_FILE");
  const char* ranges = std::getenv("LARKSPOOL_UNREADABLE_RANGES");
  struct stat info {};
  if (file == nullptr || ranges == nullptr || ::stat(file, &info) != 0) return config;
  config.active = true;
  config.device = info.st_dev;
  config.inode = info.st_ino;
  for (const char* p = ranges; *p != '\0';) {
    char* end = nullptr;
    const long long begin = std::strtoll(p, &end, 10);
    if (*end != '-') break;
    const long long stop = std::strtoll(end + 1, &end, 10);
    config.ranges.push_back({begin, stop});
    p = *end == ',' ? end + 1 : end;
  }
  return config;
}

const Config& Settings() {
  static const Config config = Load();
  return config;
}

bool IsTheFile(int fd) {
  const Config& config = Settings();
  struct stat info {};
  return config.active && ::fstat(fd, &info) == 0 && info.st_dev == config.device &&
         info.st_ino == config.inode;
}

// How many of `count` bytes from `offset` of `fd` a call may read: all of
// them for another file, fewer before an unreadable range, -1 inside one.
std::int64_t Allowed(int fd, std::int64_t offset, std::size_t count) {
  auto allowed = static_cast<std::int64_t>(count);
  if (!IsTheFile(fd)) return allowed;
  for (const Range& range : Settings().ranges) {
    if (offset >= range.begin && offset < range.end) return -1;
    if (range.begin > offset && range.begin - offset < allowed) allowed = range.begin - offset;
  }
  return allowed;
}

std::int64_t Position(int fd) { return static_cast<std::int64_t>(::lseek64(fd, 0, SEEK_CUR)); }

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The count a call may move, or -1 with errno EIO.
std::int64_t Limit(int fd, std::int64_t offset, std::size_t count) {
  if (offset < 0) return static_cast<std::int64_t>(count);  // not a seekable file
  const std::int64_t allowed = Allowed(fd, offset, count);
  if (allowed < 0) errno = EIO;
  return allowed;
}

// `iov` cut to `allowed` bytes.
std::vector<iovec> Cut(const iovec* iov, int count, std::int64_t allowed) {
  std::vector<iovec> cut;
  for (int i = 0; i < count && allowed > 0; ++i) {
    iovec piece = iov[i];
    piece.iov_len = std::min<std::size_t>(piece.iov_len, static_cast<std::size_t>(allowed));
    allowed -= static_cast<std::int64_t>(piece.iov_len);
    cut.push_back(piece);
  }
  return cut;
}

std::size_t Total(const iovec* iov, int count) {
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) total += iov[i].iov_len;
  return total;
}

}  // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t count) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
  const std::int64_t allowed =
      IsTheFile(fd) ? Limit(fd, Position(fd), count) : static_cast<std::int64_t>(count);
  return allowed < 0 ? -1 : next(fd, buffer, static_cast<size_t>(allowed));
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  const std::int64_t allowed = Limit(fd, offset, count);
  return allowed < 0 ? -1 : next(fd, buffer, static_cast<size_t>(allowed), offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  static const auto next = Next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
  const std::int64_t allowed = Limit(fd, offset, count);
  return allowed < 0 ? -1 : next(fd, buffer, static_cast<size_t>(allowed), offset);
}

ssize_t readv(int fd, const iovec* iov, int count) {
  static const auto next = Next<ssize_t (*)(int, const iovec*, int)>("readv");
  if (!IsTheFile(fd)) return next(fd, iov, count);
  const std::int64_t allowed = Limit(fd, Position(fd), Total(iov, count));
  if (allowed < 0) return -1;
  const std::vector<iovec> cut = Cut(iov, count, allowed);
  return next(fd, cut.data(), static_cast<int>(cut.size()));
}

ssize_t preadv(int fd, const iovec* iov, int count, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, const iovec*, int, off_t)>("preadv");
  const std::int64_t allowed = Limit(fd, offset, Total(iov, count));
  if (allowed < 0) return -1;
  const std::vector<iovec> cut = Cut(iov, count, allowed);
  return next(fd, cut.data(), static_cast<int>(cut.size()), offset);
}

ssize_t preadv64(int fd, const iovec* iov, int count, off64_t offset) {
  static const auto next = Next<ssize_t (*)(int, const iovec*, int, off64_t)>("preadv64");
  const std::int64_t allowed = Limit(fd, offset, Total(iov, count));
  if (allowed < 0) return -1;
  const std::vector<iovec> cut = Cut(iov, count, allowed);
  return next(fd, cut.data(), static_cast<int>(cut.size()), offset);
}

ssize_t splice(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count, unsigned flags) {
  static const auto next = Next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("splice");
  if (!IsTheFile(in)) return next(in, inOffset, out, outOffset, count, flags);
  const std::int64_t allowed = Limit(in, inOffset != nullptr ? *inOffset : Position(in), count);
  return allowed < 0 ? -1 : next(in, inOffset, out, outOffset, static_cast<size_t>(allowed), flags);
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count,
                        unsigned flags) {
  static const auto next =
      Next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
  if (!IsTheFile(in)) return next(in, inOffset, out, outOffset, count, flags);
  const std::int64_t allowed = Limit(in, inOffset != nullptr ? *inOffset : Position(in), count);
  return allowed < 0 ? -1 : next(in, inOffset, out, outOffset, static_cast<size_t>(allowed), flags);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count) {
  static const auto next = Next<ssize_t (*)(int, int, off_t*, size_t)>("sendfile");
  if (!IsTheFile(in)) return next(out, in, offset, count);
  const std::int64_t allowed = Limit(in, offset != nullptr ? *offset : Position(in), count);
  return allowed < 0 ? -1 : next(out, in, offset, static_cast<size_t>(allowed));
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) {
  static const auto next = Next<ssize_t (*)(int, int, off64_t*, size_t)>("sendfile64");
  if (!IsTheFile(in)) return next(out, in, offset, count);
  const std::int64_t allowed = Limit(in, offset != nullptr ? *offset : Position(in), count);
  return allowed < 0 ? -1 : next(out, in, offset, static_cast<size_t>(allowed));
}

}  // extern "C"
