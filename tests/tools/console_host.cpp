// A console for the console tests: runs a command on the console this
// program was started on (a pseudo console, which needs no display), then
// reports what the screen shows and the console's output code page.
//
//   larkspool_console_host REPORT WAIT_FOR PROGRAM [ARGUMENT...]
//
// With WAIT_FOR empty the command runs to its end. Otherwise the command is
// ended, as closing the console window would end it, as soon as WAIT_FOR
// shows on the screen. REPORT (UTF-8) gets one line "BEFORE DURING AFTER
// STATUS" (the output code page before the command, while WAIT_FOR showed,
// and after the command; its exit status), then the screen's lines.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/windows_text.h"

namespace {

constexpr DWORD kTimeoutMs = 20000;

std::wstring Screen(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(console, &info) == 0) return L"";
  std::wstring screen;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD got = 0;
    ::ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(info.dwSize.X), COORD{0, y}, &got);
    line.resize(got);
    while (!line.empty() && line.back() == L' ') line.pop_back();
    screen += line + L"\n";
  }
  return screen;
}

HANDLE OpenConsole(const wchar_t* name) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 64;
  const std::wstring waitFor = argv[2];
  // The tests' arguments hold no quote and end in no backslash.
  std::wstring commandLine;
  for (int i = 3; i < argc; ++i) commandLine += std::wstring(i > 3 ? L" \"" : L"\"") + argv[i] + L"\"";
  // The console's own handles, so the command finds a console on its
  // standard handles whoever started this program.
  HANDLE output = OpenConsole(L"CONOUT$");
  HANDLE input = OpenConsole(L"CONIN$");
  if (output == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE) return 69;
  const UINT before = ::GetConsoleOutputCP();
  UINT during = 0;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION child{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &child) == 0) {
    return 70;
  }
  if (waitFor.empty()) {
    ::WaitForSingleObject(child.hProcess, kTimeoutMs);
  } else {
    for (DWORD waited = 0; waited < kTimeoutMs; waited += 50) {
      if (Screen(output).find(waitFor) != std::wstring::npos) break;
      if (::WaitForSingleObject(child.hProcess, 50) == WAIT_OBJECT_0) break;
    }
    during = ::GetConsoleOutputCP();
  }
  // Still running: ended as the system ends a program whose console closes.
  ::TerminateProcess(child.hProcess, STATUS_CONTROL_C_EXIT);
  ::WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(child.hProcess, &status);
  const UINT after = ::GetConsoleOutputCP();

  FILE* report = ::_wfopen(argv[1], L"wb");
  if (report == nullptr) return 73;
  std::fprintf(report, "%u %u %u %lu\n", before, during, after, static_cast<unsigned long>(status));
  const std::string screen = larkspool::Utf8(Screen(output));
  std::fwrite(screen.data(), 1, screen.size(), report);
  std::fclose(report);
  return 0;
}
