#include "win32/contents_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "desktop/contents_model.h"
#include "desktop/player.h"
#include "win32/dialog.h"
#include "win32/resource.h"
#include "win32/wave_output.h"
#include "win32/win32_user_interface.h"

namespace larkspool::win32 {
namespace {

constexpr wchar_t kBackupFilter[] =
    L"Voice Mail System Admin Backup Files(*.bkp)\0*.bkp\0"
    L"All Files(*.*)\0*.*\0";

// The longest path the system has; the dialogs return paths of any length.
constexpr DWORD kLongestPath = 32768;

// The slider's steps from the start of a message to its end.
constexpr int kSliderSteps = 1000;
// How often the position and the end of playback are looked at.
constexpr UINT kTickMilliseconds = 50;
constexpr UINT_PTR kTickTimer = 1;
// Posted to the window once the system has laid it out for a new DPI.
constexpr UINT kRecordLayout = WM_APP + 1;

// Each column's width in dialog units and whether its text is a number
// (right-aligned).
struct ColumnLayout {
  int width;
  bool number;
};
constexpr std::array<ColumnLayout, desktop::kContentsColumns> kColumns = {{
    {140, false},  // Name: at least half of this, else what the others leave
    {45, true},    // Duration
    {50, true},    // Size
    {70, false},   // Format
    {50, true},    // Sample rate
    {45, false},   // State, of a damaged backup's rows
}};

using OwnedFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

// How a control follows the window's size: which of its edges keep their
// distance to the right and bottom edges of the window.
struct Anchor {
  int id;
  bool left;    // its left edge moves with the right edge
  bool right;   // its right edge moves with the right edge
  bool top;     // its top edge moves with the bottom edge
  bool bottom;  // its bottom edge moves with the bottom edge
};
constexpr std::array<Anchor, 14> kAnchors = {{
    {IDC_FILTER_LABEL, false, false, false, false},
    {IDC_FILTER, false, true, false, false},
    {IDC_LIST_LABEL, false, false, false, false},
    {IDC_LIST, false, true, false, true},
    {IDC_DAMAGE, false, true, true, true},
    {IDC_PLAY, false, false, true, true},
    {IDC_POSITION_LABEL, false, false, true, true},
    {IDC_POSITION, false, true, true, true},
    {IDC_TIME, true, true, true, true},
    {IDC_STATUS, false, true, true, true},
    {IDC_EXTRACT_SELECTED, false, false, true, true},
    {IDC_EXTRACT_ALL, false, false, true, true},
    {IDC_VERIFY, false, false, true, true},
    {IDCANCEL, true, true, true, true},
}};

// The system's folder dialog; nothing when it is cancelled or the folder has
// no file-system path.
std::optional<std::string> AskForFolder(HWND owner) {
  BROWSEINFOW request = {};
  request.hwndOwner = owner;
  request.lpszTitle = L"Extract the messages into this folder:";
  request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&request);
  if (item == nullptr) return std::nullopt;
  std::vector<wchar_t> path(kLongestPath, L'\0');
  const bool named = SHGetPathFromIDListEx(item, path.data(), kLongestPath, GPFIDL_DEFAULT) != FALSE;
  CoTaskMemFree(item);
  if (!named || path[0] == L'\0') return std::nullopt;
  return Utf8(path.data());
}

// waveOut behind the player's output.
class WaveAudioOutput final : public desktop::AudioOutput {
 public:
  bool Start(const PcmAudio& audio, std::uint64_t from) override {
    return wave_.Start(audio.samples, audio.format.channels, audio.format.sampleRate, from);
  }
  void Stop() override { wave_.Stop(); }
  std::uint64_t FramesPlayed() const override { return wave_.FramesPlayed(); }
  bool IsPlaying() const override { return wave_.Playing(); }
  Fault fault() const override {
    switch (wave_.fault()) {
      case WaveOutput::Fault::kNoDevice:
        return Fault::kNoDevice;
      case WaveOutput::Fault::kDeviceLost:
        return Fault::kDeviceLost;
      case WaveOutput::Fault::kNone:
        break;
    }
    return Fault::kNone;
  }
  std::string FaultReason() const override { return wave_.FaultDetail(); }

 private:
  WaveOutput wave_;
};

class CContentsDlg final : public Dialog {
 public:
  CContentsDlg(desktop::ContentsModel& model, desktop::Player& player, Win32UserInterface& ui)
      : Dialog(IDD_CONTENTS),
        icon_(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_LARKSPOOL))),
        model_(model),
        player_(player),
        ui_(ui) {}

 private:
  bool OnInitDialog() override;
  // Enter: plays the row in focus when the list has the focus, and does
  // nothing elsewhere (the window is closed with Close or Esc only).
  void OnOK() override;
  void OnCancel() override;
  void OnCommand(int id, int code) override;
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  HWND List() const { return Item(IDC_LIST); }
  void AddColumns();
  void SetUpLayout();
  // The client size and the controls' places the anchors start from: as
  // laid out now.
  void RecordLayout();
  // Selects exactly the rows showing `entries`; the row showing `focused`
  // gets the focus.
  void SelectEntries(const std::vector<std::size_t>& entries, std::optional<std::size_t> focused);
  void Layout();
  LRESULT OnListNotify(NMHDR& header);
  void OnFilterChange();
  void OnColumnClick(int column);
  void ShowRows();
  std::vector<std::size_t> SelectedRows() const;
  // The row Play starts: the focused one, else the first selected, else the
  // first.
  std::optional<std::size_t> RowToPlay() const;
  void PlayOrStop();
  void Play(std::size_t row);
  void OnSlider(int code);
  void ShowPlayback();
  void ShowStatus();
  void OnExtractSelected();
  void OnExtractAll();
  void OnVerify();
  // Space plays or stops wherever the list or the slider has the focus.
  static LRESULT CALLBACK KeyFilter(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data);

  HICON icon_;
  desktop::ContentsModel& model_;
  desktop::Player& player_;
  Win32UserInterface& ui_;
  int sortColumn_ = -1;
  bool sortAscending_ = true;
  bool dragging_ = false;
  bool playingShown_ = false;
  bool ticking_ = false;
  std::string timeShown_;
  // The entry drawn in bold, as playing, and the font it is drawn in.
  std::optional<std::size_t> boldEntry_;
  OwnedFont boldFont_;
  // The client size and control rectangles the anchors start from.
  SIZE baseClient_ = {};
  SIZE minimumWindow_ = {};
  std::array<RECT, kAnchors.size()> baseRects_ = {};
};

bool CContentsDlg::OnInitDialog() {
  ui_.SetMainWindow(hwnd());
  SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetText(hwnd(), model_.Title());
  SendMessageW(Item(IDC_POSITION), TBM_SETRANGE, TRUE, MAKELPARAM(0, kSliderSteps));
  SendMessageW(Item(IDC_POSITION), TBM_SETPAGESIZE, 0, kSliderSteps / 20);
  SendMessageW(Item(IDC_POSITION), TBM_SETLINESIZE, 0, kSliderSteps / 100);
  SetWindowSubclass(List(), &CContentsDlg::KeyFilter, 0, reinterpret_cast<DWORD_PTR>(this));
  SetWindowSubclass(Item(IDC_POSITION), &CContentsDlg::KeyFilter, 0, reinterpret_cast<DWORD_PTR>(this));
  AddColumns();
  LOGFONTW font = {};
  const auto listFont = reinterpret_cast<HFONT>(SendMessageW(List(), WM_GETFONT, 0, 0));
  if (listFont != nullptr && GetObjectW(listFont, sizeof font, &font) == sizeof font) {
    font.lfWeight = FW_BOLD;
    boldFont_.reset(CreateFontIndirectW(&font));
  }
  SetUpLayout();
  ShowRows();
  ShowPlayback();
  // The list starts with the focus and its first row focused, so Space and
  // Enter play at once.
  if (model_.size() > 0) {
    LVITEMW state = {};
    state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    state.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageW(List(), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  }
  SetFocus(List());
  return false;
}

void CContentsDlg::AddColumns() {
  SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // The name takes what the other columns leave of the list's width.
  const auto columns = static_cast<std::size_t>(model_.columnCount());
  RECT others = {0, 0, 0, 0};
  for (std::size_t i = 1; i < columns; ++i) others.right += kColumns[i].width;
  MapDialogRect(hwnd(), &others);
  RECT list;
  GetClientRect(List(), &list);
  const int nameWidth = list.right - others.right - GetSystemMetrics(SM_CXVSCROLL) - 4;
  for (std::size_t i = 0; i < columns; ++i) {
    RECT width = {0, 0, kColumns[i].width, 0};
    MapDialogRect(hwnd(), &width);
    if (i == 0) width.right = std::max<LONG>(nameWidth, width.right / 2);
    const std::wstring heading = Wide(desktop::ColumnHeading(static_cast<desktop::ContentsColumn>(i)));
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    // The first column is always left-aligned.
    column.fmt = kColumns[i].number && i > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = width.right;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    column.iSubItem = static_cast<int>(i);
    SendMessageW(List(), LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

void CContentsDlg::SetUpLayout() {
  // Without damage the list reaches down to where the damage line would be.
  const std::string& damage = model_.damageText();
  HWND damageLine = Item(IDC_DAMAGE);
  RECT line;
  GetWindowRect(damageLine, &line);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&line), 2);
  if (damage.empty()) {
    ShowWindow(damageLine, SW_HIDE);
    RECT list;
    GetWindowRect(List(), &list);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&list), 2);
    SetWindowPos(List(), nullptr, 0, 0, list.right - list.left, line.bottom - list.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    SetText(damageLine, damage);
  }
  RecordLayout();
  RECT window;
  GetWindowRect(hwnd(), &window);
  minimumWindow_ = {(window.right - window.left) * 3 / 4, (window.bottom - window.top) * 3 / 4};
}

void CContentsDlg::RecordLayout() {
  RECT client;
  GetClientRect(hwnd(), &client);
  baseClient_ = {client.right, client.bottom};
  for (std::size_t i = 0; i < kAnchors.size(); ++i) {
    RECT& rect = baseRects_[i];
    GetWindowRect(Item(kAnchors[i].id), &rect);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&rect), 2);
  }
}

void CContentsDlg::Layout() {
  if (baseClient_.cx == 0) return;
  RECT client;
  GetClientRect(hwnd(), &client);
  const LONG dx = client.right - baseClient_.cx;
  const LONG dy = client.bottom - baseClient_.cy;
  HDWP moves = BeginDeferWindowPos(static_cast<int>(kAnchors.size()));
  for (std::size_t i = 0; i < kAnchors.size() && moves != nullptr; ++i) {
    const Anchor& anchor = kAnchors[i];
    RECT rect = baseRects_[i];
    if (anchor.left) rect.left += dx;
    if (anchor.right) rect.right += dx;
    if (anchor.top) rect.top += dy;
    if (anchor.bottom) rect.bottom += dy;
    moves = DeferWindowPos(moves, Item(anchor.id), nullptr, rect.left, rect.top,
                           std::max<LONG>(rect.right - rect.left, 0),
                           std::max<LONG>(rect.bottom - rect.top, 0), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (moves != nullptr) EndDeferWindowPos(moves);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CContentsDlg::ShowRows() {
  // The rows are the model's: the list asks for each cell it shows.
  LVITEMW none = {};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  SendMessageW(List(), LVM_SETITEMCOUNT, model_.size(), 0);
  InvalidateRect(List(), nullptr, FALSE);
  ShowStatus();
}

std::vector<std::size_t> CContentsDlg::SelectedRows() const {
  std::vector<std::size_t> rows;
  const auto count = static_cast<std::size_t>(SendMessageW(List(), LVM_GETSELECTEDCOUNT, 0, 0));
  rows.reserve(count);
  LRESULT row = -1;
  while ((row = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED)) != -1) {
    rows.push_back(static_cast<std::size_t>(row));
  }
  return rows;
}

std::optional<std::size_t> CContentsDlg::RowToPlay() const {
  if (model_.size() == 0) return std::nullopt;
  const LRESULT focused = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
  if (focused >= 0 && static_cast<std::size_t>(focused) < model_.size()) {
    return static_cast<std::size_t>(focused);
  }
  const LRESULT selected = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  if (selected >= 0) return static_cast<std::size_t>(selected);
  return 0;
}

void CContentsDlg::ShowStatus() {
  const std::vector<std::size_t> rows = SelectedRows();
  SetText(Item(IDC_STATUS), model_.StatusText(rows));
  EnableWindow(Item(IDC_EXTRACT_SELECTED), !rows.empty());
}

void CContentsDlg::PlayOrStop() {
  player_.Toggle(RowToPlay());
  ShowPlayback();
}

void CContentsDlg::Play(std::size_t row) {
  player_.Play(row);
  ShowPlayback();
}

void CContentsDlg::ShowPlayback() {
  const bool playing = player_.playing();
  // The timer runs while a message plays: it follows the position and
  // notices the end and a lost device.
  if (playing != ticking_) {
    ticking_ = playing;
    if (playing) {
      SetTimer(hwnd(), kTickTimer, kTickMilliseconds, nullptr);
    } else {
      KillTimer(hwnd(), kTickTimer);
    }
  }
  if (playing != playingShown_ || timeShown_.empty()) {
    playingShown_ = playing;
    SetText(Item(IDC_PLAY), playing ? "Sto&p" : "&Play");
  }
  const std::string time = player_.PositionText();
  if (time != timeShown_ && !dragging_) {
    timeShown_ = time;
    SetText(Item(IDC_TIME), time);
  }
  // The row playing is drawn in bold.
  const std::optional<std::size_t> entry = playing ? player_.loadedEntry() : std::nullopt;
  if (entry != boldEntry_) {
    boldEntry_ = entry;
    InvalidateRect(List(), nullptr, FALSE);
  }
  if (dragging_) return;
  const LPARAM step = player_.SliderValue(kSliderSteps);
  if (SendMessageW(Item(IDC_POSITION), TBM_GETPOS, 0, 0) != step) {
    SendMessageW(Item(IDC_POSITION), TBM_SETPOS, TRUE, step);
  }
}

void CContentsDlg::OnSlider(int code) {
  // A drag moves only the thumb; the sound follows when it is let go. Keys
  // and clicks beside the thumb end with TB_ENDTRACK too.
  if (code == TB_THUMBTRACK) {
    dragging_ = true;
    // The time shows where the sound would go on from.
    const std::optional<std::size_t> entry = player_.loadedEntry();
    if (entry && *entry < model_.entries().size() && model_.entries()[*entry].audio) {
      const double seconds = model_.entries()[*entry].audio->DurationSeconds();
      const LRESULT step = SendMessageW(Item(IDC_POSITION), TBM_GETPOS, 0, 0);
      const std::string shown = player_.PositionText();
      const std::size_t slash = shown.find(" / ");
      timeShown_ = desktop::ClockText(seconds * static_cast<double>(step) / kSliderSteps) +
                   (slash == std::string::npos ? std::string() : shown.substr(slash));
      SetText(Item(IDC_TIME), timeShown_);
    }
    return;
  }
  if (code != TB_ENDTRACK) return;
  dragging_ = false;
  const LRESULT step = SendMessageW(Item(IDC_POSITION), TBM_GETPOS, 0, 0);
  player_.SeekFraction(static_cast<double>(step) / kSliderSteps);
  ShowPlayback();
}

void CContentsDlg::OnFilterChange() {
  model_.SetFilter(WindowText(Item(IDC_FILTER)));
  ShowRows();
}

void CContentsDlg::OnColumnClick(int column) {
  // A second click on the same column turns the order round.
  sortAscending_ = column == sortColumn_ ? !sortAscending_ : true;
  sortColumn_ = column;
  // The selection stays with its messages.
  std::vector<std::size_t> selected;
  for (const std::size_t row : SelectedRows()) selected.push_back(model_.row(row));
  std::optional<std::size_t> focused;
  const LRESULT focusRow = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
  if (focusRow >= 0 && static_cast<std::size_t>(focusRow) < model_.size()) {
    focused = model_.row(static_cast<std::size_t>(focusRow));
  }
  model_.SortBy(static_cast<desktop::ContentsColumn>(column), sortAscending_);
  // The arrow in the heading, where the system draws one.
  HWND header = reinterpret_cast<HWND>(SendMessageW(List(), LVM_GETHEADER, 0, 0));
  for (int i = 0; i < model_.columnCount(); ++i) {
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == column) item.fmt |= sortAscending_ ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  ShowRows();
  SelectEntries(selected, focused);
}

void CContentsDlg::SelectEntries(const std::vector<std::size_t>& entries,
                                 std::optional<std::size_t> focused) {
  std::vector<bool> chosen(model_.entries().size(), false);
  for (const std::size_t entry : entries) chosen[entry] = true;
  for (std::size_t row = 0; row < model_.size(); ++row) {
    const std::size_t entry = model_.row(row);
    if (!chosen[entry] && entry != focused) continue;
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = (chosen[entry] ? LVIS_SELECTED : 0) | (entry == focused ? LVIS_FOCUSED : 0);
    SendMessageW(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    if (entry == focused) SendMessageW(List(), LVM_ENSUREVISIBLE, row, FALSE);
  }
  ShowStatus();
}

LRESULT CContentsDlg::OnListNotify(NMHDR& header) {
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& info = reinterpret_cast<NMLVDISPINFOW&>(header);
      if ((info.item.mask & LVIF_TEXT) && info.item.pszText != nullptr && info.item.cchTextMax > 0) {
        const auto row = static_cast<std::size_t>(info.item.iItem);
        const std::wstring text =
            row < model_.size() && info.item.iSubItem >= 0 && info.item.iSubItem < model_.columnCount()
                ? Wide(model_.Cell(row, static_cast<desktop::ContentsColumn>(info.item.iSubItem)))
                : std::wstring();
        const std::size_t fits = std::min(text.size(), static_cast<std::size_t>(info.item.cchTextMax) - 1);
        std::wmemcpy(info.item.pszText, text.data(), fits);
        info.item.pszText[fits] = L'\0';
      }
      return 0;
    }
    case NM_CUSTOMDRAW: {
      auto& draw = reinterpret_cast<NMLVCUSTOMDRAW&>(header);
      if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT || !boldEntry_ || !boldFont_) return CDRF_DODEFAULT;
      const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
      if (row >= model_.size() || model_.row(row) != *boldEntry_) return CDRF_DODEFAULT;
      SelectObject(draw.nmcd.hdc, boldFont_.get());
      return CDRF_NEWFONT;
    }
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
      ShowStatus();
      return 0;
    case LVN_COLUMNCLICK:
      OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
      return 0;
    case NM_DBLCLK: {
      const int row = reinterpret_cast<NMITEMACTIVATE&>(header).iItem;
      if (row >= 0 && static_cast<std::size_t>(row) < model_.size()) Play(static_cast<std::size_t>(row));
      return 0;
    }
    default:
      return 0;
  }
}

void CContentsDlg::OnOK() {
  if (GetFocus() != List()) return;
  if (const std::optional<std::size_t> row = RowToPlay()) Play(*row);
}

void CContentsDlg::OnCancel() {
  // Closing the window stops the sound.
  KillTimer(hwnd(), kTickTimer);
  player_.Stop();
  EndDialog(IDCANCEL);
}

void CContentsDlg::OnExtractSelected() {
  const std::vector<std::size_t> rows = SelectedRows();
  if (rows.empty()) return;
  const std::optional<std::string> folder = AskForFolder(hwnd());
  if (!folder) return;
  model_.ExtractRows(rows, *folder);
}

void CContentsDlg::OnExtractAll() {
  const std::optional<std::string> folder = AskForFolder(hwnd());
  if (!folder) return;
  model_.ExtractAll(*folder);
}

void CContentsDlg::OnVerify() { model_.Verify(); }

void CContentsDlg::OnCommand(int id, int code) {
  if (id == IDC_FILTER && code == EN_CHANGE) OnFilterChange();
  if (code != BN_CLICKED) return;
  if (id == IDC_PLAY) PlayOrStop();
  if (id == IDC_EXTRACT_SELECTED) OnExtractSelected();
  if (id == IDC_EXTRACT_ALL) OnExtractAll();
  if (id == IDC_VERIFY) OnVerify();
}

std::optional<INT_PTR> CContentsDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      auto& header = *reinterpret_cast<NMHDR*>(lParam);
      if (header.idFrom != IDC_LIST) return std::nullopt;
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, OnListNotify(header));
      return TRUE;
    }
    case WM_TIMER:
      if (wParam != kTickTimer) return std::nullopt;
      player_.Tick();
      ShowPlayback();
      return TRUE;
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) != Item(IDC_POSITION)) return std::nullopt;
      OnSlider(LOWORD(wParam));
      return TRUE;
    case WM_SIZE:
      Layout();
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
      if (minimumWindow_.cx > 0) limits.ptMinTrackSize = {minimumWindow_.cx, minimumWindow_.cy};
      return TRUE;
    }
    case WM_DPICHANGED:
      // The system lays the controls out again at the new DPI; the anchors
      // start from there once it is done.
      baseClient_ = {};
      PostMessageW(hwnd(), kRecordLayout, 0, 0);
      return std::nullopt;
    case kRecordLayout:
      RecordLayout();
      return TRUE;
    default:
      return std::nullopt;
  }
}

LRESULT CALLBACK CContentsDlg::KeyFilter(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR /*id*/, DWORD_PTR data) {
  auto* self = reinterpret_cast<CContentsDlg*>(data);
  // Ctrl+A selects every row shown (a list in virtual mode leaves it to its
  // owner).
  if (message == WM_KEYDOWN && wParam == 'A' && (GetKeyState(VK_CONTROL) & 0x8000) &&
      window == self->List()) {
    LVITEMW all = {};
    all.stateMask = LVIS_SELECTED;
    all.state = LVIS_SELECTED;
    SendMessageW(window, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
    return 0;
  }
  if (message == WM_CHAR && wParam == 1 && window == self->List()) return 0;  // Ctrl+A's character
  if (wParam == VK_SPACE && (message == WM_KEYDOWN || message == WM_CHAR || message == WM_KEYUP)) {
    if (message == WM_KEYDOWN && (lParam & (LPARAM{1} << 30)) == 0) {
      // Posted: the press must not be handled inside the control's own code.
      PostMessageW(self->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_PLAY, BN_CLICKED),
                   reinterpret_cast<LPARAM>(self->Item(IDC_PLAY)));
    }
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &CContentsDlg::KeyFilter, 0);
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

std::optional<std::string> AskForBackupFile(HWND owner) {
  std::vector<wchar_t> file(kLongestPath, L'\0');
  OPENFILENAMEW request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = owner;
  request.lpstrFilter = kBackupFilter;
  request.lpstrFile = file.data();
  request.nMaxFile = kLongestPath;
  request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameW(&request)) return std::nullopt;
  return Utf8(file.data());
}

bool ShowContents(FileSystem& fs, HWND owner, const std::string& backupFile) {
  // The password prompt and the messages of the opening go over the owner;
  // once the window is up, over it.
  Win32UserInterface ui;
  ui.SetMainWindow(owner);
  desktop::ContentsModel model(fs, ui);
  if (!model.Open(backupFile)) return false;
  WaveAudioOutput output;
  desktop::Player player(model, output, ui);
  CContentsDlg window(model, player, ui);
  window.DoModal(owner);
  return true;
}

}  // namespace larkspool::win32
