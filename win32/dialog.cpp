#include "win32/dialog.h"

#include <algorithm>
#include <utility>

namespace larkspool::win32 {

int WaitCursor::depth_ = 0;

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

void WaitCursor::Begin() {
  ++depth_;
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
}

void WaitCursor::End() {
  if (depth_ > 0 && --depth_ == 0) SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
}

INT_PTR Dialog::DoModal(HWND owner) {
  owner_ = owner;
  ownerDisabled_ = owner != nullptr && IsWindowEnabled(owner);
  if (ownerDisabled_) EnableWindow(owner, FALSE);
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                                         &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
  EnableOwner();  // when the window could not be created
  if (fault_) std::rethrow_exception(std::exchange(fault_, nullptr));
  return result;
}

void Dialog::EndDialog(INT_PTR result) {
  // The owner must be enabled before the window hides, or the activation
  // passes to another program's window.
  EnableOwner();
  ::EndDialog(hwnd_, result);
}

void Dialog::EnableOwner() {
  if (ownerDisabled_) EnableWindow(owner_, TRUE);
  ownerDisabled_ = false;
}

void Dialog::CenterOverOwner() {
  RECT area;
  if (owner_ != nullptr && IsWindowVisible(owner_) && !IsIconic(owner_)) {
    GetWindowRect(owner_, &area);
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT own;
  GetWindowRect(hwnd_, &own);
  const LONG width = own.right - own.left;
  const LONG height = own.bottom - own.top;
  const int x = static_cast<int>(std::max(0L, area.left + (area.right - area.left - width) / 2));
  const int y = static_cast<int>(std::max(0L, area.top + (area.bottom - area.top - height) / 2));
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    reinterpret_cast<Dialog*>(lParam)->hwnd_ = window;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    return FALSE;
  }
  // A handler's exception must not unwind through the system's frames: it
  // ends the window and is thrown again once DialogBoxParamA has returned.
  try {
    return self->Dispatch(message, wParam, lParam);
  } catch (...) {
    self->fault_ = std::current_exception();
    self->EndDialog(-1);
    return TRUE;
  }
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CenterOverOwner();
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDOK && code == BN_CLICKED) {
        OnOK();
      } else if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
      } else {
        OnCommand(id, code);
      }
      return TRUE;
    }
    case WM_SETCURSOR:
      if (!WaitCursor::Active()) break;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      break;
  }
  return OnMessage(message, wParam, lParam).value_or(FALSE);
}

}  // namespace larkspool::win32
