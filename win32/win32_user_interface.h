// The core's user interface on the system's own windows: message boxes, the
// password and overwrite prompts and the progress window, each modal over the
// window below it.
#pragma once

#include <windows.h>

#include <string>

#include "base/user_interface.h"
#include "desktop/front_end.h"

namespace larkspool::win32 {

class CProgressDlg;

class Win32UserInterface final : public UserInterface {
 public:
  Win32UserInterface() = default;
  Win32UserInterface(const Win32UserInterface&) = delete;
  Win32UserInterface& operator=(const Win32UserInterface&) = delete;
  ~Win32UserInterface() override;

  // The main window, owner of every window a request opens.
  void SetMainWindow(HWND window) { mainWindow_ = window; }

  void ShowMessage(const Message& message) override;
  OverwriteAnswer AskOverwrite(const std::string& name) override;
  std::optional<std::string> AskPassword() override;
  bool AskYesNo(const std::string& question) override;
  void SetBusy(bool busy) override;

  // The progress window is modal and runs the walk inside its start-up.
  bool RunWithProgress(const ProgressLines& lines, CancelFlag& cancel,
                       const std::function<void()>& walk) override;
  // It exists only inside RunWithProgress, so it cannot be opened on its
  // own: OpenProgress reports that, and CloseProgress has nothing to close.
  bool OpenProgress(const ProgressLines& lines, CancelFlag& cancel) override;
  void CloseProgress() override {}
  void ResetProgressBar() override;
  // Also drains the queue whenever the percentage changes, so that the
  // windows keep answering while a large payload is copied; a Cancel still
  // takes effect after the entry.
  void ShowPercent(int percent, const std::string& text) override;
  void ShowElapsed(const std::string& text) override;
  // Keys for the progress window go through the dialog manager: Esc and
  // Alt+C cancel.
  void PumpMessages() override;

 private:
  // The window a new modal window goes over: the progress window while a run
  // shows it, else the main window.
  HWND TopWindow() const;

  HWND mainWindow_ = nullptr;
  CProgressDlg* progress_ = nullptr;
  desktop::BusyFlag busy_;
  // The percentage the queue was last drained at inside a payload.
  int pumpedPercent_ = -1;
};

}  // namespace larkspool::win32
