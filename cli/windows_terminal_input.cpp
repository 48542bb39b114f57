// The prompts' input on the Windows console: echo through the console mode,
// Ctrl-C through the console control handler.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>

#include "cli/terminal_input.h"

namespace larkspool::cli {
namespace {

// The control handler runs on a thread of its own.
std::atomic<bool> g_interrupted{false};

// Signalled by the handler, so a console read that Ctrl-C cut short can wait
// for the handler, which may run a moment after the read returned.
HANDLE InterruptEvent() {
  static const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// How long an interrupted console read waits for the handler to report.
constexpr DWORD kHandlerWaitMs = 500;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  ::SetEvent(InterruptEvent());
  return TRUE;
}

HANDLE ConsoleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

}  // namespace

std::optional<LineRead::End> ReadLineByte(int fd, char& byte) {
  const int got = ::_read(fd, &byte, 1);
  if (got > 0) return std::nullopt;
  // Ctrl-C makes a console read return empty or fail; a pipe's end or error
  // is what it says.
  if (IsTerminal(fd) && (InterruptCatcher::Caught() ||
                         ::WaitForSingleObject(InterruptEvent(), kHandlerWaitMs) == WAIT_OBJECT_0)) {
    return LineRead::End::kInterrupted;
  }
  return got < 0 ? LineRead::End::kError : LineRead::End::kEndOfFile;
}

bool IsTerminal(int fd) {
  // _isatty holds for any character device, NUL included; only a console
  // has a console mode.
  DWORD mode = 0;
  return ::GetConsoleMode(ConsoleOf(fd), &mode) != 0;
}

int OpenTerminal() {
  HANDLE console = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return -1;
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(console), _O_RDONLY | _O_BINARY);
  if (fd < 0) ::CloseHandle(console);
  return fd;
}

void CloseTerminal(int fd) { ::_close(fd); }

void ResendInterrupt() {
  // What the system's own Ctrl-C handler does.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

EchoOff::EchoOff(int fd) : fd_(fd) {
  DWORD mode = 0;
  if (::GetConsoleMode(ConsoleOf(fd_), &mode) == 0) return;
  savedMode_ = mode;
  changed_ = ::SetConsoleMode(ConsoleOf(fd_), mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
  if (changed_) ::SetConsoleMode(ConsoleOf(fd_), static_cast<DWORD>(savedMode_));
}

InterruptCatcher::InterruptCatcher(Reads /*reads*/) {
  // A console read always returns on Ctrl-C; ReadLine tells the cases apart.
  installed_ = ::SetConsoleCtrlHandler(OnControl, TRUE) != 0;
}

InterruptCatcher::~InterruptCatcher() {
  if (installed_) ::SetConsoleCtrlHandler(OnControl, FALSE);
}

bool InterruptCatcher::Caught() { return g_interrupted; }

void InterruptCatcher::Clear() {
  g_interrupted = false;
  ::ResetEvent(InterruptEvent());
}

}  // namespace larkspool::cli
