// FileSystem on the C runtime's descriptors, always in binary mode. Paths and
// names come in as UTF-8 and go to the system as UTF-16, so every name a
// Windows file can have works, whatever the ANSI code page, and bytes that
// are not UTF-8 name no file. A path is made full first and goes in the
// system's \\?\ form when the full path is too long for the plain one.
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
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_forms.h"
#include "platform/transfer_loop.h"
#include "platform/windows_text.h"

namespace larkspool {

namespace {

int Utf16Length(std::string_view utf8, DWORD flags) {
  return ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
}

std::wstring ToUtf16(std::string_view utf8, DWORD flags, int length) {
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
  return out;
}

}  // namespace

std::optional<std::wstring> Utf16(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int length = Utf16Length(utf8, MB_ERR_INVALID_CHARS);
  if (length <= 0) return std::nullopt;
  return ToUtf16(utf8, MB_ERR_INVALID_CHARS, length);
}

std::wstring Wide(std::string_view utf8) {
  if (std::optional<std::wstring> exact = Utf16(utf8)) return *std::move(exact);
  const std::string_view shown = utf8.substr(0, static_cast<std::size_t>(INT_MAX));
  return ToUtf16(shown, 0, std::max(Utf16Length(shown, 0), 0));
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

int ErrnoFor(unsigned long error) {
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
    case ERROR_DIRECTORY:
      return ENOTDIR;
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

namespace {

// One runtime call moves at most this many bytes; its count is an int.
constexpr std::size_t kMaxTransfer = 1u << 30;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01, in 100 ns ticks.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000;
constexpr std::int64_t kTicksPerSecond = 10000000;

// Closes a Win32 handle and leaves `error` in errno.
FileHandle Refuse(HANDLE handle, int error) {
  ::CloseHandle(handle);
  errno = error;
  return kNoFile;
}

// The extraction folder when it is too long to be the process's current
// directory; empty while the current directory is in force.
std::wstring& LongFolder() {
  static std::wstring folder;
  return folder;
}

std::wstring ProcessCurrentDirectory() {
  const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return {};
  std::wstring current(size, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(size, current.data());
  if (length == 0 || length >= size) return {};
  current.resize(length);
  return current;
}

// Another drive's current directory, which the system keeps in the
// environment variable "=D:"; empty for the drive's root.
std::wstring DriveCurrentDirectory(wchar_t drive) {
  const wchar_t name[] = {L'=', drive, L':', L'\0'};
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring folder(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, folder.data(), size);
  if (length == 0 || length >= size) return {};
  folder.resize(length);
  return folder;
}

// What a relative path is resolved against: the long extraction folder while
// it is in force, else the process's current directory.
PathBase CurrentBase() {
  return PathBase{LongFolder().empty() ? ProcessCurrentDirectory() : LongFolder(), DriveCurrentDirectory};
}

// What a relative path is resolved against for a file system that holds
// `folder` (its own, or the long extraction folder): that folder, or while
// there is none, the process's current directory.
PathBase BaseFor(const std::wstring& folder) {
  return folder.empty() ? CurrentBase() : PathBase{folder, DriveCurrentDirectory};
}

// The UTF-16 path the system is given for `path`: made full, and in the long
// form when the full path is long (SystemPathForm). No value, with errno
// EILSEQ, when `path` is not UTF-8.
std::optional<std::wstring> SystemPath(const char* path, const std::wstring& folder = LongFolder()) {
  const std::optional<std::wstring> wide = Utf16(path);
  if (!wide) {
    errno = EILSEQ;
    return std::nullopt;
  }
  return SystemPathForm(*wide, BaseFor(folder));
}

DWORD Attributes(const char* path, const std::wstring& folder = LongFolder()) {
  const std::optional<std::wstring> target = SystemPath(path, folder);
  return target ? ::GetFileAttributesW(target->c_str()) : INVALID_FILE_ATTRIBUTES;
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
    const std::optional<std::wstring> target = SystemPath(path, Folder());
    if (!target) return kNoFile;
    const int fd = ::_wopen(target->c_str(), _O_RDONLY | _O_BINARY);
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
    const std::optional<std::wstring> target = SystemPath(path, Folder());
    if (!target) return kNoFile;
    const int fd = ::_wopen(target->c_str(), _O_BINARY | _O_EXCL | _O_CREAT | _O_RDWR, _S_IREAD | _S_IWRITE);
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
    const std::optional<std::wstring> target = SystemPath(path, Folder());
    if (!target) return kNoFile;
    HANDLE handle =
        ::CreateFileW(target->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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
    const std::optional<std::wstring> target = SystemPath(path, Folder());
    if (!target) return false;
    HANDLE named =
        ::CreateFileW(target->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

  bool Unlink(const char* path) override {
    const std::optional<std::wstring> target = SystemPath(path, Folder());
    return target && ::_wunlink(target->c_str()) == 0;
  }

  // A folder too long to be the current directory is entered all the same:
  // relative paths are resolved against it from then on.
  bool ChangeDirectory(const char* path) override {
    const std::optional<std::wstring> wide = Utf16(path);
    if (!wide) {
      errno = EILSEQ;
      return false;
    }
    const PathBase base = BaseFor(Folder());
    const std::wstring target = SystemPathForm(*wide, base);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      errno = attributes == INVALID_FILE_ATTRIBUTES ? ErrnoFor(::GetLastError()) : ENOTDIR;
      return false;
    }
    if (hasOwnFolder_) {
      ownFolder_ = FullPathName(*wide, base);
      return true;
    }
    if (::SetCurrentDirectoryW(target.c_str()) != 0) {
      LongFolder().clear();
      return true;
    }
    std::wstring full = FullPathName(*wide, base);
    if (full.size() < kPlainPathLimit) {
      errno = ErrnoFor(::GetLastError());
      return false;
    }
    LongFolder() = std::move(full);
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

std::optional<std::wstring> SystemPathOf(const std::string& path) { return SystemPath(path.c_str()); }

bool IsFolder(const char* path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string AbsolutePath(const std::string& path) {
  const std::optional<std::wstring> wide = Utf16(path);
  if (path.empty() || !wide) return path;
  return Utf8(FullPathName(*wide, CurrentBase()));
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
