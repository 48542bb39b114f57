#include "win32/progress_window.h"

#include <commctrl.h>

#include <utility>

#include "win32/resource.h"

namespace larkspool::win32 {

CProgressDlg::CProgressDlg(const ProgressLines& lines, desktop::DesktopUi& run,
                           std::function<void(CProgressDlg&)> walk)
    : Dialog(IDD_PROGRESS), lines_(lines), run_(run), walk_(std::move(walk)) {}

bool CProgressDlg::OnInitDialog() {
  m_pBar = Item(IDC_BAR);
  SendMessageW(m_pBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  m_pPercentText = Item(IDC_PERCENT);
  SetText(m_pPercentText, lines_.percentText);
  m_pElapsedText = Item(IDC_ELAPSED);
  SetText(m_pElapsedText, lines_.elapsedText);
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

void CProgressDlg::Show(const desktop::ProgressChange& change) {
  if (change.bar) {
    SendMessageW(m_pBar, PBM_SETPOS, static_cast<WPARAM>(*change.bar), 0);
    UpdateWindow(m_pBar);
  }
  if (change.percent) {
    SetText(m_pPercentText, *change.percent);
    UpdateWindow(m_pPercentText);
  }
  if (change.elapsed) {
    SetText(m_pElapsedText, *change.elapsed);
    UpdateWindow(m_pElapsedText);
  }
}

}  // namespace larkspool::win32
