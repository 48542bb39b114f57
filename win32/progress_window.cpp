#include "win32/progress_window.h"

#include <commctrl.h>

#include <utility>

#include "win32/resource.h"

namespace larkspool::win32 {
namespace {

void ShowText(HWND control, const std::string& text, std::string& shown) {
  if (text == shown) return;
  shown = text;
  SetText(control, text);
  // Painted at once: during a long payload the queue is drained only after
  // the entry, and the percentage moves with every chunk.
  UpdateWindow(control);
}

}  // namespace

CProgressDlg::CProgressDlg(const ProgressLines& lines, CancelFlag& cancel,
                           std::function<void(CProgressDlg&)> walk)
    : Dialog(IDD_PROGRESS), lines_(lines), cancel_(cancel), walk_(std::move(walk)) {}

bool CProgressDlg::OnInitDialog() {
  m_pBar = Item(IDC_BAR);
  m_pPercentText = Item(IDC_PERCENT);
  ShowText(m_pPercentText, lines_.percentText, shownPercentText_);
  m_pElapsedText = Item(IDC_ELAPSED);
  ShowText(m_pElapsedText, lines_.elapsedText, shownElapsedText_);
  ShowNameAsItIs(Item(IDC_FILE_LINE));
  SetText(Item(IDC_FILE_LINE), lines_.fileLine);
  SetText(Item(IDC_DATE_LINE), lines_.dateLine);
  ShowWindow(hwnd(), SW_SHOW);
  UpdateWindow(hwnd());

  walk_(*this);
  // Ended before the modal loop starts: DialogBoxParamA returns at once.
  EndDialog(0);
  return true;
}

void CProgressDlg::ResetBar() {
  SendMessageW(m_pBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageW(m_pBar, PBM_SETPOS, 0, 0);
  shownPercent_ = 0;
}

void CProgressDlg::SetPercent(int percent, const std::string& text) {
  if (percent != shownPercent_) {
    shownPercent_ = percent;
    SendMessageW(m_pBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    UpdateWindow(m_pBar);
  }
  ShowText(m_pPercentText, text, shownPercentText_);
}

void CProgressDlg::SetElapsed(const std::string& text) { ShowText(m_pElapsedText, text, shownElapsedText_); }

}  // namespace larkspool::win32
