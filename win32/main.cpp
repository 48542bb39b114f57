// Larkspool.exe: the desktop tool on the system's own windows. A start shows
// two empty fields, or the field of the file or folder named on the command
// line ("Open with"); closing the main window ends the program.
// <windows.h> first: the other system headers need its types.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
// clang-format on

#include <exception>
#include <string>
#include <vector>

#include "desktop/front_end.h"
#include "desktop/main_window_model.h"
#include "platform/file_system.h"
#include "win32/main_window.h"

namespace {

// The arguments after the program's name, in UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments = larkspool::CommandLineArguments();
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

int Run() {
  larkspool::win32::CMainDlg window(larkspool::NativeFileSystem(),
                                    larkspool::desktop::StartPath(Arguments()));
  window.DoModal(nullptr);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
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
