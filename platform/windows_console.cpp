// Standard output and error on Windows: UTF-16 for a console, UTF-8 bytes
// for everything else.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/windows_text.h"

namespace larkspool {

TextSink SinkOf(void* handle) {
  // A console has a console mode; NUL and other character devices, which
  // the runtime's _isatty also takes for a terminal, have none.
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0 ? TextSink::kConsole
                                                                                : TextSink::kBytes;
}

namespace {

// The standard handles stay what they are for the whole run: each is asked
// about once, not at every line.
TextSink RememberedSinkOf(HANDLE handle) {
  struct Known {
    HANDLE handle;
    TextSink sink;
  };
  static Known known[2] = {{INVALID_HANDLE_VALUE, TextSink::kBytes},
                           {INVALID_HANDLE_VALUE, TextSink::kBytes}};
  static std::size_t next = 0;
  for (const Known& k : known) {
    if (k.handle == handle && handle != INVALID_HANDLE_VALUE) return k.sink;
  }
  const TextSink sink = SinkOf(handle);
  known[next] = {handle, sink};
  next = (next + 1) % 2;
  return sink;
}

}  // namespace

void WriteText(std::FILE* stream, std::string_view utf8) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  if (RememberedSinkOf(handle) == TextSink::kBytes) {
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    return;
  }
  std::fflush(stream);
  const std::wstring text = Wide(utf8);
  // Older consoles refuse a large write as a whole: it goes in pieces, none
  // of which splits a surrogate pair.
  constexpr std::size_t kPiece = 8192;
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t count = std::min(kPiece, text.size() - done);
    if (done + count < text.size() && IS_HIGH_SURROGATE(text[done + count - 1])) --count;
    DWORD written = 0;
    if (::WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(count), &written, nullptr) == 0 ||
        written == 0) {
      // What the console refused goes through the runtime, where a failure
      // shows in ferror.
      const std::string rest = Utf8(std::wstring_view(text).substr(done));
      std::fwrite(rest.data(), 1, rest.size(), stream);
      return;
    }
    done += written;
  }
}

}  // namespace larkspool
