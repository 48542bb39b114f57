#include "win32/dialog.h"

#include <algorithm>
#include <utility>

#include "desktop/front_end.h"

namespace larkspool::win32 {

int WaitCursor::depth_ = 0;

std::string WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return Utf8(text);
}

void SetText(HWND window, std::string_view text) { SetWindowTextW(window, Wide(text).c_str()); }

void ShowNameAsItIs(HWND control) {
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOPREFIX | SS_ENDELLIPSIS);
  // A control that reaches past its window's edge would hide the ellipsis
  // there: it ends as far from the right edge as it starts from the left.
  HWND window = GetParent(control);
  RECT client;
  RECT own;
  GetClientRect(window, &client);
  GetWindowRect(control, &own);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&own), 2);
  const LONG fits = client.right - 2 * own.left;
  if (own.right > client.right - own.left && fits > 0) {
    SetWindowPos(control, nullptr, 0, 0, fits, own.bottom - own.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void WaitCursor::Begin() { ++depth_; }

void WaitCursor::End() {
  if (depth_ > 0) --depth_;
}

INT_PTR Dialog::DoModal(HWND owner) {
  owner_ = owner;
  ownerDisabled_ = owner != nullptr && IsWindowEnabled(owner);
  if (ownerDisabled_) EnableWindow(owner, FALSE);
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner,
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
  const bool overOwner = owner_ != nullptr && IsWindowVisible(owner_) && !IsIconic(owner_);
  // The work area of the owner's monitor, which may lie left of or above the
  // primary one (negative coordinates); without an owner, the primary one's.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(overOwner ? MonitorFromWindow(owner_, MONITOR_DEFAULTTONEAREST)
                            : MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY),
                  &monitor);
  const RECT& work = monitor.rcWork;
  RECT area = work;
  if (overOwner) GetWindowRect(owner_, &area);
  RECT own;
  GetWindowRect(hwnd_, &own);
  const desktop::Point origin =
      desktop::CentredOrigin({area.left, area.top, area.right, area.bottom}, own.right - own.left,
                             own.bottom - own.top, {work.left, work.top, work.right, work.bottom});
  SetWindowPos(hwnd_, nullptr, static_cast<int>(origin.x), static_cast<int>(origin.y), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Dialog::SetCursorFor(HWND under, int hitTest) {
  if (!WaitCursor::Active() || !ShowsWaitCursor() || hitTest != HTCLIENT) return false;
  wchar_t windowClass[16] = {};
  GetClassNameW(under, windowClass, 16);
  if (lstrcmpiW(windowClass, L"Button") == 0) return false;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
  return true;
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<Dialog*>(lParam)->hwnd_ = window;
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
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
      if (!SetCursorFor(reinterpret_cast<HWND>(wParam), LOWORD(lParam))) break;
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      break;
  }
  return OnMessage(message, wParam, lParam).value_or(FALSE);
}

}  // namespace larkspool::win32
