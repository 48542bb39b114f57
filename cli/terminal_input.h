// Low-level terminal input for the prompts: bounded line reads, echo control
// and a SIGINT catcher that only sets a flag.
#pragma once

#include <termios.h>

#include <csignal>
#include <cstddef>
#include <string>

namespace larkspool::cli {

// A line is never read past this many bytes: a longer answer or password is
// simply wrong, and no input can make the program allocate without bound.
inline constexpr std::size_t kMaxLineBytes = 1024;

struct LineRead {
  enum class End { kNewline, kEndOfFile, kLimit, kInterrupted, kError };
  End end = End::kNewline;
  std::string text;  // without the newline and a trailing '\r'
};

// Reads byte by byte so nothing after the newline is consumed. A read cut by
// a signal ends the line as kInterrupted only when InterruptCatcher caught
// SIGINT; otherwise it is retried.
LineRead ReadLine(int fd, std::size_t limit = kMaxLineBytes);

// Turns echo off on a terminal for the lifetime of the object.
class EchoOff {
 public:
  explicit EchoOff(int fd);
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  bool changed_ = false;
  termios saved_{};
};

// While alive, SIGINT only sets a flag. kRestart keeps reads and writes going
// (SA_RESTART); kInterruptReads lets a blocked prompt return. The previous
// disposition comes back on destruction; a SIGINT the parent chose to ignore
// stays ignored. The flag survives nesting and is cleared only by Clear().
class InterruptCatcher {
 public:
  enum class Reads { kRestart, kInterruptReads };
  explicit InterruptCatcher(Reads reads);
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  static bool Caught();
  static void Clear();

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

}  // namespace larkspool::cli
