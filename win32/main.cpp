// Larkspool.exe: the desktop tool on the system's own windows. A start shows
// two empty fields, or the field of the file or folder named on the command
// line ("Open with"); closing the main window ends the program.
// `Larkspool.exe /contents FILE` (or --contents FILE) opens the contents
// window of FILE instead (the backup type's "Browse messages"); without FILE
// it asks for one first.
// <windows.h> first: the other system headers need its types.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
// clang-format on

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "desktop/front_end.h"
#include "desktop/main_window_model.h"
#include "platform/file_system.h"
#include "win32/contents_window.h"
#include "win32/main_window.h"

namespace {

// The arguments after the program's name, in UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments = larkspool::CommandLineArguments();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

// The switch that opens the contents window: "/contents" as Windows programs
// take switches, in any case, or "--contents".
bool IsContentsSwitch(const std::string& argument) {
  if (argument == "--contents") return true;
  if (argument.size() != 9 || argument[0] != '/') return false;
  for (std::size_t i = 1; i < argument.size(); ++i) {
    const char letter =
        argument[i] >= 'A' && argument[i] <= 'Z' ? static_cast<char>(argument[i] - 'A' + 'a') : argument[i];
    if (letter != "/contents"[i]) return false;
  }
  return true;
}

int Run() {
  std::vector<std::string> arguments = Arguments();
  if (!arguments.empty() && IsContentsSwitch(arguments[0])) {
    arguments.erase(arguments.begin());
    std::string backup = larkspool::desktop::StartPath(arguments);
    if (backup.empty()) {
      const std::optional<std::string> chosen = larkspool::win32::AskForBackupFile(nullptr);
      if (!chosen) return 0;
      backup = *chosen;
    }
    return larkspool::win32::ShowContents(larkspool::NativeFileSystem(), nullptr, backup) ? 0 : 1;
  }
  larkspool::win32::CMainDlg window(larkspool::NativeFileSystem(), larkspool::desktop::StartPath(arguments));
  window.DoModal(nullptr);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  INITCOMMONCONTROLSEX controls = {sizeof controls,
                                   ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  // The folder browser is a shell window and wants COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  // A fault an Extract could not catch (no memory outside a request) ends the
  // program with its message instead of silently; the files written stay.
  int status = 0;
  try {
    status = Run();
  } catch (...) {
    const larkspool::Message message = larkspool::desktop::MessageForException(std::current_exception());
    MessageBoxW(nullptr, larkspool::Wide(larkspool::desktop::BoxText(message)).c_str(),
                larkspool::Wide(larkspool::desktop::kCaption).c_str(),
                MB_OK | static_cast<UINT>(message.style));
    status = 1;
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
