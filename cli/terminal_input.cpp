#include "cli/terminal_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace larkspool::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) { g_interrupted = 1; }

}  // namespace

std::optional<LineRead::End> ReadLineByte(int fd, char& byte) {
  for (;;) {
    const ssize_t got = ::read(fd, &byte, 1);
    if (got == 1) return std::nullopt;
    if (got == 0) return LineRead::End::kEndOfFile;
    if (errno != EINTR) return LineRead::End::kError;
    if (InterruptCatcher::Caught()) return LineRead::End::kInterrupted;
  }
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

int OpenTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

void CloseTerminal(int fd) { ::close(fd); }

void ResendInterrupt() { std::raise(SIGINT); }

EchoOff::EchoOff(int fd) : fd_(fd) {
  if (::tcgetattr(fd_, &saved_) != 0) return;
  termios quiet = saved_;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  changed_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
}

EchoOff::~EchoOff() {
  if (changed_) ::tcsetattr(fd_, TCSANOW, &saved_);
}

InterruptCatcher::InterruptCatcher(Reads reads) {
  if (::sigaction(SIGINT, nullptr, &previous_) != 0 || previous_.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = reads == Reads::kRestart ? SA_RESTART : 0;
  installed_ = ::sigaction(SIGINT, &action, nullptr) == 0;
}

InterruptCatcher::~InterruptCatcher() {
  if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
}

bool InterruptCatcher::Caught() { return g_interrupted != 0; }

void InterruptCatcher::Clear() { g_interrupted = 0; }

}  // namespace larkspool::cli
