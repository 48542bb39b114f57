#include "win32/overwrite_dialog.h"

#include <utility>

#include "win32/resource.h"

namespace larkspool::win32 {

COverwriteDlg::COverwriteDlg(std::string fileName)
    : Dialog(IDD_OVERWRITE), m_strFileName(std::move(fileName)) {}

bool COverwriteDlg::OnInitDialog() {
  ShowNameAsItIs(Item(IDC_FILE_NAME));
  SetText(Item(IDC_FILE_NAME), m_strFileName);
  return true;
}

void COverwriteDlg::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  // Cancel has an id of its own, not IDCANCEL; Esc and the close box reach
  // OnCancel and end the same way.
  if (id == IDC_YES_TO_ALL) EndDialog(desktop::kOverwriteYesToAll);
  if (id == IDC_OVERWRITE_CANCEL) EndDialog(desktop::kOverwriteCancel);
}

}  // namespace larkspool::win32
