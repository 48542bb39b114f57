// The main window: the backup file and the extraction folder, typed, browsed,
// dropped or named on the command line, and Extract. Closing it ends the
// program.
#pragma once

#include <string>

#include "desktop/main_window_model.h"
#include "win32/dialog.h"
#include "win32/win32_user_interface.h"

namespace larkspool::win32 {

class CMainDlg final : public Dialog {
 public:
  // `startPath`, when not empty, fills the field it belongs to.
  CMainDlg(FileSystem& fs, std::string startPath = {});

 private:
  bool OnInitDialog() override;
  void OnCommand(int id, int code) override;
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  void OnEditChange();
  void OnBrowseFile();
  void OnBrowseFolder();
  void OnExtract();
  // The system menu's "Contents...": the contents window of the backup in
  // the field, or of one chosen in the file dialog when the field is empty.
  void AddContentsCommand();
  void OnContents();
  void OnPaint();
  // Puts the browse picture drawn for `dpi` on both browse buttons.
  void ShowBrowsePicture(UINT dpi);
  void OnDropFiles(HDROP drop);
  // Names the fields and browse buttons for screen readers.
  void NameControls();
  // Shows both paths in their fields.
  void UpdateFields();

  OwnedBitmap m_bmpBrowse;
  HICON m_hIcon;
  Win32UserInterface ui_;
  FileSystem& fs_;
  desktop::MainWindowModel model_;
  std::string startPath_;
};

}  // namespace larkspool::win32
