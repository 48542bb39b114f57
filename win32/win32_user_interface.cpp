#include "win32/win32_user_interface.h"

#include "win32/overwrite_dialog.h"
#include "win32/password_dialog.h"
#include "win32/progress_window.h"

namespace larkspool::win32 {
namespace {

// The program's name: its file name without folder and extension.
std::string ProgramName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

Win32UserInterface::Win32UserInterface() : caption_(ProgramName()) {}

Win32UserInterface::~Win32UserInterface() {
  if (busy_) WaitCursor::End();
}

HWND Win32UserInterface::TopWindow() const { return progress_ != nullptr ? progress_->hwnd() : mainWindow_; }

void Win32UserInterface::ShowMessage(const Message& message) {
  // The style's bits are the message-box bits: MB_OK with at most one icon.
  MessageBoxA(TopWindow(), message.text.c_str(), caption_.c_str(), MB_OK | static_cast<UINT>(message.style));
}

OverwriteAnswer Win32UserInterface::AskOverwrite(const std::string& name) {
  COverwriteDlg prompt(name);
  switch (prompt.DoModal(TopWindow())) {
    case COverwriteDlg::kYes:
      return OverwriteAnswer::kYes;
    case COverwriteDlg::kYesToAll:
      return OverwriteAnswer::kYesToAll;
    default:  // Cancel, or a prompt that could not be shown
      return OverwriteAnswer::kCancel;
  }
}

std::optional<std::string> Win32UserInterface::AskPassword() {
  CPasswordDlg prompt;
  if (prompt.DoModal(TopWindow()) != IDOK) return std::nullopt;
  return prompt.m_strPassword.substr(0, static_cast<std::size_t>(prompt.m_nPasswordLength));
}

void Win32UserInterface::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    WaitCursor::Begin();
  } else {
    WaitCursor::End();
  }
}

bool Win32UserInterface::RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                                         const std::function<void()>& walk) {
  CProgressDlg window(lines, cancel, [this, &walk](CProgressDlg& shown) {
    progress_ = &shown;
    struct Detach {
      CProgressDlg*& progress;
      ~Detach() { progress = nullptr; }
    } detach{progress_};
    walk();
  });
  return window.DoModal(mainWindow_) != -1;
}

bool Win32UserInterface::OpenProgress(const ProgressLines& /*lines*/, CancelFlag& /*cancel*/) {
  return false;
}

void Win32UserInterface::ResetProgressBar() {
  if (progress_ != nullptr) progress_->ResetBar();
}

void Win32UserInterface::ShowPercent(int percent, const std::string& text) {
  if (progress_ != nullptr) progress_->SetPercent(percent, text);
}

void Win32UserInterface::ShowElapsed(const std::string& text) {
  if (progress_ != nullptr) progress_->SetElapsed(text);
}

void Win32UserInterface::PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace larkspool::win32
