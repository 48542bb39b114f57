// The display's scale, for the pictures the templates do not scale: the
// program declares itself per-monitor DPI aware (the manifest), so the system
// lays the dialogs out at each monitor's DPI and the program picks pictures
// drawn for it.
#pragma once

#include <windows.h>

namespace larkspool::win32 {

// The DPI `window` is shown at: its monitor's where the system tells it per
// window (Windows 10 1607 and later), else the system's (96 = 100 %).
UINT WindowDpi(HWND window);

// The browse button picture drawn for `dpi`: the largest of the 100, 125, 150
// and 200 % sizes that does not exceed it, so it never spills off the button.
int BrowsePictureFor(UINT dpi);

// Loads the browse picture for `dpi`; the caller owns it.
HBITMAP LoadBrowsePicture(UINT dpi);

}  // namespace larkspool::win32
