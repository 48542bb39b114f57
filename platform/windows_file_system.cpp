// FileSystem on the C runtime's descriptors, always in binary mode, with names
// passed as the bytes stored in the backup (the ANSI code page).
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>

#include "platform/file_system.h"
#include "platform/transfer_loop.h"

namespace larkspool {

std::unique_ptr<std::uint8_t[]> FileSystem::AllocateRecordBuffer(std::size_t size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]);
}

namespace {

// One runtime call moves at most this many bytes; its count is an int.
constexpr std::size_t kMaxTransfer = 1u << 30;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01, in 100 ns ticks.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000;
constexpr std::int64_t kTicksPerSecond = 10000000;

int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

// Closes a Win32 handle and leaves `error` in errno.
FileHandle Refuse(HANDLE handle, int error) {
  ::CloseHandle(handle);
  errno = error;
  return kNoFile;
}

bool FileIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info) != 0;
}

class WindowsFiles final : public FileSystem {
 public:
  FileHandle OpenRead(const char* path) override {
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
      if (IsDirectory(path)) errno = EISDIR;
      return kNoFile;
    }
    // A device (NUL, CON, a serial port) or a pipe opens too, and reading it
    // may block or never end: only a file on a disk is kept.
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(Win32Handle(fd)) != FILE_TYPE_DISK || !FileIdentity(Win32Handle(fd), info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ::_close(fd);
      errno = EINVAL;
      return kNoFile;
    }
    return fd;
  }

  FileHandle CreateExclusive(const char* path) override {
    const int fd = ::_open(path, _O_BINARY | _O_EXCL | _O_CREAT | _O_RDWR, _S_IREAD | _S_IWRITE);
    if (fd >= 0) return fd;
    // The runtime reports a folder standing at the name as access denied;
    // anything that stands there is EEXIST, the question for the user.
    if (errno != EEXIST && ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) errno = EEXIST;
    return kNoFile;
  }

  FileHandle OpenForOverwrite(const char* path) override {
    // The runtime's open would follow a symbolic link or junction and
    // truncate before anything could be checked, so the file is opened
    // through Win32 without following a reparse point, checked to be a
    // regular file with no other name, and only then truncated. Writing
    // through a link or a second name would change a file that may lie
    // outside the folder.
    HANDLE handle =
        ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      errno = IsDirectory(path) ? EISDIR : ErrnoFor(error);
      return kNoFile;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !FileIdentity(handle, info)) return Refuse(handle, EINVAL);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Refuse(handle, EPERM);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Refuse(handle, EISDIR);
    if (info.nNumberOfLinks != 1) return Refuse(handle, EMLINK);
    if (::SetEndOfFile(handle) == 0) return Refuse(handle, ErrnoFor(::GetLastError()));
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    if (fd < 0) return Refuse(handle, EMFILE);
    return fd;
  }

  bool SameFile(const char* path, FileHandle file) override {
    // Opened for no access at all, so a file in use or a folder still
    // answers; a reparse point is looked at itself, not at its target.
    HANDLE named =
        ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION namedInfo{};
    BY_HANDLE_FILE_INFORMATION openInfo{};
    const bool same = FileIdentity(named, namedInfo) && FileIdentity(Win32Handle(file), openInfo) &&
                      namedInfo.dwVolumeSerialNumber == openInfo.dwVolumeSerialNumber &&
                      namedInfo.nFileIndexHigh == openInfo.nFileIndexHigh &&
                      namedInfo.nFileIndexLow == openInfo.nFileIndexLow;
    ::CloseHandle(named);
    return same;
  }

  std::int64_t Read(FileHandle file, void* buffer, std::size_t size) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    return TransferAll(size, kMaxTransfer, false, [&](std::size_t done, std::size_t count) {
      return ::_read(file, out + done, static_cast<unsigned>(count));
    });
  }

  std::int64_t Write(FileHandle file, const void* buffer, std::size_t size) override {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    return TransferAll(size, kMaxTransfer, true, [&](std::size_t done, std::size_t count) {
      return ::_write(file, in + done, static_cast<unsigned>(count));
    });
  }

  std::int64_t Seek(FileHandle file, std::int64_t offset, SeekFrom from) override {
    const int whence = from == SeekFrom::kStart ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
    return ::_lseeki64(file, offset, whence);
  }

  void Close(FileHandle file) override { ::_close(file); }

  bool Unlink(const char* path) override { return ::_unlink(path) == 0; }

  bool ChangeDirectory(const char* path) override { return ::_chdir(path) == 0; }

  std::optional<std::int64_t> LastWriteTime(FileHandle file) override {
    FILETIME written{};
    if (::GetFileTime(Win32Handle(file), nullptr, nullptr, &written) == 0) return std::nullopt;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    return (ticks - kUnixEpochTicks) / kTicksPerSecond;
  }

 private:
  static bool IsDirectory(const char* path) {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  static HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(file)); }
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Upper(text[i]) != upper[i]) return false;
  }
  return true;
}

// The device names Windows keeps in every folder. COM and LPT take a digit,
// including the superscript ¹ ² ³ of the Western code page.
bool IsDeviceName(std::string_view base) {
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const std::string_view prefix = base.substr(0, 3);
  if (!EqualsIgnoringCase(prefix, "COM") && !EqualsIgnoringCase(prefix, "LPT")) return false;
  const auto digit = static_cast<unsigned char>(base[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

FileSystem& NativeFileSystem() {
  static WindowsFiles files;
  return files;
}

bool KeepsNameAsGiven(std::string_view name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  // ':' opens a stream of another file; the others are wildcards, pipes and
  // redirections that no Windows file name holds.
  if (name.find_first_of("<>:\"|?*/\\") != std::string_view::npos) return false;
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  // A device name stays a device with any extension and with blanks before it.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  return !IsDeviceName(base);
}

}  // namespace larkspool
