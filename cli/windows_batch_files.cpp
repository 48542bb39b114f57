// The batch's file helpers on Windows: paths in UTF-8 go to the system as
// the native file system gives them (SystemPathOf), so any name and length
// works; the password file's permissions are its access control list.
#include <aclapi.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <memory>

#include "cli/batch_files.h"
#include "platform/windows_text.h"

namespace larkspool::cli {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsBackupName(const std::wstring& name) {
  if (name.size() <= 4) return false;
  std::wstring extension = name.substr(name.size() - 4);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return extension == L".bkp";
}

struct FindCloser {
  void operator()(HANDLE find) const { ::FindClose(find); }
};
struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The accounts besides the owner that may hold a file: the system and the
// administrators, as the system's own tools keep a private key.
bool IsTrusted(PSID sid, PSID owner) {
  return ::EqualSid(sid, owner) != 0 || ::IsWellKnownSid(sid, WinLocalSystemSid) != 0 ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) != 0;
}

std::string AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use{};
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use) == 0)
    return "another account";
  return Utf8(name);
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

std::string LastComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && IsSeparator(trimmed.back())) trimmed.pop_back();
  const std::size_t separator = trimmed.find_last_of("\\/:");
  return separator == std::string::npos ? trimmed : trimmed.substr(separator + 1);
}

bool ListBackups(const std::string& folder, bool recursive, std::vector<std::string>& found) {
  const std::optional<std::wstring> pattern = SystemPathOf(JoinPath(folder, "*"));
  if (!pattern) return false;
  WIN32_FIND_DATAW data{};
  HANDLE first = ::FindFirstFileW(pattern->c_str(), &data);
  if (first == INVALID_HANDLE_VALUE) {
    // An empty folder has no entry at all on some file systems.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    errno = ErrnoFor(::GetLastError());
    return false;
  }
  const std::unique_ptr<void, FindCloser> find(first);
  struct Item {
    std::string name;
    bool folder;
  };
  std::vector<Item> items;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    // A link or junction to a folder is not followed: it could lead back.
    const bool folderEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folderEntry && !link) {
      items.push_back({Utf8(name), true});
    } else if (!folderEntry && IsBackupName(name)) {
      items.push_back({Utf8(name), false});
    }
  } while (::FindNextFileW(find.get(), &data) != 0);
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
  for (const Item& item : items) {
    if (!item.folder) found.push_back(JoinPath(folder, item.name));
  }
  if (!recursive) return true;
  for (const Item& item : items) {
    if (item.folder) ListBackups(JoinPath(folder, item.name), true, found);
  }
  return true;
}

bool MakeFolder(const std::string& path) {
  const std::optional<std::wstring> target = SystemPathOf(path);
  if (!target) return false;
  if (::CreateDirectoryW(target->c_str(), nullptr) != 0) return true;
  const int error = ErrnoFor(::GetLastError());
  const DWORD attributes = ::GetFileAttributesW(target->c_str());
  if (error == EEXIST && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return true;
  errno = error == EEXIST ? ENOTDIR : error;
  return false;
}

std::optional<std::string> OpenToOthers(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "its permissions cannot be read";
  }
  const std::unique_ptr<void, LocalFreer> freed(descriptor);
  if (dacl == nullptr) return "it has no access list: everyone may read it";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (::GetAce(dacl, i, &ace) == 0) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    constexpr ACCESS_MASK kOpens = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                                   GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
    if ((allowed->Mask & kOpens) == 0) continue;
    auto sid = static_cast<PSID>(&allowed->SidStart);
    if (!IsTrusted(sid, owner)) {
      return "its access list lets " + AccountName(sid) + " open it (only its owner, SYSTEM and the " +
             "Administrators may)";
    }
  }
  return std::nullopt;
}

InterruptsStayHere::InterruptsStayHere() = default;
InterruptsStayHere::~InterruptsStayHere() = default;

}  // namespace larkspool::cli
