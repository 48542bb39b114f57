// Larkspool.exe: the desktop tool on the system's own windows. Every start
// shows two empty fields; closing the main window ends the program.
// <windows.h> first: the other system headers need its types.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
// clang-format on

#include "platform/file_system.h"
#include "win32/main_window.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // The folder browser is a shell window and wants COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  larkspool::win32::CMainDlg window(larkspool::NativeFileSystem());
  window.DoModal(nullptr);

  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
