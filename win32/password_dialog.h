// "password entry": asks for the mailbox password of a protected backup.
#pragma once

#include "desktop/front_end.h"
#include "win32/dialog.h"

namespace larkspool::win32 {

class CPasswordDlg final : public Dialog {
 public:
  CPasswordDlg();

  // The text typed, as the gate checks it once OK was pressed.
  std::string Password() const { return entry_.Password(); }

 private:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCommand(int id, int code) override;

  desktop::PasswordEntry entry_;
};

}  // namespace larkspool::win32
