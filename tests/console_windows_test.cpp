// What larkspool-cli writes on Windows: a console is given text, which it
// shows whatever its code page, and its code page is left alone; a pipe is
// given the UTF-8 bytes themselves.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "builder/backup_builder.h"
#include "platform/windows_text.h"
#include "tests/support/cli_process_windows.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

// "Łódź-表.bkp": outside every ANSI code page but the Unicode one.
const std::string kName =
    "\xC5\x81\xC3\xB3"
    "d\xC5\xBA-\xE8\xA1\xA8.bkp";

void WriteBackups(const ScratchDir& scratch) {
  const Bytes two = BackupBuilder::Single(BackupKind::k3)
                        .Entry("a.wav", WavPayload(100))
                        .Entry("b.wav", WavPayload(50))
                        .bytes();
  const std::wstring path = Wide(scratch.path() + "\\" + kName);
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, two.data(), static_cast<DWORD>(two.size()), &written, nullptr);
  ::CloseHandle(file);
  BackupBuilder::Paired("1234").Entry("a.wav", WavPayload(100)).WriteTo(scratch / "locked.bkp");
  ::CreateDirectoryA((scratch / "out").c_str(), nullptr);
}

TEST(WindowsConsoleTest, OnlyAConsoleIsGivenText) {
  ScratchDir scratch;
  HANDLE file =
      ::CreateFileA((scratch / "out.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  ASSERT_NE(::CreatePipe(&pipeRead, &pipeWrite, nullptr, 0), 0);
  // A character device that the runtime's _isatty takes for a terminal.
  HANDLE nul = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  const struct {
    const char* label;
    HANDLE handle;
  } cases[] = {{"a file", file}, {"a pipe", pipeWrite}, {"NUL", nul}, {"no handle", INVALID_HANDLE_VALUE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(SinkOf(c.handle), TextSink::kBytes);
  }
  for (HANDLE handle : {file, pipeRead, pipeWrite, nul}) ::CloseHandle(handle);
}

TEST(WindowsConsoleTest, APipeGetsTheUtf8BytesThemselves) {
  ScratchDir scratch;
  WriteBackups(scratch);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE pipeRead = nullptr;
  HANDLE pipeWrite = nullptr;
  ASSERT_NE(::CreatePipe(&pipeRead, &pipeWrite, &inherit, 0), 0);
  ::SetHandleInformation(pipeRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(StartCli({"verify", kName}, scratch.path(), nul, pipeWrite, nul, child));
  ::CloseHandle(pipeWrite);
  ::CloseHandle(nul);
  const std::string out = ReadToEnd(pipeRead);
  ::WaitForSingleObject(child.hProcess, 20000);
  ::CloseHandle(pipeRead);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  EXPECT_EQ(out, kName + ": OK, 2 files\r\n");
}

struct ConsoleRun {
  unsigned before = 0;  // the console's output code page before the run
  unsigned during = 0;  // while the awaited text showed
  unsigned after = 0;
  unsigned long status = 0;
  std::string screen;  // UTF-8
};

using CreatePseudoConsoleCall = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE, DWORD, void**);
using ClosePseudoConsoleCall = void(WINAPI*)(void*);

// Runs larkspool-cli in `cwd` on a pseudo console of its own through the
// console host; no value where the system has no pseudo console.
std::optional<ConsoleRun> RunOnConsole(const std::string& cwd, const std::vector<std::string>& args,
                                       const std::string& waitFor) {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto create = reinterpret_cast<CreatePseudoConsoleCall>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "CreatePseudoConsole")));
  const auto close = reinterpret_cast<ClosePseudoConsoleCall>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "ClosePseudoConsole")));
  if (create == nullptr || close == nullptr) return std::nullopt;
  HANDLE inRead = nullptr;
  HANDLE inWrite = nullptr;
  HANDLE outRead = nullptr;
  HANDLE outWrite = nullptr;
  ::CreatePipe(&inRead, &inWrite, nullptr, 0);
  ::CreatePipe(&outRead, &outWrite, nullptr, 0);
  void* console = nullptr;
  if (create(COORD{120, 40}, inRead, outWrite, 0, &console) != S_OK) return std::nullopt;
  // What the pseudo console renders is drained, or it would stall.
  std::thread drain([outRead] {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
    }
  });

  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  ::InitializeProcThreadAttributeList(list, 1, 0, &size);
  // ProcThreadAttributePseudoConsole, as an input value.
  constexpr DWORD_PTR kPseudoConsoleAttribute = 22 | 0x20000;
  ::UpdateProcThreadAttribute(list, 0, kPseudoConsoleAttribute, console, sizeof console, nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.lpAttributeList = list;
  const std::string report = cwd + "\\console-report.txt";
  std::wstring command =
      CommandLine({LARKSPOOL_CONSOLE_HOST_PATH, report, waitFor}) + L" " + CliCommandLine(args);
  PROCESS_INFORMATION host{};
  const BOOL started =
      ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT,
                       nullptr, Wide(cwd).c_str(), &startup.StartupInfo, &host);
  if (started != 0) {
    ::WaitForSingleObject(host.hProcess, 40000);
    ::CloseHandle(host.hThread);
    ::CloseHandle(host.hProcess);
  }
  close(console);
  ::CloseHandle(outWrite);
  drain.join();
  for (HANDLE handle : {inRead, inWrite, outRead}) ::CloseHandle(handle);
  ::DeleteProcThreadAttributeList(list);

  ConsoleRun run;
  FILE* in = std::fopen(report.c_str(), "rb");
  if (in == nullptr) return run;
  if (std::fscanf(in, "%u %u %u %lu\n", &run.before, &run.during, &run.after, &run.status) != 4) run = {};
  char buffer[4096];
  for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    run.screen.append(buffer, got);
  std::fclose(in);
  return run;
}

// Under Wine a pseudo console needs no display; on Windows it is there from
// Windows 10 1809 on.
TEST(WindowsConsoleTest, TheConsoleShowsEveryNameAndKeepsItsCodePage) {
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string waitFor;  // the run is ended when this shows; empty: it runs to its end
    std::string shown;
  };
  const Case cases[] = {
      {"standard output", {"verify", kName}, "", kName + ": OK, 2 files"},
      {"standard error", {"list", "missing-" + kName}, "", "missing-" + kName},
      // Ended at the prompt, as closing the console window ends it.
      {"ended at a prompt",
       {"extract", "locked.bkp", "out"},
       "Enter mailbox password:",
       "Enter mailbox password:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir scratch;
    WriteBackups(scratch);
    const std::optional<ConsoleRun> run = RunOnConsole(scratch.path(), c.args, c.waitFor);
    if (!run) GTEST_SKIP() << "this system has no pseudo console";
    EXPECT_NE(run->screen.find(c.shown), std::string::npos) << run->screen;
    // A console in a code page of its own, which the run never changes.
    EXPECT_NE(run->before, 0u);
    EXPECT_NE(run->before, static_cast<unsigned>(CP_UTF8));
    if (!c.waitFor.empty()) {
      EXPECT_EQ(run->during, run->before);
    }
    EXPECT_EQ(run->after, run->before);
  }
}

}  // namespace
}  // namespace larkspool::testing
