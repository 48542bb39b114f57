#include "win32/win32_user_interface.h"

#include "desktop/front_end.h"
#include "win32/overwrite_dialog.h"
#include "win32/password_dialog.h"
#include "win32/progress_window.h"

namespace larkspool::win32 {
namespace {

// The key a message for the progress window carries, if the run may want it.
std::optional<desktop::Key> KeyOf(const MSG& message) {
  desktop::Key key;
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      // The dialog manager would press the button that has the focus on any
      // of Enter's messages.
      if (message.wParam == VK_RETURN) {
        key.name = desktop::Key::Name::kEnter;
        return key;
      }
      if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
        key.name = desktop::Key::Name::kEscape;
        return key;
      }
      return std::nullopt;
    case WM_SYSCHAR:
      // Alt held: the context bit.
      key.alt = (message.lParam & (LPARAM{1} << 29)) != 0;
      if (message.wParam >= 'a' && message.wParam <= 'z') key.letter = static_cast<char>(message.wParam);
      if (message.wParam >= 'A' && message.wParam <= 'Z')
        key.letter = static_cast<char>(message.wParam - 'A' + 'a');
      return key;
    default:
      return std::nullopt;
  }
}

}  // namespace

Win32UserInterface::~Win32UserInterface() {
  if (waitCursor_) WaitCursor::End();
}

HWND Win32UserInterface::Window(Owner owner) const {
  return owner == Owner::kProgressWindow && progress_ != nullptr ? progress_->hwnd() : mainWindow_;
}

void Win32UserInterface::OpenMessageBox(Owner owner, const Message& message) {
  // The style's bits are the message-box bits: MB_OK with at most one icon.
  MessageBoxW(Window(owner), Wide(desktop::BoxText(message)).c_str(), Wide(desktop::kCaption).c_str(),
              MB_OK | static_cast<UINT>(message.style));
}

long long Win32UserInterface::OpenOverwritePrompt(Owner owner, const std::string& name) {
  COverwriteDlg prompt(name);
  return prompt.DoModal(Window(owner));
}

bool Win32UserInterface::OpenQuestion(Owner owner, const std::string& question) {
  return MessageBoxW(Window(owner), Wide(question).c_str(), Wide(desktop::kCaption).c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<std::string> Win32UserInterface::OpenPasswordPrompt(Owner owner) {
  CPasswordDlg prompt;
  if (prompt.DoModal(Window(owner)) != IDOK) return std::nullopt;
  return prompt.Password();
}

void Win32UserInterface::SetWaitCursor(bool shown) {
  if (shown == waitCursor_) return;
  waitCursor_ = shown;
  if (shown) {
    WaitCursor::Begin();
  } else {
    WaitCursor::End();
  }
}

bool Win32UserInterface::ShowProgressWindow(const ProgressLines& lines,
                                            const std::function<void()>& whileUp) {
  CProgressDlg window(lines, *this, [this, &whileUp](CProgressDlg& shown) {
    progress_ = &shown;
    struct Detach {
      CProgressDlg*& progress;
      ~Detach() { progress = nullptr; }
    } detach{progress_};
    whileUp();
  });
  return window.DoModal(mainWindow_) != -1;
}

void Win32UserInterface::PaintProgress(const desktop::ProgressChange& change) {
  if (progress_ != nullptr) progress_->Show(change);
}

void Win32UserInterface::DispatchWaiting() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (progress_ != nullptr) {
      HWND window = progress_->hwnd();
      if (message.hwnd == window || IsChild(window, message.hwnd)) {
        const std::optional<desktop::Key> key = KeyOf(message);
        if (key && OnProgressKey(*key)) continue;
      }
      if (IsDialogMessageW(window, &message)) continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace larkspool::win32
