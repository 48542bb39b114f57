// Windows path forms, worked out as text: a path made full as the system
// makes it, and the form the system takes it in at any length. Pure, so the
// same rules run, and are tested, on every system; only the Windows file
// layer gives them to the system.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace larkspool {

// The longest full path the system takes in its plain form everywhere: a
// folder's path leaves room for an 8.3 name below it (MAX_PATH - 12). A
// longer one goes in the \\?\ form.
inline constexpr std::size_t kPlainPathLimit = 260 - 12;

// What a path that is not full is resolved against.
struct PathBase {
  // The current directory, full: "C:\work", "\\server\share\work", or in the
  // \\?\ form.
  std::wstring current;
  // Another drive's current directory ("D:\music") for a path such as
  // "D:name"; empty, or no function, for the drive's root.
  std::function<std::wstring(wchar_t drive)> driveCurrent;
};

// True for a path the system takes as it is: the \\?\ form, and device
// paths (\\.\COM1, \\.\C:\x), which the system resolves itself.
bool IsVerbatimOrDevicePath(std::wstring_view path);

// `path` made full as the system's GetFullPathNameW makes it: a relative
// path ("a.wav", "..\a.wav") against the current directory, a root-relative
// one ("\dir\a.wav") against the current directory's drive or share, a
// drive-relative one ("D:a.wav") against that drive's current directory;
// '/' becomes '\', "." and ".." are resolved (never above the drive or the
// share), a name's final '.' before a '\' is dropped, and so are the dots
// and blanks that end the path. A \\?\ path comes back as given.
std::wstring FullPathName(std::wstring_view path, const PathBase& base);

// The path the system is given for `path`: made full, and in the \\?\ form
// (\\?\UNC\server\share\... for a share) when the full path is too long for
// the plain form. The \\?\ form and device paths as given.
std::wstring SystemPathForm(std::wstring_view path, const PathBase& base);

}  // namespace larkspool
