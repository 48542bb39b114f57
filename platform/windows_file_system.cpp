// FileSystem on the C runtime's descriptors, always in binary mode. Paths and
// names come in as UTF-8 and go to the system as UTF-16, so every name a
// Windows file can have works, whatever the ANSI code page; a path too long
// for the system's plain form goes in its \\?\ form.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After <windows.h>, whose types it needs.
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/transfer_loop.h"
#include "platform/windows_text.h"

namespace larkspool {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int wide = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(wide, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), wide);
  return out;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; words != nullptr && i < count; ++i) arguments.push_back(Utf8(words[i]));
  ::LocalFree(words);
  return arguments;
}

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

// The longest path the system takes in its plain form everywhere: a folder's
// path leaves room for a 8.3 name below it.
constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

// The extraction folder when it is too long to be the process's current
// directory; empty while the current directory is in force.
std::wstring& LongFolder() {
  static std::wstring folder;
  return folder;
}

bool IsRelative(std::wstring_view path) {
  const bool rooted = !path.empty() && (path[0] == L'\\' || path[0] == L'/');
  const bool drive = path.size() >= 2 && path[1] == L':';
  return !rooted && !drive;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

// A full path without its long-form prefix: the form a folder is held in.
std::wstring ShortForm(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + full.substr(8);
  if (full.rfind(L"\\\\?\\", 0) == 0) return full.substr(4);
  return full;
}

// The form of a full path the system takes at any length.
std::wstring LongForm(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The UTF-16 path the system is given for `path`: as it is while it is short
// and the current directory holds; otherwise made full (against `folder`,
// the long extraction folder or a file system's own, for a relative path)
// and, when long, in the long form.
std::wstring SystemPath(const char* path, const std::wstring& folder = LongFolder()) {
  std::wstring wide = Wide(path);
  if (folder.empty() && wide.size() < kPlainPathLimit) return wide;
  if (!folder.empty() && IsRelative(wide)) wide = folder + L"\\" + wide;
  const std::wstring full = FullPath(wide);
  return full.size() < kPlainPathLimit ? full : LongForm(full);
}

DWORD Attributes(const char* path, const std::wstring& folder = LongFolder()) {
  return ::GetFileAttributesW(SystemPath(path, folder).c_str());
}

bool FileIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info) != 0;
}

// A file system with a folder of its own resolves relative paths against
// `ownFolder_` (the process's current directory until it enters one) and
// never changes the process's current directory.
class WindowsFiles final : public FileSystem {
 public:
  explicit WindowsFiles(bool ownFolder = false) : hasOwnFolder_(ownFolder) {}

  FileHandle OpenRead(const char* path) override {
    const int fd = ::_wopen(SystemPath(path, Folder()).c_str(), _O_RDONLY | _O_BINARY);
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
    const int fd = ::_wopen(SystemPath(path, Folder()).c_str(), _O_BINARY | _O_EXCL | _O_CREAT | _O_RDWR,
                            _S_IREAD | _S_IWRITE);
    if (fd >= 0) return fd;
    // The runtime reports a folder standing at the name as access denied;
    // anything that stands there is EEXIST, the question for the user.
    if (errno != EEXIST && Attributes(path, Folder()) != INVALID_FILE_ATTRIBUTES) errno = EEXIST;
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
        ::CreateFileW(SystemPath(path, Folder()).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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
    HANDLE named = ::CreateFileW(
        SystemPath(path, Folder()).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

  bool Unlink(const char* path) override { return ::_wunlink(SystemPath(path, Folder()).c_str()) == 0; }

  // A folder too long to be the current directory is entered all the same:
  // relative paths are resolved against it from then on.
  bool ChangeDirectory(const char* path) override {
    const std::wstring target = SystemPath(path, Folder());
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      errno = attributes == INVALID_FILE_ATTRIBUTES ? ErrnoFor(::GetLastError()) : ENOTDIR;
      return false;
    }
    if (hasOwnFolder_) {
      ownFolder_ = ShortForm(FullPath(target));
      return true;
    }
    if (::SetCurrentDirectoryW(target.c_str()) != 0) {
      LongFolder().clear();
      return true;
    }
    std::wstring full = FullPath(target);
    if (full.rfind(L"\\\\?\\", 0) != 0 || full.size() < kPlainPathLimit) {
      errno = ErrnoFor(::GetLastError());
      return false;
    }
    LongFolder() = ShortForm(full);
    return true;
  }

  std::optional<std::int64_t> LastWriteTime(FileHandle file) override {
    FILETIME written{};
    if (::GetFileTime(Win32Handle(file), nullptr, nullptr, &written) == 0) return std::nullopt;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    return (ticks - kUnixEpochTicks) / kTicksPerSecond;
  }

 private:
  const std::wstring& Folder() const { return hasOwnFolder_ ? ownFolder_ : LongFolder(); }

  bool IsDirectory(const char* path) const {
    const DWORD attributes = Attributes(path, Folder());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  static HANDLE Win32Handle(FileHandle file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(file)); }

  const bool hasOwnFolder_;
  std::wstring ownFolder_;
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
// including the superscripts ¹ ² ³ (UTF-8 C2 B9, C2 B2, C2 B3).
bool IsDeviceName(std::string_view base) {
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringCase(base, device)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view prefix = base.substr(0, 3);
  if (!EqualsIgnoringCase(prefix, "COM") && !EqualsIgnoringCase(prefix, "LPT")) return false;
  const std::string_view digit = base.substr(3);
  if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

FileSystem& NativeFileSystem() {
  static WindowsFiles files;
  return files;
}

std::unique_ptr<FileSystem> NewFileSystemWithOwnFolder() { return std::make_unique<WindowsFiles>(true); }

bool IsFolder(const char* path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  return Utf8(FullPath(Wide(path)));
}

std::optional<std::string> NameFromStored(std::string_view stored) {
  if (stored.empty()) return std::string();
  const int size = static_cast<int>(stored.size());
  const int wide = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, stored.data(), size, nullptr, 0);
  if (wide <= 0) return std::nullopt;
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, stored.data(), size, text.data(), wide);
  return Utf8(text);
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
