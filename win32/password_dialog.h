// "password entry": asks for the mailbox password of a protected backup.
#pragma once

#include <string>

#include "win32/dialog.h"

namespace larkspool::win32 {

class CPasswordDlg final : public Dialog {
 public:
  CPasswordDlg();

  std::string m_strPassword;  // follows the edit as the user types
  int m_nPasswordLength = 0;  // the length when OK was pressed

 private:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCommand(int id, int code) override;
};

}  // namespace larkspool::win32
