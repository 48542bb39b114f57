// "File already exists. Overwrite?" with Yes, Yes to All and Cancel.
#pragma once

#include <string>

#include "desktop/front_end.h"
#include "win32/dialog.h"

namespace larkspool::win32 {

class COverwriteDlg final : public Dialog {
 public:
  explicit COverwriteDlg(std::string fileName);

 private:
  bool OnInitDialog() override;
  // The window ends with the number of the answer.
  void OnOK() override { EndDialog(desktop::kOverwriteYes); }
  void OnCancel() override { EndDialog(desktop::kOverwriteCancel); }
  void OnCommand(int id, int code) override;

  std::string m_strFileName;
};

}  // namespace larkspool::win32
