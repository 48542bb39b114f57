// The core's only door to files. Everything the extractor reads or writes goes
// through FileSystem, so the core stays portable and tests can inject faults.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace larkspool {

using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

enum class SeekFrom { kStart, kCurrent, kEnd };

// Every call that fails leaves errno describing why, as the POSIX calls do.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file for reading in binary mode, without ever
  // blocking: a directory (EISDIR), a FIFO, a device or any other kind of
  // file (EINVAL) makes it fail.
  virtual FileHandle OpenRead(const char* path) = 0;
  // Creates a new file for reading and writing. Fails with EEXIST when
  // anything stands at `path` already, including a dangling symbolic link,
  // and with another errno for every other reason.
  virtual FileHandle CreateExclusive(const char* path) = 0;
  // Opens an existing regular file for writing and truncates it. Never creates
  // a file and never follows a symbolic link: a link, a hard-linked file, a
  // directory or any other kind of file at `path` makes it fail.
  virtual FileHandle OpenForOverwrite(const char* path) = 0;
  // True when `path` names the very file `file` is open on (also through a
  // hard link); false when it names another file or nothing.
  virtual bool SameFile(const char* path, FileHandle file) = 0;

  // Reads up to `size` bytes. Returns the count read, which falls short of
  // `size` only at the end of the file, or -1 on an error.
  virtual std::int64_t Read(FileHandle file, void* buffer, std::size_t size) = 0;
  // Writes `size` bytes. Returns the count written (short on a full disk), or
  // -1 on an error.
  virtual std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) = 0;
  // Copies up to `size` bytes from `from`'s position to `to`'s position inside
  // the system, without passing them through the caller, and advances both
  // positions by the count copied. Returns that count, which may fall short
  // of `size` for any reason, or -1 on an error; nothing is copied then. A
  // platform without such a copy fails with ENOSYS, which this default does.
  virtual std::int64_t CopyRange(FileHandle /*from*/, FileHandle /*to*/, std::size_t /*size*/) {
    errno = ENOSYS;
    return -1;
  }
  // The next `size` bytes of `file` where the caller's layer already holds
  // them all in memory: the position moves past them, and the bytes stay valid
  // until the next call on `file`. Empty, with the position unchanged, where
  // it does not hold them all; Read then reads them. This default holds none.
  virtual std::span<const std::uint8_t> ReadHeld(FileHandle /*file*/, std::size_t /*size*/) { return {}; }
  // Returns the new position from the start of the file, or -1.
  virtual std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) = 0;
  virtual void Close(FileHandle file) = 0;
  virtual bool Unlink(const char* path) = 0;
  virtual bool ChangeDirectory(const char* path) = 0;
  // Last modification time in seconds since 1970-01-01 UTC.
  virtual std::optional<std::int64_t> LastWriteTime(FileHandle file) = 0;

  // The buffer for one entry header or record; null when memory runs out.
  virtual std::unique_ptr<std::uint8_t[]> AllocateRecordBuffer(std::size_t size);
};

// Passes every call on to another FileSystem. A layer over one (a read
// window, a fault seam, a guard) derives from it and overrides only the calls
// it changes, so a call added to FileSystem reaches the base through every
// layer that does not say otherwise.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& base) : base_(base) {}

  FileHandle OpenRead(const char* path) override { return base_.OpenRead(path); }
  FileHandle CreateExclusive(const char* path) override { return base_.CreateExclusive(path); }
  FileHandle OpenForOverwrite(const char* path) override { return base_.OpenForOverwrite(path); }
  bool SameFile(const char* path, FileHandle file) override { return base_.SameFile(path, file); }
  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    return base_.Read(file, buffer, size);
  }
  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    return base_.Write(file, buffer, size);
  }
  std::int64_t CopyRange(FileHandle from, FileHandle to, std::size_t size) override {
    return base_.CopyRange(from, to, size);
  }
  std::span<const std::uint8_t> ReadHeld(FileHandle file, std::size_t size) override {
    return base_.ReadHeld(file, size);
  }
  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    return base_.Seek(file, offset, from);
  }
  void Close(FileHandle file) override { base_.Close(file); }
  bool Unlink(const char* path) override { return base_.Unlink(path); }
  bool ChangeDirectory(const char* path) override { return base_.ChangeDirectory(path); }
  std::optional<std::int64_t> LastWriteTime(FileHandle file) override { return base_.LastWriteTime(file); }
  std::unique_ptr<std::uint8_t[]> AllocateRecordBuffer(std::size_t size) override {
    return base_.AllocateRecordBuffer(size);
  }

 protected:
  FileSystem& base() const { return base_; }

 private:
  FileSystem& base_;
};

// The process's real file system: POSIX descriptors, or on Windows the C
// runtime's descriptors in binary mode.
FileSystem& NativeFileSystem();
// The same files for work that runs beside other work in the process (one
// extraction of a batch on a thread of its own): its ChangeDirectory enters
// a folder for this object alone, and relative paths are resolved against
// that folder; the process's current directory is never changed. Before
// the first ChangeDirectory, relative paths are resolved against the
// process's current directory. One object serves one thread at a time.
std::unique_ptr<FileSystem> NewFileSystemWithOwnFolder();

// True when a file created under `name` in the current folder is an ordinary
// file under exactly that name. Every name qualifies on POSIX; Windows opens a
// device for a reserved name such as NUL or COM1 (with any extension), an
// alternate data stream of another file for a name with ':', and drops
// trailing dots and spaces.
bool KeepsNameAsGiven(std::string_view name);

// True when `path` names a folder (following links).
bool IsFolder(const char* path);
// `path` made absolute against the current folder; as given when it cannot
// be.
std::string AbsolutePath(const std::string& path);

// The name a stored name (the bytes of the backup's field) is written and
// shown under, or no value when the bytes are no text of the system's code
// page. The bytes as they are on POSIX; on Windows, where file names are
// UTF-16 and every name inside the program UTF-8, the bytes read in the ANSI
// code page, the one the system used for them before.
std::optional<std::string> NameFromStored(std::string_view stored);

// Closes a handle when it goes out of scope.
class ScopedFile {
 public:
  explicit ScopedFile(FileSystem& fs, FileHandle file = kNoFile) : fs_(fs), file_(file) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { Reset(); }

  FileHandle get() const { return file_; }
  bool valid() const { return file_ != kNoFile; }
  // Closes the file held, if any, and holds `file` from now on.
  void Reset(FileHandle file = kNoFile) {
    if (file_ != kNoFile) fs_.Close(file_);
    file_ = file;
  }

 private:
  FileSystem& fs_;
  FileHandle file_;
};

}  // namespace larkspool
