#include "cli/terminal_input.h"

namespace larkspool::cli {

LineRead ReadLine(int fd, std::size_t limit) {
  LineRead line;
  for (;;) {
    if (line.text.size() >= limit) {
      line.end = LineRead::End::kLimit;
      break;
    }
    char byte = 0;
    if (const std::optional<LineRead::End> end = ReadLineByte(fd, byte)) {
      line.end = *end;
      break;
    }
    if (byte == '\n') break;
    line.text += byte;
  }
  if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
  return line;
}

}  // namespace larkspool::cli
