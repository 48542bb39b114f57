#include "platform/path_forms.h"

#include <algorithm>

namespace larkspool {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWithVerbatimPrefix(std::wstring_view path) { return path.starts_with(L"\\\\?\\"); }

// \\.\ or \\?\ written with either separator: the system resolves what
// follows itself.
bool IsDevicePath(std::wstring_view path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == L'.' || path[2] == L'?') && IsSeparator(path[3]);
}

bool IsUncPath(std::wstring_view path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsDevicePath(path);
}

bool IsDrivePath(std::wstring_view path) { return path.size() >= 2 && path[1] == L':'; }

// From `at`: past one name, then past the separators after it.
std::size_t PastComponent(std::wstring_view path, std::size_t at) {
  while (at < path.size() && !IsSeparator(path[at])) ++at;
  while (at < path.size() && IsSeparator(path[at])) ++at;
  return at;
}

// The length of the part of a full path that "..", "\name" and the dots
// and blanks at its end never reach: "C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\", "\\.\".
std::size_t RootLength(std::wstring_view full) {
  if (StartsWithVerbatimPrefix(full)) {
    const std::wstring_view rest = full.substr(4);
    if (rest.size() >= 4 && UpperAscii(rest[0]) == L'U' && UpperAscii(rest[1]) == L'N' &&
        UpperAscii(rest[2]) == L'C' && rest[3] == L'\\') {
      return PastComponent(full, PastComponent(full, 8));
    }
    if (rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\') return 7;
    return PastComponent(full, 4);
  }
  if (IsDevicePath(full)) return 4;
  if (IsUncPath(full)) return PastComponent(full, PastComponent(full, 2));
  if (IsDrivePath(full)) return full.size() >= 3 && IsSeparator(full[2]) ? 3 : 2;
  return !full.empty() && IsSeparator(full[0]) ? 1 : 0;
}

// Resolves '/', doubled separators, "." and ".." after the root and the
// dots and blanks at the end, as the system does for a path made full.
std::wstring Normalized(std::wstring path) {
  const std::size_t root = RootLength(path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // Doubled separators after the root.
  std::size_t kept = std::max<std::size_t>(root, 1);
  for (std::size_t i = kept; i < path.size(); ++i) {
    if (path[i] != L'\\' || path[kept - 1] != L'\\') path[kept++] = path[i];
  }
  path.resize(std::min(kept, path.size()));

  std::size_t at = root;
  while (at < path.size()) {
    const std::wstring_view rest = std::wstring_view(path).substr(at);
    if (rest == L"." || rest == L"..") {
      // A final "." goes with its separator; a final ".." with the name
      // before it too.
      std::size_t cut = at;
      if (rest == L".." && cut > root) {
        --cut;
        while (cut > root && path[cut - 1] != L'\\') --cut;
      }
      if (cut > root) --cut;
      path.resize(cut);
      break;
    }
    if (rest.starts_with(L".\\")) {
      path.erase(at, 2);
      continue;
    }
    if (rest.starts_with(L"..\\")) {
      std::size_t start = at;
      if (start > root) {
        --start;
        while (start > root && path[start - 1] != L'\\') --start;
      }
      path.erase(start, at + 3 - start);
      at = start;
      continue;
    }
    while (at < path.size() && path[at] != L'\\') ++at;
    if (at == path.size()) break;
    // A name's final '.' before a separator is dropped.
    if (at > root && path[at - 1] == L'.') {
      path.erase(at - 1, 1);
    } else {
      ++at;
    }
  }
  std::size_t end = path.size();
  while (end > root && (path[end - 1] == L' ' || path[end - 1] == L'.')) --end;
  path.resize(end);
  return path;
}

}  // namespace

bool IsVerbatimOrDevicePath(std::wstring_view path) {
  return StartsWithVerbatimPrefix(path) || IsDevicePath(path);
}

std::wstring FullPathName(std::wstring_view path, const PathBase& base) {
  if (StartsWithVerbatimPrefix(path) || path.empty()) return std::wstring(path);
  std::wstring joined;
  if (IsSeparator(path[0]) && path.size() >= 2 && IsSeparator(path[1])) {
    // A share or a device: full already.
    joined = path;
  } else if (IsDrivePath(path) && path.size() >= 3 && IsSeparator(path[2])) {
    joined = path;
  } else if (IsDrivePath(path)) {
    // "D:name": against the current directory when it is on that drive,
    // else against the drive's own.
    const wchar_t drive = UpperAscii(path[0]);
    std::wstring folder;
    if (IsDrivePath(base.current) && UpperAscii(base.current[0]) == drive) {
      folder = base.current;
    } else if (base.driveCurrent) {
      folder = base.driveCurrent(drive);
    }
    if (folder.empty()) folder = std::wstring{path[0], L':', L'\\'};
    joined = folder;
    if (path.size() > 2) joined += L'\\' + std::wstring(path.substr(2));
  } else if (IsSeparator(path[0])) {
    // "\name": against the current directory's drive or share.
    joined = base.current.substr(0, RootLength(base.current));
    while (!joined.empty() && IsSeparator(joined.back())) joined.pop_back();
    joined += path;
  } else if (base.current.empty()) {
    joined = path;
  } else {
    joined = base.current + L'\\' + std::wstring(path);
  }
  return Normalized(std::move(joined));
}

std::wstring SystemPathForm(std::wstring_view path, const PathBase& base) {
  if (IsVerbatimOrDevicePath(path)) return std::wstring(path);
  std::wstring full = FullPathName(path, base);
  if (full.size() < kPlainPathLimit || IsVerbatimOrDevicePath(full)) return full;
  if (IsUncPath(full)) return L"\\\\?\\UNC\\" + full.substr(2);
  if (IsDrivePath(full)) return L"\\\\?\\" + full;
  return full;
}

}  // namespace larkspool
