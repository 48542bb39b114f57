#include "tests/support/cli_process_windows.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/windows_text.h"
#include "tests/support/cli_process.h"

namespace larkspool::testing {
namespace {

// One argument as the C runtime parses it back: in quotes, with a quote
// escaped and the backslashes before a quote doubled.
std::string Quoted(const std::string& arg) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string Hex(DWORD value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(value));
  return text;
}

// A temporary file the child inherits, deleted when the last handle closes.
HANDLE TemporaryFile() {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (::GetTempPathA(MAX_PATH, folder) == 0 || ::GetTempFileNameA(folder, "cli", 0, path) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// The test's own answer to the Ctrl-C it sends: it goes on. (Ignoring Ctrl-C
// with no handler would pass the ignoring on to the child.)
BOOL WINAPI IgnoreControl(DWORD /*type*/) { return TRUE; }

std::string ReadBack(HANDLE file) {
  ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  const std::string text = ReadToEnd(file);
  ::CloseHandle(file);
  // The program writes text: its lines end in CR LF on Windows.
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  }
  return lines;
}

}  // namespace

std::wstring CommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += Quoted(word);
  }
  // The arguments are UTF-8 and reach the program as UTF-16, as a shell
  // hands them on.
  return Wide(line);
}

std::wstring CliCommandLine(const std::vector<std::string>& args) {
  std::vector<std::string> words{LARKSPOOL_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  return CommandLine(words);
}

bool StartCli(const std::vector<std::string>& args, const std::string& cwd, HANDLE in, HANDLE out, HANDLE err,
              PROCESS_INFORMATION& child, DWORD creationFlags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring commandLine = CliCommandLine(args);
  return ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, creationFlags, nullptr,
                          Wide(cwd).c_str(), &startup, &child) != 0;
}

std::string ReadToEnd(HANDLE file) {
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) text.append(buffer, got);
  return text;
}

namespace {

// The child is detached from the console, so it has no console to prompt on;
// a run that hangs is killed after 20 seconds. With `interruptWhen`, the
// child shares a console of the test's own instead, and gets Ctrl-C on it as
// soon as `interruptWhen` holds.
Process Run(const std::vector<std::string>& args, const std::string& cwd,
            const std::optional<std::string>& input, const std::function<bool()>& interruptWhen = {}) {
  HANDLE in = INVALID_HANDLE_VALUE;
  if (input) {
    in = TemporaryFile();
    DWORD written = 0;
    ::WriteFile(in, input->data(), static_cast<DWORD>(input->size()), &written, nullptr);
    ::SetFilePointer(in, 0, nullptr, FILE_BEGIN);
  } else {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                       nullptr);
  }
  HANDLE out = TemporaryFile();
  HANDLE err = TemporaryFile();
  PROCESS_INFORMATION child{};
  Process run;
  std::string why;
  if (interruptWhen) {
    // A console of its own to share: the one Wine gives a program started
    // from a shell cannot send Ctrl-C.
    ::FreeConsole();
    if (::AllocConsole() == 0)
      why += "AllocConsole failed with error " + std::to_string(::GetLastError()) + "\n";
    ::SetConsoleCtrlHandler(IgnoreControl, TRUE);
  }
  // A start that fails is tried twice more; the errors go into the output,
  // so that a failure names its cause.
  bool started = false;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    started = StartCli(args, cwd, in, out, err, child, interruptWhen ? DWORD{0} : DETACHED_PROCESS);
    if (!started) why += "CreateProcess failed with error " + std::to_string(::GetLastError()) + "\n";
  }
  if (started) {
    if (interruptWhen) {
      const ULONGLONG deadline = ::GetTickCount64() + kCliTimeoutSeconds * 1000ULL;
      while (!interruptWhen() && ::GetTickCount64() < deadline &&
             ::WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT) {
        ::Sleep(1);
      }
      if (::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
        why += "GenerateConsoleCtrlEvent failed with error " + std::to_string(::GetLastError()) + "\n";
      }
    }
    if (::WaitForSingleObject(child.hProcess, kCliTimeoutSeconds * 1000) != WAIT_OBJECT_0) {
      ::TerminateProcess(child.hProcess, STATUS_TIMEOUT);
      ::WaitForSingleObject(child.hProcess, INFINITE);
    }
    DWORD code = 0;
    // An exit through an exception or Ctrl-C leaves an NTSTATUS, not a status.
    if (::GetExitCodeProcess(child.hProcess, &code) == 0) {
      why += "no exit code\n";
    } else if (code <= 255) {
      run.status = static_cast<int>(code);
    } else {
      why += "ended with 0x" + Hex(code) + "\n";
    }
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  }
  if (interruptWhen) ::SetConsoleCtrlHandler(IgnoreControl, FALSE);
  ::CloseHandle(in);
  run.out = ReadBack(out);
  run.err = ReadBack(err) + why;
  return run;
}

}  // namespace

Process RunCli(const std::vector<std::string>& args, const std::string& cwd,
               const std::optional<std::string>& input) {
  return Run(args, cwd, input);
}

Process RunCliInterrupted(const std::vector<std::string>& args, const std::string& cwd,
                          const std::function<bool()>& ready) {
  return Run(args, cwd, std::nullopt, ready);
}

}  // namespace larkspool::testing
