// Text on Windows: UTF-8 inside the program, UTF-16 at the system's calls.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view text);

// The program's arguments from its UTF-16 command line, its name first, in
// UTF-8: the ANSI code page that main's argv goes through has no place for
// most names.
std::vector<std::string> CommandLineArguments();

}  // namespace larkspool

#endif
