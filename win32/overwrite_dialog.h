// "File already exists. Overwrite?" with Yes, Yes to All and Cancel.
#pragma once

#include <string>

#include "win32/dialog.h"

namespace larkspool::win32 {

class COverwriteDlg final : public Dialog {
 public:
  // The values the window ends with.
  static constexpr INT_PTR kYes = 1;
  static constexpr INT_PTR kCancel = 2;
  static constexpr INT_PTR kYesToAll = 3;

  explicit COverwriteDlg(std::string fileName);

 private:
  bool OnInitDialog() override;
  void OnOK() override { EndDialog(kYes); }
  void OnCancel() override { EndDialog(kCancel); }
  void OnCommand(int id, int code) override;

  std::string m_strFileName;
};

}  // namespace larkspool::win32
