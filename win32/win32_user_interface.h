// The core's user interface on the system's own windows: message boxes, the
// password and overwrite prompts and the progress window. What a run does
// with them (owners, the wait cursor, the pumps, the keys) is DesktopUi's.
#pragma once

#include <windows.h>

#include <string>

#include "desktop/desktop_ui.h"

namespace larkspool::win32 {

class CProgressDlg;

class Win32UserInterface final : public desktop::DesktopUi {
 public:
  Win32UserInterface() = default;
  Win32UserInterface(const Win32UserInterface&) = delete;
  Win32UserInterface& operator=(const Win32UserInterface&) = delete;
  ~Win32UserInterface() override;

  // The main window, owner of every window a request opens.
  void SetMainWindow(HWND window) { mainWindow_ = window; }

 private:
  void OpenMessageBox(Owner owner, const Message& message) override;
  bool OpenQuestion(Owner owner, const std::string& question) override;
  long long OpenOverwritePrompt(Owner owner, const std::string& name) override;
  std::optional<std::string> OpenPasswordPrompt(Owner owner) override;
  void SetWaitCursor(bool shown) override;
  // The progress window is modal and runs the walk inside its start-up.
  bool ShowProgressWindow(const ProgressLines& lines, const std::function<void()>& whileUp) override;
  void PaintProgress(const desktop::ProgressChange& change) override;
  // Keys for the progress window go to the run first, then through the
  // dialog manager.
  void DispatchWaiting() override;

  HWND Window(Owner owner) const;

  HWND mainWindow_ = nullptr;
  CProgressDlg* progress_ = nullptr;
  bool waitCursor_ = false;
};

}  // namespace larkspool::win32
