#include "win32/dpi.h"

#include "win32/resource.h"

namespace larkspool::win32 {

UINT WindowDpi(HWND window) {
  // Looked up at run time: Windows 7 and 8 have no GetDpiForWindow, and the
  // program must still start there.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

int BrowsePictureFor(UINT dpi) {
  if (dpi >= 192) return IDB_BROWSE_200;
  if (dpi >= 144) return IDB_BROWSE_150;
  if (dpi >= 120) return IDB_BROWSE_125;
  return IDB_BROWSE;
}

HBITMAP LoadBrowsePicture(UINT dpi) {
  return LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(BrowsePictureFor(dpi)));
}

}  // namespace larkspool::win32
