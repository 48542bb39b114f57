// What both window drivers need: checks that are counted, the program under
// test, and the finding, reading and pressing of its dialogs' controls, with
// every text in UTF-8.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "builder/backup_builder.h"

namespace larkspool::driver {

inline int failures = 0;
inline DWORD programProcess = 0;  // the program whose windows are searched

inline void Check(bool holds, const std::string& what) {
  std::printf("%s: %s\n", holds ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!holds) ++failures;
}

// Ends the run at once, and the program with it.
[[noreturn]] inline void Abort(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  if (programProcess != 0) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, programProcess);
    if (process != nullptr) TerminateProcess(process, 1);
  }
  std::exit(1);
}

inline std::wstring W(const std::string& utf8) {
  std::wstring out(utf8.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
  return out;
}

inline std::string U(const std::wstring& wide) {
  std::string out(wide.size() * 4 + 1, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out.data(), static_cast<int>(out.size()),
                                    nullptr, nullptr);
  out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
  return out;
}

// The text of a window or control as the program holds it.
inline std::string WideText(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &copied);
  return U(text);
}

inline void SetWideText(HWND dialog, int id, const std::string& utf8) {
  const std::wstring text = W(utf8);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                           SMTO_NORMAL, 5000, &result)) {
    Abort("cannot set the text of control " + std::to_string(id));
  }
}

// The program's first visible top-level window that `wanted` takes, or null.
inline HWND FindProgramWindow(const std::function<bool(HWND)>& wanted) {
  struct Search {
    const std::function<bool(HWND)>* wanted;
    HWND found;
  } search{&wanted, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != programProcess || !IsWindowVisible(window) || !(*s.wanted)(window)) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The same, waited for through `tries` looks 50 ms apart.
inline HWND WaitForWindow(const std::function<bool(HWND)>& wanted, int tries) {
  for (int i = 0; i < tries; ++i) {
    if (HWND found = FindProgramWindow(wanted)) return found;
    Sleep(50);
  }
  return nullptr;
}

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The program's visible dialog whose title passes `title` and that has
// control `marker`.
inline HWND FindDialog(const std::function<bool(const std::string&)>& title, int marker) {
  return FindProgramWindow([&title, marker](HWND window) {
    return ClassOf(window) == "#32770" && title(WideText(window)) && GetDlgItem(window, marker) != nullptr;
  });
}

inline HWND FindDialog(const std::string& title, int marker) {
  return FindDialog([&title](const std::string& text) { return text == title; }, marker);
}

inline HWND WaitFor(const std::string& title, int marker, const std::string& what, int seconds = 30) {
  for (int tries = 0; tries < seconds * 20; ++tries) {
    if (HWND window = FindDialog(title, marker)) {
      Sleep(100);  // let it finish its start-up
      return window;
    }
    Sleep(50);
  }
  Abort("no window came up: " + what);
}

// A click as the button sends it; posted, because it may open modal windows.
inline void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Clicks a button of a prompt or message box and waits until that window has
// gone, so that the next search cannot find it again.
inline void Press(HWND window, int id) {
  Click(window, id);
  for (int tries = 0; tries < 600; ++tries) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return;
    Sleep(50);
  }
  Abort("window stays up after a click on " + std::to_string(id));
}

inline constexpr int kPasswordEdit = 1005;

inline void EnterPassword(const std::string& digits) {
  HWND prompt = WaitFor("password entry", kPasswordEdit, "password prompt");
  SetWideText(prompt, kPasswordEdit, digits);
  Press(prompt, IDOK);
}

inline bool ReadFile(const std::string& path, std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  char chunk[16384];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return true;
}

// The file holds exactly `payload`.
inline bool Holds(const std::string& path, const testing::Bytes& payload) {
  std::string bytes;
  return ReadFile(path, bytes) && bytes == std::string(payload.begin(), payload.end());
}

}  // namespace larkspool::driver
