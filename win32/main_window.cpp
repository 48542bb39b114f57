#include "win32/main_window.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <utility>
#include <vector>

#include "win32/contents_window.h"
#include "win32/dpi.h"
#include "win32/resource.h"

namespace larkspool::win32 {
namespace {

// The longest path the system has; the dialogs return paths of any length.
constexpr DWORD kLongestPath = 32768;

}  // namespace

CMainDlg::CMainDlg(FileSystem& fs, std::string startPath)
    : Dialog(IDD_MAIN),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_LARKSPOOL))),
      fs_(fs),
      model_(fs, ui_),
      startPath_(std::move(startPath)) {}

bool CMainDlg::OnInitDialog() {
  ui_.SetMainWindow(hwnd());
  SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  ShowBrowsePicture(WindowDpi(hwnd()));
  NameControls();
  AddContentsCommand();
  DragAcceptFiles(hwnd(), TRUE);
  if (!startPath_.empty()) {
    model_.TakePath(std::exchange(startPath_, {}));
    UpdateFields();
  }
  return true;
}

void CMainDlg::ShowBrowsePicture(UINT dpi) {
  // The buttons let go of the old picture before it is deleted.
  OwnedBitmap picture(LoadBrowsePicture(dpi));
  SendMessageW(Item(IDC_BROWSE_FILE), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
  SendMessageW(Item(IDC_BROWSE_FOLDER), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
  m_bmpBrowse = std::move(picture);
}

void CMainDlg::AddContentsCommand() {
  // The template stays as it is: the command goes into the system menu.
  HMENU menu = GetSystemMenu(hwnd(), FALSE);
  if (menu == nullptr) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_CONTENTS, L"C&ontents...");
}

void CMainDlg::OnContents() {
  std::string backup = model_.backupFile();
  if (backup.empty()) {
    const std::optional<std::string> chosen = AskForBackupFile(hwnd());
    if (!chosen) return;
    backup = *chosen;
  }
  ShowContents(fs_, hwnd(), backup);
}

void CMainDlg::NameControls() {
  // A screen reader names an edit after the label before it in z-order; the
  // template lists the labels last, so each is moved in front of its edit.
  // The tab order follows the tab stops and stays as it is.
  HWND backupLabel = GetWindow(Item(IDCANCEL), GW_HWNDNEXT);
  HWND folderLabel = backupLabel != nullptr ? GetWindow(backupLabel, GW_HWNDNEXT) : nullptr;
  if (backupLabel != nullptr && folderLabel != nullptr) {
    SetWindowPos(backupLabel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(folderLabel, Item(IDC_BROWSE_FILE), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // The browse buttons show a picture; their text is only read out.
  SetText(Item(IDC_BROWSE_FILE), "Browse for the backup file");
  SetText(Item(IDC_BROWSE_FOLDER), "Browse for the extraction folder");
}

void CMainDlg::OnCommand(int id, int code) {
  if ((id == IDC_BACKUP_FILE || id == IDC_FOLDER) && code == EN_CHANGE) OnEditChange();
  if (code != BN_CLICKED) return;
  if (id == IDC_BROWSE_FILE) OnBrowseFile();
  if (id == IDC_BROWSE_FOLDER) OnBrowseFolder();
  if (id == IDC_EXTRACT) OnExtract();
}

std::optional<INT_PTR> CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == IDM_CONTENTS) {
    OnContents();
    return TRUE;
  }
  // Moved to a monitor of another DPI: the system scales the window, the
  // program swaps the picture.
  if (message == WM_DPICHANGED) ShowBrowsePicture(HIWORD(wParam));
  if (message == WM_PAINT && IsIconic(hwnd())) {
    OnPaint();
    return TRUE;
  }
  if (message == WM_DROPFILES) {
    OnDropFiles(reinterpret_cast<HDROP>(wParam));
    return TRUE;
  }
  // The icon shown while the minimised window is dragged.
  if (message == WM_QUERYDRAGICON) return reinterpret_cast<INT_PTR>(m_hIcon);
  return std::nullopt;
}

void CMainDlg::OnEditChange() {
  model_.OnEditChange(WindowText(Item(IDC_BACKUP_FILE)), WindowText(Item(IDC_FOLDER)));
}

void CMainDlg::UpdateFields() {
  // Each change notifies OnEditChange, which reads back what is shown.
  const std::string backupFile = model_.backupFile();
  const std::string folder = model_.folder();
  SetText(Item(IDC_BACKUP_FILE), backupFile);
  SetText(Item(IDC_FOLDER), folder);
}

void CMainDlg::OnExtract() { model_.OnExtract(); }

void CMainDlg::OnDropFiles(HDROP drop) {
  // The first file or folder dropped.
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring path(length + 1, L'\0');
  const UINT copied = length > 0 ? DragQueryFileW(drop, 0, path.data(), length + 1) : 0;
  DragFinish(drop);
  if (copied == 0) return;
  path.resize(copied);
  model_.TakePath(Utf8(path));
  UpdateFields();
}

void CMainDlg::OnBrowseFile() {
  // Owned by the main window, which takes no input while it is open.
  const std::optional<std::string> chosen = AskForBackupFile(hwnd());
  if (!chosen) return;
  model_.OnFileChosen(*chosen);
  UpdateFields();
}

void CMainDlg::OnBrowseFolder() {
  BROWSEINFOW request = {};
  request.hwndOwner = hwnd();
  request.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&request);
  if (item == nullptr) return;
  // A folder without a file-system path leaves the buffer, and the field, empty.
  std::vector<wchar_t> path(kLongestPath, L'\0');
  if (!SHGetPathFromIDListEx(item, path.data(), kLongestPath, GPFIDL_DEFAULT)) path[0] = L'\0';
  CoTaskMemFree(item);
  model_.OnFolderChosen(Utf8(path.data()));
  UpdateFields();
}

void CMainDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(hwnd(), &paint);
}

}  // namespace larkspool::win32
