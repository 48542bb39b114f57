// The loop both file layers read and write with: a call may move fewer bytes
// than asked, so calls follow one another until every byte has moved, the
// file has ended or a call has failed.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace larkspool {

// Moves `size` bytes with `call(done, count)`, which moves up to `count`
// bytes from `done` bytes on and returns how many, 0 at the end of the file,
// or a negative number with errno set. A call gets at most `most` bytes; one
// cut short by a signal (EINTR) is made again. Returns the bytes moved, or -1
// on an error; with `keepDone`, the bytes moved before an error when there are
// any.
template <typename Call>
std::int64_t TransferAll(std::size_t size, std::size_t most, bool keepDone, Call call) {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t count = size - done < most ? size - done : most;
    const auto n = call(done, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return keepDone && done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace larkspool
