// The progress window of a run: the backup's name and date, the elapsed
// time, the percentage and a bar, and Cancel. The walk runs inside the
// window's start-up, once the window shows; the window ends when it returns.
#pragma once

#include <functional>
#include <string>

#include "base/user_interface.h"
#include "desktop/desktop_ui.h"
#include "win32/dialog.h"

namespace larkspool::win32 {

class CProgressDlg final : public Dialog {
 public:
  // `walk` runs with the window on screen and gets the window to report to;
  // Cancel goes to `run`.
  CProgressDlg(const ProgressLines& lines, desktop::DesktopUi& run, std::function<void(CProgressDlg&)> walk);

  // Paints what changed at once: during a payload the queue is drained only
  // now and then, and the percentage moves with the chunks.
  void Show(const desktop::ProgressChange& change);

 private:
  bool OnInitDialog() override;
  bool ShowsWaitCursor() const override { return true; }
  // Enter reaches the run before the dialog manager; this is what is left of
  // it (a click on no button), and does nothing either.
  void OnOK() override {}
  // The Cancel button, Esc, Alt+C and the close box: the walk stops after the
  // entry it is writing, and the window stays until then.
  void OnCancel() override { run_.OnCancel(); }

  const ProgressLines& lines_;
  desktop::DesktopUi& run_;
  std::function<void(CProgressDlg&)> walk_;
  HWND m_pBar = nullptr;
  HWND m_pPercentText = nullptr;
  HWND m_pElapsedText = nullptr;
};

}  // namespace larkspool::win32
