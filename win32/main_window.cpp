#include "win32/main_window.h"

#include <commdlg.h>
#include <shlobj.h>

#include "win32/dpi.h"
#include "win32/resource.h"

namespace larkspool::win32 {
namespace {

constexpr char kBackupFilter[] =
    "Voice Mail System Admin Backup Files(*.bkp)\0*.bkp\0"
    "All Files(*.*)\0*.*\0";

}  // namespace

CMainDlg::CMainDlg(FileSystem& fs)
    : Dialog(IDD_MAIN),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_LARKSPOOL))),
      extractor_(fs, ui_) {}

bool CMainDlg::OnInitDialog() {
  ui_.SetMainWindow(hwnd());
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  ShowBrowsePicture(WindowDpi(hwnd()));
  return true;
}

void CMainDlg::ShowBrowsePicture(UINT dpi) {
  // The buttons let go of the old picture before it is deleted.
  OwnedBitmap picture(LoadBrowsePicture(dpi));
  SendMessageA(Item(IDC_BROWSE_FILE), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
  SendMessageA(Item(IDC_BROWSE_FOLDER), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
  m_bmpBrowse = std::move(picture);
}

void CMainDlg::OnCommand(int id, int code) {
  if ((id == IDC_BACKUP_FILE || id == IDC_FOLDER) && code == EN_CHANGE) OnEditChange();
  if (code != BN_CLICKED) return;
  if (id == IDC_BROWSE_FILE) OnBrowseFile();
  if (id == IDC_BROWSE_FOLDER) OnBrowseFolder();
  if (id == IDC_EXTRACT) OnExtract();
}

std::optional<INT_PTR> CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  // Moved to a monitor of another DPI: the system scales the window, the
  // program swaps the picture.
  if (message == WM_DPICHANGED) ShowBrowsePicture(HIWORD(wParam));
  if (message == WM_PAINT && IsIconic(hwnd())) {
    OnPaint();
    return TRUE;
  }
  // The icon shown while the minimised window is dragged.
  if (message == WM_QUERYDRAGICON) return reinterpret_cast<INT_PTR>(m_hIcon);
  return std::nullopt;
}

void CMainDlg::OnEditChange() {
  m_strBackupFile = WindowText(Item(IDC_BACKUP_FILE));
  m_strFolder = WindowText(Item(IDC_FOLDER));
}

void CMainDlg::UpdateFields() {
  // Each change notifies OnEditChange, which reads back what is shown.
  const std::string backupFile = m_strBackupFile;
  const std::string folder = m_strFolder;
  SetDlgItemTextA(hwnd(), IDC_BACKUP_FILE, backupFile.c_str());
  SetDlgItemTextA(hwnd(), IDC_FOLDER, folder.c_str());
}

void CMainDlg::OnExtract() { extractor_.OnExtract(m_strBackupFile, m_strFolder); }

void CMainDlg::OnBrowseFile() {
  char file[MAX_PATH] = {};
  OPENFILENAMEA request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.lpstrFilter = kBackupFilter;
  request.lpstrFile = file;
  request.nMaxFile = MAX_PATH;
  request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&request)) return;
  m_strBackupFile = file;
  UpdateFields();
}

void CMainDlg::OnBrowseFolder() {
  BROWSEINFOA request = {};
  request.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&request);
  if (item == nullptr) return;
  // A folder without a file-system path leaves the buffer, and the field, empty.
  char path[MAX_PATH] = {};
  SHGetPathFromIDListA(item, path);
  CoTaskMemFree(item);
  m_strFolder = path;
  UpdateFields();
}

void CMainDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(hwnd(), &paint);
}

}  // namespace larkspool::win32
