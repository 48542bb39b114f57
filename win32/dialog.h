// A small layer over the system's modal dialogs: one dialog procedure for
// every window, the object reached through the window's user data from
// WM_INITDIALOG to WM_NCDESTROY, and the handles a window owns held in RAII
// types.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/windows_text.h"

namespace larkspool::win32 {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using OwnedBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

// The text of a window or control, in UTF-8.
std::string WindowText(HWND window);
void SetText(HWND window, std::string_view text);

// The wait cursor over the windows of a run while it works (see
// Dialog::ShowsWaitCursor). Runs may nest; the arrow comes back when the
// outermost one ends.
class WaitCursor {
 public:
  static void Begin();
  static void End();
  static bool Active() { return depth_ > 0; }

 private:
  static int depth_;
};

// A text control that shows a name: "&" is a character, not a mnemonic, and
// a text too long for the control ends in an ellipsis.
void ShowNameAsItIs(HWND control);

// A modal dialog made from a dialog template of the program's resources.
class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog() = default;

  // Shows the window over `owner` (none for a top-level window) and returns
  // the value it ended with, or -1 when it cannot be created. The owner is
  // disabled before the window is created, so it takes no input even while
  // the window's start-up runs, and enabled again as the window ends.
  INT_PTR DoModal(HWND owner);

  HWND hwnd() const { return hwnd_; }

 protected:
  // Whether the window's own area shows the wait cursor while a run works:
  // the windows of the run do, a prompt never does, and a button never does.
  virtual bool ShowsWaitCursor() const { return false; }
  void EndDialog(INT_PTR result);
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  // True lets the system put the focus on the first tab stop.
  virtual bool OnInitDialog() { return true; }
  virtual void OnOK() { EndDialog(IDOK); }
  // The Esc key and the close box as well as a button with the id IDCANCEL.
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  virtual void OnCommand(int /*id*/, int /*code*/) {}
  // Any other message; a value is returned from the dialog procedure as is.
  virtual std::optional<INT_PTR> OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return std::nullopt;
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void CenterOverOwner();
  bool SetCursorFor(HWND under, int hitTest);
  void EnableOwner();

  int templateId_;
  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  bool ownerDisabled_ = false;
  // A fault thrown by a handler, carried past the system's frames.
  std::exception_ptr fault_;
};

}  // namespace larkspool::win32
