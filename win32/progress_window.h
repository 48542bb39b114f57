// The progress window of a run: the backup's name and date, the elapsed
// time, the percentage and a bar, and Cancel. The walk runs inside the
// window's start-up, once the window shows; the window ends when it returns.
#pragma once

#include <functional>
#include <string>

#include "base/user_interface.h"
#include "win32/dialog.h"

namespace larkspool::win32 {

class CProgressDlg final : public Dialog {
 public:
  // `walk` runs with the window on screen and gets the window to report to.
  CProgressDlg(const ProgressLines& lines, CancelFlag& cancel, std::function<void(CProgressDlg&)> walk);

  void ResetBar();
  void SetPercent(int percent, const std::string& text);
  void SetElapsed(const std::string& text);

 private:
  bool OnInitDialog() override;
  bool ShowsWaitCursor() const override { return true; }
  // Enter does nothing: a second press of the key that started the run must
  // not end it.
  void OnOK() override {}
  // The Cancel button, Esc, Alt+C and the close box: the walk stops after the entry it
  // is writing, and the window stays until then.
  void OnCancel() override { cancel_.Raise(); }

  const ProgressLines& lines_;
  CancelFlag& cancel_;
  std::function<void(CProgressDlg&)> walk_;
  HWND m_pBar = nullptr;
  HWND m_pPercentText = nullptr;
  HWND m_pElapsedText = nullptr;
  // What the controls show, so that a value is painted only when it changes.
  int shownPercent_ = 0;
  std::string shownPercentText_;
  std::string shownElapsedText_;
};

}  // namespace larkspool::win32
