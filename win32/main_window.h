// The main window: the backup file and the extraction folder, typed or
// browsed, and Extract. Closing it ends the program.
#pragma once

#include <string>

#include "app/extract_request.h"
#include "win32/dialog.h"
#include "win32/win32_user_interface.h"

namespace larkspool::win32 {

class CMainDlg final : public Dialog {
 public:
  explicit CMainDlg(FileSystem& fs);

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  void OnEditChange();
  void OnBrowseFile();
  void OnBrowseFolder();
  void OnExtract();
  void OnPaint();
  // Puts the browse picture drawn for `dpi` on both browse buttons.
  void ShowBrowsePicture(UINT dpi);
  // Shows both members in their fields.
  void UpdateFields();

  std::string m_strBackupFile;  // always equal to the backup field
  std::string m_strFolder;      // always equal to the folder field
  OwnedBitmap m_bmpBrowse;
  HICON m_hIcon;
  Win32UserInterface ui_;
  Extractor extractor_;
};

}  // namespace larkspool::win32
