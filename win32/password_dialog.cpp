#include "win32/password_dialog.h"

#include "win32/resource.h"

namespace larkspool::win32 {

// Room for one more character than a valid password has, so that a sixteenth
// digit reaches the check and is refused there.
constexpr WPARAM kPasswordLimit = 16;

CPasswordDlg::CPasswordDlg() : Dialog(IDD_PASSWORD) {}

bool CPasswordDlg::OnInitDialog() {
  SetText(Item(IDC_PASSWORD), entry_.text());
  SendMessageW(Item(IDC_PASSWORD), EM_LIMITTEXT, kPasswordLimit, 0);
  return true;
}

void CPasswordDlg::OnCommand(int id, int code) {
  if (id == IDC_PASSWORD && code == EN_CHANGE) entry_.OnEditChange(WindowText(Item(IDC_PASSWORD)));
}

void CPasswordDlg::OnOK() {
  entry_.OnOK(WindowText(Item(IDC_PASSWORD)));
  EndDialog(IDOK);
}

}  // namespace larkspool::win32
