// What the program writes to standard output and error. On Windows a stream
// that is a console is written in UTF-16 through the console's own call, so
// names show as they are whatever the console's code page; a pipe or a file
// gets the UTF-8 bytes, as everywhere.
#pragma once

#include <cstdio>
#include <string_view>

#if defined(__MINGW_PRINTF_FORMAT)
#define LARKSPOOL_PRINTF_FORMAT(string, first) __attribute__((format(__MINGW_PRINTF_FORMAT, string, first)))
#elif defined(__GNUC__)
#define LARKSPOOL_PRINTF_FORMAT(string, first) __attribute__((format(printf, string, first)))
#else
#define LARKSPOOL_PRINTF_FORMAT(string, first)
#endif

namespace larkspool::cli {

// `text` (UTF-8) to `stream`.
void Put(std::FILE* stream, std::string_view text);
// printf's formatting, to `stream`.
void Print(std::FILE* stream, const char* format, ...) LARKSPOOL_PRINTF_FORMAT(2, 3);

}  // namespace larkspool::cli
