// Low-level terminal input for the prompts: bounded line reads, echo control
// and a Ctrl-C catcher that only sets a flag. POSIX terminals and signals in
// terminal_input.cpp, the Windows console in windows_terminal_input.cpp.
#pragma once

#ifndef _WIN32
#include <termios.h>

#include <csignal>
#endif
#include <cstddef>
#include <optional>
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

inline constexpr int kStdinFd = 0;
inline constexpr int kStdoutFd = 1;
inline constexpr int kStderrFd = 2;

// Reads byte by byte so nothing after the newline is consumed. A read cut by
// Ctrl-C ends the line as kInterrupted only when InterruptCatcher caught it;
// otherwise it is retried.
LineRead ReadLine(int fd, std::size_t limit = kMaxLineBytes);
// One byte of a line, for ReadLine: nothing when `byte` holds it, else how
// the line ends. Each platform reads and tells an interruption its own way.
std::optional<LineRead::End> ReadLineByte(int fd, char& byte);

// True when `fd` is the user's terminal (a console on Windows).
bool IsTerminal(int fd);
// Opens the controlling terminal for reading answers while stdin carries
// something else; -1 when there is none. CloseTerminal closes it again.
int OpenTerminal();
void CloseTerminal(int fd);
// Ends the process as an uncaught Ctrl-C would, once the terminal is restored.
void ResendInterrupt();

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
#ifdef _WIN32
  unsigned long savedMode_ = 0;  // the console's input mode
#else
  termios saved_{};
#endif
};

// While alive, Ctrl-C only sets a flag. kRestart keeps reads and writes going
// (SA_RESTART); kInterruptReads lets a blocked prompt return. The previous
// disposition comes back on destruction; a Ctrl-C the parent chose to ignore
// stays ignored. The flag survives nesting and is cleared only by Clear().
// On Windows the console control handler catches Ctrl-C and Ctrl-Break, and
// an interrupted console read always returns.
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
#ifndef _WIN32
  struct sigaction previous_ {};
#endif
  bool installed_ = false;
};

}  // namespace larkspool::cli
