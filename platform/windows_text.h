// Text on Windows: UTF-8 inside the program, UTF-16 at the system's calls;
// and the paths and error codes of those calls.
#pragma once

#ifdef _WIN32

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

// `utf8` in UTF-16, or no value when it is not UTF-8 (a byte out of place, a
// sequence cut short, an overlong form, an encoded surrogate): such bytes
// are refused, never replaced, so no file is ever made or looked for under
// a name nobody gave.
std::optional<std::wstring> Utf16(std::string_view utf8);
// Text to show in a window or on the console: as Utf16, with U+FFFD where
// the bytes are not UTF-8.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view text);

// The path the system is given for the UTF-8 `path`, as the native file
// system gives it: made full against the current folder, and when too long
// for the plain form in the \\?\ one. No value, with errno EILSEQ, when
// `path` is not UTF-8.
std::optional<std::wstring> SystemPathOf(const std::string& path);
// The errno value for a system error code (GetLastError's).
int ErrnoFor(unsigned long error);

// The program's arguments from its UTF-16 command line, its name first, in
// UTF-8: the ANSI code page that main's argv goes through has no place for
// most names.
std::vector<std::string> CommandLineArguments();

// How text reaches a standard stream: a console is given UTF-16 through its
// own call, which shows every character whatever the console's code page
// and counts what it wrote in characters on every version; a pipe, a file
// or any other device (NUL, a serial port) is given the UTF-8 bytes
// themselves, for the program or file that takes them.
enum class TextSink { kBytes, kConsole };
TextSink SinkOf(void* handle);  // a Win32 HANDLE

// Writes `utf8` to `stream` (standard output or error) as SinkOf says for
// its handle,
// after what the C runtime holds for it. A console that refuses the text is
// given the bytes, so that a failure shows in ferror.
void WriteText(std::FILE* stream, std::string_view utf8);

}  // namespace larkspool

#endif
