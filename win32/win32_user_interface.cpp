#include "win32/win32_user_interface.h"

#include "win32/overwrite_dialog.h"
#include "win32/password_dialog.h"
#include "win32/progress_window.h"

namespace larkspool::win32 {
namespace {

// Enter on the progress window: the dialog manager would press the button
// that has the focus, Cancel; a second press of the key that started the run
// does nothing instead.
bool IsRunKey(HWND progress, const MSG& message) {
  const bool enter =
      (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) &&
      (message.wParam == VK_RETURN || message.wParam == '\r');
  return enter && (message.hwnd == progress || IsChild(progress, message.hwnd));
}

}  // namespace

Win32UserInterface::~Win32UserInterface() {
  if (busy_.busy()) WaitCursor::End();
}

HWND Win32UserInterface::TopWindow() const { return progress_ != nullptr ? progress_->hwnd() : mainWindow_; }

void Win32UserInterface::ShowMessage(const Message& message) {
  // The style's bits are the message-box bits: MB_OK with at most one icon.
  MessageBoxW(TopWindow(), Wide(desktop::BoxText(message)).c_str(), Wide(desktop::kCaption).c_str(),
              MB_OK | static_cast<UINT>(message.style));
}

OverwriteAnswer Win32UserInterface::AskOverwrite(const std::string& name) {
  COverwriteDlg prompt(name);
  return desktop::OverwriteAnswerOf(prompt.DoModal(TopWindow()));
}

bool Win32UserInterface::AskYesNo(const std::string& question) {
  return MessageBoxW(TopWindow(), Wide(question).c_str(), Wide(desktop::kCaption).c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<std::string> Win32UserInterface::AskPassword() {
  CPasswordDlg prompt;
  if (prompt.DoModal(TopWindow()) != IDOK) return std::nullopt;
  return prompt.Password();
}

void Win32UserInterface::SetBusy(bool busy) {
  if (!busy_.Change(busy)) return;
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
    pumpedPercent_ = -1;
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
  if (progress_ == nullptr) return;
  progress_->SetPercent(percent, text);
  if (percent == pumpedPercent_) return;
  pumpedPercent_ = percent;
  PumpMessages();
}

void Win32UserInterface::ShowElapsed(const std::string& text) {
  if (progress_ != nullptr) progress_->SetElapsed(text);
}

void Win32UserInterface::PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (progress_ != nullptr && IsRunKey(progress_->hwnd(), message)) continue;
    if (progress_ != nullptr && IsDialogMessageW(progress_->hwnd(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace larkspool::win32
