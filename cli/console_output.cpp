#include "cli/console_output.h"

#include <cstdarg>
#include <string>

#ifdef _WIN32
#include "platform/windows_text.h"
#endif

namespace larkspool::cli {

void Put(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
  WriteText(stream, text);
#else
  std::fwrite(text.data(), 1, text.size(), stream);
#endif
}

void Print(std::FILE* stream, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
#ifdef _WIN32
  std::va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.pop_back();
    WriteText(stream, text);
  }
#else
  std::vfprintf(stream, format, arguments);
#endif
  va_end(arguments);
}

}  // namespace larkspool::cli
