// larkspool-contents-driver: drives the contents window of Larkspool.exe
// (`Larkspool.exe /contents FILE`) through its real controls, as a user
// would, from another process: the list is read and selected through memory
// made in the program's process, as the shell does.
//
// SCRATCH holds kind5-protected.bkp (the protected example, password 2468);
// the program starts in SCRATCH.
//
//   larkspool-contents-driver window PROGRAM SCRATCH
//     filter, sort, selection counts, keys and names, Extract Selected
//     (exactly the chosen files, the overwrite prompt), the password path and
//     a damaged backup's rows and salvage; exit status 0 when all holds.
//   larkspool-contents-driver play PROGRAM SCRATCH
//     plays the tone of sound.bkp (which it makes) with Space and waits for
//     its end; the caller records what the sound server hears.
//   larkspool-contents-driver compare RECORDING RATE
//     compares a recording (16-bit mono samples at RATE) with the tone:
//     aligned, correlation >= 0.99, lasting the tone's length within 10 %.
//   larkspool-contents-driver no-device PROGRAM SCRATCH
//     Play without a sound device: the message, and the window still works.
//   larkspool-contents-driver lost PROGRAM SCRATCH
//     plays a long tone, prints "PLAYING" and waits for a line on stdin (the
//     caller takes the device away), then expects the message.
//   larkspool-contents-driver screenshots PROGRAM SCRATCH
//     shows the window for a sound, a protected and a damaged backup and
//     prints "SHOT NAME LEFT TOP WIDTH HEIGHT" for each, then waits for a
//     line on stdin (the caller has grabbed the screen).
#include <windows.h>
// After <windows.h>, whose types they need.
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "win32/tests/driver_common.h"

namespace {

using namespace larkspool::driver;
using larkspool::testing::BackupBuilder;
using larkspool::testing::Bytes;

// The contents window's controls (win32/resource.h).
constexpr int kFilter = 1021;
constexpr int kList = 1023;
constexpr int kDamage = 1024;
constexpr int kPlay = 1025;
constexpr int kPosition = 1027;
constexpr int kTime = 1028;
constexpr int kStatus = 1029;
constexpr int kExtractSelected = 1030;
constexpr int kExtractAll = 1031;
constexpr int kVerify = 1032;
// The prompts and the progress window.
constexpr int kProgressBar = 1009;
constexpr int kOverwriteName = 1014;
constexpr int kYesToAll = 1013;
constexpr int kMessageText = 0xFFFF;
// The main window's backup field and Extract button, and the system menu's
// command that opens the contents window.
constexpr int kBackupEdit = 1000;
constexpr int kMainExtract = 1004;
constexpr WPARAM kContentsCommand = 0x0110;

HANDLE programHandle = nullptr;

std::string ItemText(HWND dialog, int id) { return WideText(GetDlgItem(dialog, id)); }

HWND WaitMessage(const std::string& text, int seconds = 30) {
  HWND box = WaitFor("Larkspool", kMessageText, "message \"" + text + "\"", seconds);
  Check(ItemText(box, kMessageText) == text,
        "message box reads \"" + text + "\" (" + ItemText(box, kMessageText) + ")");
  return box;
}

void ExpectMessage(const std::string& text) { Press(WaitMessage(text), IDOK); }

// The names of the files in `folder`, sorted.
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(W(folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(U(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

void MakeFolder(const std::string& path) {
  if (!CreateDirectoryW(W(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Abort("cannot make the folder " + path);
  }
}

// ---- The program and its window ----

struct Program {
  PROCESS_INFORMATION info{};
  HWND window = nullptr;
};

Program Launch(const std::string& program, const std::string& folder, const std::string& arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  Program started;
  std::wstring commandLine = L"\"" + W(program) + L"\" " + W(arguments);
  if (!CreateProcessW(W(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      W(folder).c_str(), &startup, &started.info)) {
    Abort("cannot start " + program);
  }
  programProcess = started.info.dwProcessId;
  programHandle = started.info.hProcess;
  return started;
}

// The contents window of `name` ("NAME.bkp - Larkspool").
HWND WaitContents(const std::string& name) {
  return WaitFor(name + " - Larkspool", kList, "contents window of " + name);
}

Program OpenContents(const std::string& program, const std::string& scratch, const std::string& backup) {
  Program started = Launch(program, scratch, "/contents \"" + scratch + "\\" + backup + "\"");
  started.window = WaitContents(backup);
  return started;
}

// Waits for the program to end and checks how.
void WaitEnd(Program& program, DWORD expected, const std::string& what) {
  const bool ended = WaitForSingleObject(program.info.hProcess, 30000) == WAIT_OBJECT_0;
  DWORD status = 99;
  GetExitCodeProcess(program.info.hProcess, &status);
  Check(ended && status == expected, what + " (exit status " + std::to_string(status) + ")");
  CloseHandle(program.info.hThread);
  CloseHandle(program.info.hProcess);
  programHandle = nullptr;
}

void Close(Program& program) {
  Click(program.window, IDCANCEL);
  WaitEnd(program, 0, "Close ends the program");
}

// Memory in the program's process, for the list's messages, which carry
// pointers the system does not carry across processes.
class Remote {
 public:
  explicit Remote(std::size_t size) : size_(size) {
    at_ = VirtualAllocEx(programHandle, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (at_ == nullptr) Abort("cannot make memory in the program");
  }
  ~Remote() { VirtualFreeEx(programHandle, at_, 0, MEM_RELEASE); }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  void Put(const void* data, std::size_t size, std::size_t offset = 0) {
    WriteProcessMemory(programHandle, static_cast<char*>(at_) + offset, data, size, nullptr);
  }
  void Get(void* data, std::size_t size, std::size_t offset = 0) const {
    ReadProcessMemory(programHandle, static_cast<char*>(at_) + offset, data, size, nullptr);
  }
  LPARAM at(std::size_t offset = 0) const {
    return reinterpret_cast<LPARAM>(static_cast<char*>(at_) + offset);
  }

 private:
  void* at_;
  std::size_t size_;
};

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result))
    Abort("the program does not answer message " + std::to_string(message));
  return static_cast<LRESULT>(result);
}

int RowCount(HWND window) {
  return static_cast<int>(Send(GetDlgItem(window, kList), LVM_GETITEMCOUNT, 0, 0));
}

std::string Cell(HWND window, int row, int column) {
  Remote memory(sizeof(LVITEMW) + 512 * sizeof(wchar_t));
  LVITEMW item = {};
  item.iSubItem = column;
  item.cchTextMax = 512;
  item.pszText = reinterpret_cast<wchar_t*>(memory.at(sizeof(LVITEMW)));
  memory.Put(&item, sizeof item);
  Send(GetDlgItem(window, kList), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), memory.at());
  wchar_t text[512] = {};
  memory.Get(text, sizeof text - sizeof(wchar_t), sizeof(LVITEMW));
  return U(text);
}

// The first column of every row shown.
std::vector<std::string> Names(HWND window) {
  std::vector<std::string> names;
  for (int row = 0, rows = RowCount(window); row < rows; ++row) names.push_back(Cell(window, row, 0));
  return names;
}

// Selects exactly `rows` (all others cleared), the last one focused, as
// clicks with Ctrl would.
void Select(HWND window, const std::vector<int>& rows) {
  HWND list = GetDlgItem(window, kList);
  Remote memory(sizeof(LVITEMW));
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = 0;
  memory.Put(&item, sizeof item);
  Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), memory.at());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    item.state = LVIS_SELECTED | (i + 1 == rows.size() ? LVIS_FOCUSED : 0);
    memory.Put(&item, sizeof item);
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(rows[i]), memory.at());
  }
}

// The names of the selected rows, sorted.
std::vector<std::string> SelectedNames(HWND window) {
  std::vector<std::string> names;
  LRESULT row = -1;
  while ((row = Send(GetDlgItem(window, kList), LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED)) !=
         -1) {
    names.push_back(Cell(window, static_cast<int>(row), 0));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A double click on row `row`.
void DoubleClick(HWND window, int row) {
  HWND list = GetDlgItem(window, kList);
  Remote memory(sizeof(RECT));
  RECT place = {LVIR_LABEL, 0, 0, 0};
  memory.Put(&place, sizeof place);
  Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), memory.at());
  memory.Get(&place, sizeof place);
  const LPARAM at = MAKELPARAM(place.left + 5, (place.top + place.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
}

int RowOf(HWND window, const std::string& name) {
  const std::vector<std::string> names = Names(window);
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) Abort("no row " + name);
  return static_cast<int>(found - names.begin());
}

// A key pressed while the list has the focus.
void Key(HWND window, int control, WPARAM key) {
  HWND target = GetDlgItem(window, control);
  Send(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
  PostMessageW(target, WM_KEYDOWN, key, 0x00000001);
  PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// Answers the folder dialog that Extract Selected... or Extract All... opens
// with `folder`, as a click on it in the tree and on OK would.
void ChooseFolder(HWND owner, const std::string& folder) {
  HWND dialog = WaitForWindow(
      [owner](HWND window) { return window != owner && GetWindow(window, GW_OWNER) == owner; }, 400);
  if (dialog == nullptr) Abort("no folder dialog over the contents window");
  Sleep(500);
  Check(!IsWindowEnabled(owner), "the folder dialog is modal over the contents window");
  // The tree shows the folder selected once it has read its way there.
  HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
  for (HWND child = nullptr; tree == nullptr && (child = FindWindowExW(dialog, child, nullptr, nullptr));) {
    tree = FindWindowExW(child, nullptr, L"SysTreeView32", nullptr);
  }
  const std::wstring path = W(folder);
  const std::string leaf = folder.substr(folder.find_last_of('\\') + 1);
  Remote memory((path.size() + 1) * sizeof(wchar_t) + sizeof(TVITEMW) + 260 * sizeof(wchar_t));
  memory.Put(path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  std::string selected;
  for (int tries = 0; tries < 20 && selected != leaf; ++tries) {
    Send(dialog, BFFM_SETSELECTIONW, TRUE, memory.at());
    Sleep(300);
    if (tree == nullptr) break;
    const std::size_t itemAt = (path.size() + 1) * sizeof(wchar_t);
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = reinterpret_cast<wchar_t*>(memory.at(itemAt + sizeof(TVITEMW)));
    item.cchTextMax = 260;
    memory.Put(&item, sizeof item, itemAt);
    Send(tree, TVM_GETITEMW, 0, memory.at(itemAt));
    wchar_t text[260] = {};
    memory.Get(text, sizeof text - sizeof(wchar_t), itemAt + sizeof(TVITEMW));
    selected = U(text);
  }
  if (tree != nullptr && selected != leaf)
    Abort("the folder dialog does not select " + folder + " (" + selected + ")");
  Press(dialog, IDOK);
}

// ---- The backups ----

// A sound: a sweep from 200 to 1200 Hz at 8000 samples a second, at a
// level the ear takes as loud, `seconds` long. Made here from its formula,
// so the comparison does not rest on the program's decoder.
constexpr std::uint32_t kRate = 8000;
std::vector<std::int16_t> Tone(double seconds) {
  const auto count = static_cast<std::size_t>(seconds * kRate);
  std::vector<std::int16_t> samples(count);
  const double f0 = 200;
  const double f1 = 1200;
  for (std::size_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double phase = 2 * std::numbers::pi * (f0 * t + (f1 - f0) * t * t / (2 * seconds));
    samples[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
  }
  return samples;
}
constexpr double kToneSeconds = 2.5;

// Messages of known lengths: name and samples at 8 kHz.
struct Message {
  const char* name;
  std::size_t samples;
};
const Message kMessages[] = {
    {"2024-03-01 Alice.wav", 8000 * 12},  // 0:12
    {"2024-03-02 bob.wav", 8000 * 75},    // 1:15
    {"box05-001.wav", 8000 * 3},          // 0:03
    {"box05-002.wav", 8000 * 61},         // 1:01
    {"ALICE urgent.wav", 8000 * 5},       // 0:05
    {"notes [draft].wav", 8000 / 2},      // 0:00 (half a second)
};

Bytes MessageBytes(const Message& message) {
  std::vector<std::int16_t> samples(message.samples);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>((i * 37) % 2000 - 1000);
  return larkspool::testing::WavFile(samples, kRate);
}

void MakeMessages(const std::string& path) {
  BackupBuilder backup = BackupBuilder::Single(larkspool::BackupKind::k3);
  for (const Message& message : kMessages) backup.Entry(message.name, MessageBytes(message));
  backup.WriteTo(path);
}

const Bytes kDamagedA = larkspool::testing::WavFile(std::vector<std::int16_t>(900, 100), kRate);
const Bytes kDamagedC = larkspool::testing::WavFile(std::vector<std::int16_t>(700, -100), kRate);

// a.wav, b.wav of 300 bytes that are no WAV file, c.wav: a walk stops at b.
void MakeDamaged(const std::string& path) {
  BackupBuilder::Single(larkspool::BackupKind::k3)
      .Entry("a.wav", kDamagedA)
      .Entry("b.wav", Bytes(300, 0x55))
      .Entry("c.wav", kDamagedC)
      .WriteTo(path);
}

void MakeSound(const std::string& path, double seconds) {
  BackupBuilder::Single(larkspool::BackupKind::k3)
      .Entry("tone.wav", larkspool::testing::WavFile(Tone(seconds), kRate))
      .WriteTo(path);
}

// ---- The window ----

// A click on the heading of `column`; `settle`: waits for the sort.
void ClickHeading(HWND window, int column, bool settle = true) {
  HWND header = reinterpret_cast<HWND>(Send(GetDlgItem(window, kList), LVM_GETHEADER, 0, 0));
  Remote memory(sizeof(RECT));
  Send(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), memory.at());
  RECT place;
  memory.Get(&place, sizeof place);
  const LPARAM at = MAKELPARAM((place.left + place.right) / 2, (place.top + place.bottom) / 2);
  PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(header, WM_LBUTTONUP, 0, at);
  if (settle) Sleep(300);
}

void CheckFilterAndSort(HWND window) {
  const std::vector<std::string> all = Names(window);
  Check(all.size() == std::size(kMessages),
        "the list shows all " + std::to_string(std::size(kMessages)) + " messages (" + Joined(all) + ")");
  Check(Cell(window, RowOf(window, "2024-03-02 bob.wav"), 1) == "1:15.0",
        "the duration column reads 1:15.0 for a message of 75 s, as list --long (" +
            Cell(window, RowOf(window, "2024-03-02 bob.wav"), 1) + ")");

  // Filters as a user types them, and the rows each leaves.
  const struct {
    const char* filter;
    std::vector<std::string> rows;
  } filters[] = {
      {"alice", {"2024-03-01 Alice.wav", "ALICE urgent.wav"}},
      {"box05-00?.wav", {"box05-001.wav", "box05-002.wav"}},
      {"*bob*", {"2024-03-02 bob.wav"}},
      {"URGENT", {"ALICE urgent.wav"}},
      {"[draft]", {"notes [draft].wav"}},     // no * or ?: brackets are letters of a name
      {"box05-00[2-9]*", {"box05-002.wav"}},  // a pattern: a set in brackets
      {"nothing like it", {}},
      {"", {}},
  };
  for (const auto& filter : filters) {
    SetWideText(window, kFilter, filter.filter);
    Sleep(200);
    std::vector<std::string> shown = Names(window);
    std::vector<std::string> wanted = filter.filter[0] == '\0' ? all : filter.rows;
    std::sort(shown.begin(), shown.end());
    std::sort(wanted.begin(), wanted.end());
    Check(shown == wanted, std::string("the filter \"") + filter.filter + "\" leaves " + Joined(wanted) +
                               " (shown: " + Joined(shown) + ")");
  }

  // Sorted by duration (a click on its heading), as numbers: 0:00 before
  // 0:03, 1:01 before 1:15; a second click turns the order round.
  const std::vector<std::string> chosen = {"2024-03-02 bob.wav", "box05-001.wav"};
  Select(window, {RowOf(window, chosen[0]), RowOf(window, chosen[1])});
  ClickHeading(window, 1);
  Check(SelectedNames(window) == chosen,
        "the selection stays with its messages through a sort (" + Joined(SelectedNames(window)) + ")");
  const std::vector<std::string> byDuration = {"notes [draft].wav",    "box05-001.wav", "ALICE urgent.wav",
                                               "2024-03-01 Alice.wav", "box05-002.wav", "2024-03-02 bob.wav"};
  Check(Names(window) == byDuration, "a click on Duration sorts by length (" + Joined(Names(window)) + ")");
  ClickHeading(window, 1);
  std::vector<std::string> reversed(byDuration.rbegin(), byDuration.rend());
  Check(Names(window) == reversed, "a second click turns the order round (" + Joined(Names(window)) + ")");
}

void CheckSelection(HWND window, const std::string& allStatus) {
  Select(window, {});
  Sleep(200);
  Check(ItemText(window, kStatus) == allStatus,
        "with no selection the status reads \"" + allStatus + "\" (" + ItemText(window, kStatus) + ")");
  Check(!IsWindowEnabled(GetDlgItem(window, kExtractSelected)), "Extract Selected... waits for a selection");
  Select(window, {RowOf(window, "2024-03-02 bob.wav"), RowOf(window, "box05-002.wav")});
  Sleep(200);
  const std::string twoSelected = allStatus + "; 2 selected, 2:16";
  Check(ItemText(window, kStatus) == twoSelected,
        "two rows of 1:15 and 1:01 selected: \"" + twoSelected + "\" (" + ItemText(window, kStatus) + ")");
  Check(IsWindowEnabled(GetDlgItem(window, kExtractSelected)), "Extract Selected... takes a selection");
}

// The window is resizable: the list takes the room, the buttons keep to
// their edges; it does not shrink below three quarters of its first size.
void CheckResizing(HWND window) {
  const auto place = [window](int id) {
    RECT rect;
    GetWindowRect(GetDlgItem(window, id), &rect);
    return rect;
  };
  RECT frame;
  GetWindowRect(window, &frame);
  const RECT list = place(kList);
  const RECT close = place(IDCANCEL);
  const RECT play = place(kPlay);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 200, frame.bottom - frame.top + 100,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Sleep(300);
  const RECT wider = place(kList);
  const RECT closeMoved = place(IDCANCEL);
  const RECT playMoved = place(kPlay);
  Check(wider.right - wider.left == list.right - list.left + 200 &&
            wider.bottom - wider.top == list.bottom - list.top + 100,
        "a window 200 x 100 pixels larger has a list 200 x 100 pixels larger");
  Check(closeMoved.left - close.left == 200 && closeMoved.top - close.top == 100 &&
            playMoved.left == play.left && playMoved.top - play.top == 100,
        "Close keeps to the bottom right corner, Play to the bottom left");
  SetWindowPos(window, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Sleep(300);
  RECT small;
  GetWindowRect(window, &small);
  Check(small.right - small.left >= (frame.right - frame.left) * 3 / 4 - 1 &&
            small.bottom - small.top >= (frame.bottom - frame.top) * 3 / 4 - 1,
        "it does not shrink below three quarters of its first size");
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Sleep(300);
  const RECT back = place(kList);
  Check(back.right - back.left == list.right - list.left && back.bottom - back.top == list.bottom - list.top,
        "back at its first size, the list is as it was");
}

void CheckNamesAndKeys(HWND window) {
  // A screen reader names an edit, the list and the slider after the label
  // right before each; the buttons by their text.
  const struct {
    int control;
    const char* label;
  } labelled[] = {{kFilter, "&Filter messages:"}, {kList, "&Messages:"}, {kPosition, "P&osition:"}};
  for (const auto& item : labelled) {
    HWND before = GetWindow(GetDlgItem(window, item.control), GW_HWNDPREV);
    Check(before != nullptr && WideText(before) == item.label,
          std::string("the control after \"") + item.label + "\" takes its name and its key from it");
  }
  // The tab order: filter, list, Play, slider, Extract Selected..., Extract
  // All..., Verify, Close, and round again.
  const int order[] = {kFilter, kList, kPlay, kPosition, kExtractSelected, kExtractAll, kVerify, IDCANCEL};
  bool inOrder = true;
  for (std::size_t i = 0; i < std::size(order); ++i) {
    const HWND next = GetNextDlgTabItem(window, GetDlgItem(window, order[i]), FALSE);
    inOrder = inOrder && next == GetDlgItem(window, order[(i + 1) % std::size(order)]);
  }
  Check(inOrder, "Tab goes filter, list, Play, slider, Extract Selected, Extract All, Verify, Close");
  const struct {
    int control;
    const char* text;
  } buttons[] = {{kPlay, "&Play"},
                 {kExtractSelected, "Extract &Selected..."},
                 {kExtractAll, "Extract &All..."},
                 {kVerify, "&Verify"},
                 {IDCANCEL, "&Close"}};
  for (const auto& button : buttons) {
    Check(ItemText(window, button.control) == button.text, std::string("a button reads ") + button.text);
  }
}

// Extract Selected... of two rows writes exactly those two files, as stored;
// a second time asks before replacing them.
void CheckExtractSelected(HWND window, const std::string& scratch) {
  const std::string folder = scratch + "\\chosen";
  MakeFolder(folder);
  SetWideText(window, kFilter, "");
  Sleep(200);
  const std::vector<int> rows = {RowOf(window, "box05-001.wav"), RowOf(window, "notes [draft].wav")};
  Select(window, rows);
  Click(window, kExtractSelected);
  ChooseFolder(window, folder);
  HWND box = WaitMessage("Extraction completed.");
  Check(GetWindow(box, GW_OWNER) == FindDialog("Larkspool", kProgressBar),
        "the run ends over its progress window, as in the main window");
  Press(box, IDOK);
  Sleep(300);
  Check(FilesIn(folder) == std::vector<std::string>{"box05-001.wav", "notes [draft].wav"},
        "Extract Selected... writes the two chosen messages and nothing else (" + Joined(FilesIn(folder)) +
            ")");
  Check(Holds(folder + "\\box05-001.wav", MessageBytes(kMessages[2])) &&
            Holds(folder + "\\notes [draft].wav", MessageBytes(kMessages[5])),
        "each holds its stored bytes");

  Click(window, kExtractSelected);
  ChooseFolder(window, folder);
  HWND prompt = WaitFor("Larkspool", kYesToAll, "overwrite prompt");
  Check(ItemText(prompt, kOverwriteName) == "box05-001.wav", "the overwrite prompt names box05-001.wav");
  Press(prompt, kYesToAll);
  ExpectMessage("Extraction completed.");
  Check(FilesIn(folder).size() == 2, "Yes to All replaces the two and writes nothing else");
}

// The program's visible window owned by `owner`.
HWND OwnedWindow(HWND owner) {
  return WaitForWindow([owner](HWND window) { return GetWindow(window, GW_OWNER) == owner; }, 400);
}

// The main window's system menu command "Contents..." opens the backup in
// its field, over the main window; with the field empty, the file dialog.
void CheckSystemMenuCommand(const std::string& program, const std::string& scratch) {
  Program larkspool = Launch(program, scratch, "messages.bkp");
  larkspool.window = WaitFor("Larkspool", kMainExtract, "main window");
  PostMessageW(larkspool.window, WM_SYSCOMMAND, kContentsCommand, 0);
  HWND contents = WaitContents("messages.bkp");
  Check(GetWindow(contents, GW_OWNER) == larkspool.window && !IsWindowEnabled(larkspool.window),
        "Contents... opens the backup of the field over the main window");
  Check(RowCount(contents) == static_cast<int>(std::size(kMessages)), "with its messages listed");
  Press(contents, IDCANCEL);
  for (int tries = 0; tries < 100 && !IsWindowEnabled(larkspool.window); ++tries) Sleep(50);
  Check(IsWindowEnabled(larkspool.window), "closing it gives the main window back");

  SetWideText(larkspool.window, kBackupEdit, "");
  PostMessageW(larkspool.window, WM_SYSCOMMAND, kContentsCommand, 0);
  HWND dialog = OwnedWindow(larkspool.window);
  Check(dialog != nullptr && FindDialog("messages.bkp - Larkspool", kList) == nullptr,
        "with the field empty, Contents... asks for the backup first");
  if (dialog != nullptr) Press(dialog, IDCANCEL);
  Sleep(300);
  Check(
      FindDialog([](const std::string& title) { return title.ends_with(" - Larkspool"); }, kList) == nullptr,
      "a cancelled file dialog opens nothing");
  Press(larkspool.window, IDCANCEL);
  WaitEnd(larkspool, 0, "the main window closes as before");
}

int WindowChecks(const std::string& program, const std::string& scratch) {
  MakeMessages(scratch + "\\messages.bkp");
  CheckSystemMenuCommand(program, scratch);
  Program larkspool = OpenContents(program, scratch, "messages.bkp");
  HWND window = larkspool.window;
  // 0:12 + 1:15 + 0:03 + 1:01 + 0:05 + 0:00.5 = 2:36.5, rounded to the second
  const std::string allStatus = "6 messages, 0:02:37 in all";
  CheckNamesAndKeys(window);
  CheckResizing(window);
  CheckFilterAndSort(window);
  SetWideText(window, kFilter, "");
  CheckSelection(window, allStatus);
  CheckExtractSelected(window, scratch);
  // Verify walks every payload, whatever the filter shows.
  SetWideText(window, kFilter, "bob");
  Click(window, kVerify);
  ExpectMessage("6 messages checked, no fault found.");
  Check(FilesIn(scratch + "\\chosen").size() == 2, "Verify writes nothing");
  Close(larkspool);

  // Without a file the switch asks for one; Cancel ends the program.
  Program asked = Launch(program, scratch, "/contents");
  HWND dialog = OwnedWindow(nullptr);
  Check(dialog != nullptr &&
            FindDialog([](const std::string& title) { return title.ends_with(" - Larkspool"); }, kList) ==
                nullptr,
        "/contents without a file asks for the backup first");
  if (dialog != nullptr) Press(dialog, IDCANCEL);
  WaitEnd(asked, 0, "a cancelled file dialog ends the program quietly");

  // A protected backup: the password before any window; a wrong one ends
  // the program with the message.
  Program wrong = Launch(program, scratch, "/contents kind5-protected.bkp");
  EnterPassword("1357");
  ExpectMessage("The password is not correct.");
  WaitEnd(wrong, 1, "a wrong password: no contents window, the program ends");
  Program cancelled = Launch(program, scratch, "--contents kind5-protected.bkp");
  HWND prompt = WaitFor("password entry", kPasswordEdit, "password prompt");
  Press(prompt, IDCANCEL);
  WaitEnd(cancelled, 1, "Cancel at the password: no window, no message");

  Program larkspool2 = Launch(program, scratch, "/CONTENTS kind5-protected.bkp");
  EnterPassword("2468");
  larkspool2.window = WaitContents("kind5-protected.bkp");
  Check(
      Names(larkspool2.window) == std::vector<std::string>{"box05-001.wav", "box05-002.wav", "box05-003.wav"},
      "the right password lists the three messages");
  const std::string folder = scratch + "\\protected";
  MakeFolder(folder);
  Select(larkspool2.window, {1});
  Click(larkspool2.window, kExtractSelected);
  ChooseFolder(larkspool2.window, folder);
  Sleep(500);
  Check(FindDialog("password entry", kPasswordEdit) == nullptr, "Extract Selected... does not ask again");
  ExpectMessage("Extraction completed.");
  std::string bytes;
  Check(FilesIn(folder) == std::vector<std::string>{"box05-002.wav"} &&
            ReadFile(folder + "\\box05-002.wav", bytes) && bytes.size() == 12844,
        "it writes box05-002.wav alone (" + Joined(FilesIn(folder)) + ")");
  Close(larkspool2);

  // A damaged backup opens with what salvage saves, and says where the damage is.
  MakeDamaged(scratch + "\\damaged.bkp");
  Program damaged = OpenContents(program, scratch, "damaged.bkp");
  const std::vector<std::string> rows = Names(damaged.window);
  Check(rows.size() == 2 && rows[0].find("a.wav") != std::string::npos &&
            rows[1].find("c.wav") != std::string::npos,
        "a damaged backup lists a.wav and c.wav (" + Joined(rows) + ")");
  const std::string damage = ItemText(damaged.window, kDamage);
  Check(IsWindowVisible(GetDlgItem(damaged.window, kDamage)) && !damage.empty(),
        "a line names the damage (" + damage + ")");
  const std::string salvage = scratch + "\\salvage";
  MakeFolder(salvage);
  Click(damaged.window, kExtractAll);
  ChooseFolder(damaged.window, salvage);
  HWND box = WaitFor("Larkspool", kMessageText, "the salvage summary");
  const std::string summary = ItemText(box, kMessageText);
  Check(summary.rfind("2 messages saved", 0) == 0,
        "Extract All... sums up as salvage does (" + summary + ")");
  Press(box, IDOK);
  Check(Holds(salvage + "\\a.wav", kDamagedA) && Holds(salvage + "\\c.wav", kDamagedC) &&
            FilesIn(salvage).size() == 3 && !FilesIn(salvage).empty() &&
            std::find(FilesIn(salvage).begin(), FilesIn(salvage).end(), "larkspool-salvage.txt") !=
                FilesIn(salvage).end(),
        "it saves a.wav, c.wav and the report (" + Joined(FilesIn(salvage)) + ")");
  Close(damaged);
  return failures == 0 ? 0 : 1;
}

// ---- Sound ----

// Waits until Play reads "&Play" again, at most `seconds`; the time it took.
double WaitPlayed(HWND window, double seconds) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    Sleep(20);
    const double elapsed = static_cast<double>(GetTickCount64() - start) / 1000;
    if (ItemText(window, kPlay) == "&Play") return elapsed;
    if (elapsed > seconds) return elapsed;
  }
}

int Play(const std::string& program, const std::string& scratch) {
  MakeSound(scratch + "\\sound.bkp", kToneSeconds);
  Program larkspool = OpenContents(program, scratch, "sound.bkp");
  HWND window = larkspool.window;
  const ULONGLONG pressed = GetTickCount64();
  Key(window, kList, VK_SPACE);
  bool started = false;
  for (int tries = 0; tries < 1000 && !started; ++tries) {
    started = ItemText(window, kPlay) == "Sto&p";
    if (!started) Sleep(2);
  }
  // A figure, not a limit: decoding and opening the device, as this machine
  // and Wine take them.
  std::printf("Space to playing (Play reads Stop): %llu ms\n",
              static_cast<unsigned long long>(GetTickCount64() - pressed));
  Check(started, "Space on the list plays the message (Play reads Stop)");
  const double took = WaitPlayed(window, kToneSeconds * 4);
  std::printf("played for %.2f s\n", took);
  Check(ItemText(window, kPlay) == "&Play", "playback ends by itself");
  Check(FindDialog("Larkspool", kMessageText) == nullptr, "no message while it plays");
  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

int Compare(const std::string& recording, int rate) {
  std::string bytes;
  if (!ReadFile(recording, bytes)) Abort("cannot read " + recording);
  std::vector<double> heard(bytes.size() / 2);
  for (std::size_t i = 0; i < heard.size(); ++i) {
    heard[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                         (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
  }
  if (rate != static_cast<int>(kRate)) Abort("the recording must be at 8000 samples a second");
  const std::vector<std::int16_t> tone = Tone(kToneSeconds);
  // Where the sound is: the first and last sample above a tenth of its level.
  const auto loud = [](double sample) { return std::abs(sample) > 1200; };
  const auto first = std::find_if(heard.begin(), heard.end(), loud);
  const auto last = std::find_if(heard.rbegin(), heard.rend(), loud);
  if (first == heard.end()) {
    Check(false,
          "the recording holds the sound (it is silent: " + std::to_string(heard.size()) + " samples)");
    return 1;
  }
  const auto onset = static_cast<std::ptrdiff_t>(first - heard.begin());
  const double lasted = static_cast<double>((heard.rend() - last) - onset) / rate;
  std::printf("recording: %zu samples; sound from %.3f s for %.3f s (the message: %.3f s)\n", heard.size(),
              static_cast<double>(onset) / rate, lasted, kToneSeconds);
  Check(std::abs(lasted - kToneSeconds) <= 0.1 * kToneSeconds,
        "the sound lasts the message's length within 10 %");
  // Aligned piece by piece: each 50 ms of the message where it agrees best
  // with the recording, from where the piece before it ended on. A gap (the
  // device ran dry) moves the rest later; nothing moves a piece earlier. The
  // correlation is taken over all the pieces so aligned.
  constexpr std::size_t kPiece = kRate / 20;
  const auto agreement = [&](std::size_t from, std::size_t count, std::ptrdiff_t lag) {
    struct Sums {
      double both = 0, ours = 0, theirs = 0;
    } sums;
    for (std::size_t i = from; i < from + count; ++i) {
      const auto at = static_cast<std::ptrdiff_t>(i) + lag;
      const double h =
          at >= 0 && static_cast<std::size_t>(at) < heard.size() ? heard[static_cast<std::size_t>(at)] : 0.0;
      sums.both += h * tone[i];
      sums.ours += static_cast<double>(tone[i]) * tone[i];
      sums.theirs += h * h;
    }
    return sums;
  };
  double both = 0;
  double ours = 0;
  double theirs = 0;
  std::ptrdiff_t lag = std::max<std::ptrdiff_t>(onset - 400, 0);
  std::ptrdiff_t firstLag = -1;
  int gaps = 0;
  for (std::size_t from = 0; from < tone.size(); from += kPiece) {
    const std::size_t count = std::min(kPiece, tone.size() - from);
    // Where the piece before it ended wins a tie (a silent piece stays put).
    const auto here = agreement(from, count, lag);
    double best = here.theirs > 0 ? here.both / std::sqrt(here.ours * here.theirs) : 0;
    std::ptrdiff_t bestLag = lag;
    const std::ptrdiff_t widest = firstLag < 0 ? onset + 50 : lag + static_cast<std::ptrdiff_t>(kPiece);
    for (std::ptrdiff_t tried = firstLag < 0 ? lag : std::max<std::ptrdiff_t>(lag - 2, 0); tried <= widest;
         ++tried) {
      const auto sums = agreement(from, count, tried);
      const double correlation = sums.theirs > 0 ? sums.both / std::sqrt(sums.ours * sums.theirs) : 0;
      if (correlation > best) {
        best = correlation;
        bestLag = tried;
      }
    }
    if (firstLag < 0) firstLag = bestLag;
    if (bestLag > lag + 2 && from > 0) ++gaps;
    lag = bestLag;
    const auto sums = agreement(from, count, lag);
    both += sums.both;
    ours += sums.ours;
    theirs += sums.theirs;
  }
  const double correlation = theirs > 0 ? both / std::sqrt(ours * theirs) : 0;
  std::printf("correlation %.4f from %.4f s, with %d gap(s) of %.1f ms in all\n", correlation,
              static_cast<double>(firstLag) / rate, gaps,
              1000.0 * static_cast<double>(lag - firstLag) / rate);
  Check(correlation >= 0.99,
        "the recording matches the message's samples (correlation " + std::to_string(correlation) + ")");
  return failures == 0 ? 0 : 1;
}

// The window stays usable after the message: the filter still narrows it.
void CheckStillUsable(HWND window) {
  SetWideText(window, kFilter, "zzz");
  Sleep(200);
  Check(RowCount(window) == 0 && ItemText(window, kPlay) == "&Play",
        "after the message the window still works (the filter narrows it, Play is back)");
  SetWideText(window, kFilter, "");
}

int NoDevice(const std::string& program, const std::string& scratch, const std::string& expected) {
  MakeSound(scratch + "\\sound.bkp", kToneSeconds);
  Program larkspool = OpenContents(program, scratch, "sound.bkp");
  // Space, Enter and a double click on the row: each press says it once.
  for (const char* press : {"Space", "Enter", "a double click"}) {
    if (press[0] == 'S') Key(larkspool.window, kList, VK_SPACE);
    if (press[0] == 'E') Key(larkspool.window, kList, VK_RETURN);
    if (press[0] == 'a') DoubleClick(larkspool.window, 0);
    HWND box =
        WaitFor("Larkspool", kMessageText, std::string("the message of a missing device after ") + press);
    const std::string text = ItemText(box, kMessageText);
    Check(text.rfind(expected, 0) == 0, std::string(press) + " without a device says so (" + text + ")");
    Press(box, IDOK);
    Sleep(500);
    Check(FindDialog("Larkspool", kMessageText) == nullptr, "once");
  }
  CheckStillUsable(larkspool.window);
  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

int Lost(const std::string& program, const std::string& scratch, const std::string& expected) {
  MakeSound(scratch + "\\sound.bkp", 30);
  Program larkspool = OpenContents(program, scratch, "sound.bkp");
  Key(larkspool.window, kList, VK_SPACE);
  Sleep(1000);
  Check(ItemText(larkspool.window, kPlay) == "Sto&p", "the long message plays");
  // The slider dragged to its middle: the time shows 0:15 while it is held,
  // and the sound goes on from there when it is let go.
  HWND slider = GetDlgItem(larkspool.window, kPosition);
  Send(slider, TBM_SETPOS, TRUE, 500);
  PostMessageW(larkspool.window, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 500),
               reinterpret_cast<LPARAM>(slider));
  Sleep(400);
  const std::string held = ItemText(larkspool.window, kTime);
  Check(held == "0:15 / 0:30",
        "while the slider is held at its middle the time reads 0:15 / 0:30 (" + held + ")");
  PostMessageW(larkspool.window, WM_HSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(slider));
  Sleep(1200);
  const std::string after = ItemText(larkspool.window, kTime);
  Check((after.starts_with("0:15 /") || after.starts_with("0:16 /")) &&
            ItemText(larkspool.window, kPlay) == "Sto&p",
        "let go, it plays on from 0:15 (" + after + ")");
  std::printf("PLAYING\n");
  std::fflush(stdout);
  std::string line;
  std::getline(std::cin, line);
  HWND box = WaitFor("Larkspool", kMessageText, "the message of a lost device", 20);
  const std::string text = ItemText(box, kMessageText);
  Check(text.rfind(expected, 0) == 0, "a device lost while playing is said so, once (" + text + ")");
  Press(box, IDOK);
  Sleep(1000);
  Check(FindDialog("Larkspool", kMessageText) == nullptr, "the message comes once");
  CheckStillUsable(larkspool.window);
  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

// ---- Figures ----

double Since(ULONGLONG start) { return static_cast<double>(GetTickCount64() - start); }

// Waits until `done` holds, at most a minute.
template <class Done>
void Until(Done done, const std::string& what) {
  const ULONGLONG start = GetTickCount64();
  while (!done()) {
    if (GetTickCount64() - start > 60000) Abort("not within a minute: " + what);
    Sleep(1);
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Times the window on COUNT messages of 0.5 to 1.5 s as a user meets it,
// from this process: the start until the list shows them all (and the start
// with one message, the share of Wine and the process), a letter typed into
// the filter until the rows change, a sort by duration until the first row
// changes, and Space until Play reads Stop. Medians of five rounds; prints,
// asserts nothing.
int Bench(const std::string& program, const std::string& scratch, int count) {
  BackupBuilder backup = BackupBuilder::Single(larkspool::BackupKind::k3);
  for (int i = 0; i < count; ++i) {
    // The first is the longest, so a sort by duration moves it.
    const std::size_t samples = kRate / 2 + static_cast<std::size_t>((i + 8) % 9) * kRate / 8;
    std::vector<std::int16_t> wave(samples, static_cast<std::int16_t>(i % 200));
    backup.Entry("message-" + std::to_string(100000 + i).substr(1) + ".wav",
                 larkspool::testing::WavFile(wave, kRate));
  }
  backup.WriteTo(scratch + "\\many.bkp");
  BackupBuilder::Single(larkspool::BackupKind::k3)
      .Entry("one.wav", larkspool::testing::WavFile(std::vector<std::int16_t>(kRate), kRate))
      .WriteTo(scratch + "\\one.bkp");
  std::vector<double> opened, openedOne, filtered, sorted, played;
  for (int round = 0; round < 5; ++round) {
    ULONGLONG start = GetTickCount64();
    Program one = OpenContents(program, scratch, "one.bkp");
    openedOne.push_back(Since(start) - 100);  // WaitFor lets a found window settle 100 ms
    Close(one);

    start = GetTickCount64();
    Program many = OpenContents(program, scratch, "many.bkp");
    Until(
        [&] { return RowCount(many.window) == count; },
        "the list shows " + std::to_string(count) + " rows (" + std::to_string(RowCount(many.window)) + ")");
    opened.push_back(Since(start) - 100);
    HWND window = many.window;

    start = GetTickCount64();
    SetWideText(window, kFilter, "7");
    filtered.push_back(Since(start));
    SetWideText(window, kFilter, "");

    const std::string firstRow = Cell(window, 0, 0);
    start = GetTickCount64();
    ClickHeading(window, 1, false);
    Until([&] { return Cell(window, 0, 0) != firstRow; }, "the sort");
    sorted.push_back(Since(start));

    Select(window, {0});
    start = GetTickCount64();
    Key(window, kList, VK_SPACE);
    Until([&] { return ItemText(window, kPlay) == "Sto&p"; }, "Play reads Stop");
    played.push_back(Since(start));
    Close(many);
  }
  std::printf("%d messages (%s):\n", count, "medians of 5 rounds, ms");
  std::printf("  /contents until the list shows them all  %.0f\n", Median(opened));
  std::printf("  the same with one message                %.0f\n", Median(openedOne));
  std::printf("  a letter typed into the filter           %.0f\n", Median(filtered));
  std::printf("  a sort by duration, first row changed    %.0f\n", Median(sorted));
  std::printf("  Space until Play reads Stop              %.0f\n", Median(played));
  return 0;
}

// ---- Screenshots ----

void Shot(const char* name, HWND window) {
  SetForegroundWindow(window);
  Sleep(600);
  RECT frame;
  GetWindowRect(window, &frame);
  std::printf("SHOT %s %ld %ld %ld %ld\n", name, frame.left, frame.top, frame.right - frame.left,
              frame.bottom - frame.top);
  std::fflush(stdout);
  std::string done;
  std::getline(std::cin, done);
}

// The program's visible menu window (a menu that is open).
HWND OpenMenu() {
  return WaitForWindow([](HWND window) { return ClassOf(window) == "#32768"; }, 100);
}

int Screenshots(const std::string& program, const std::string& scratch) {
  MakeMessages(scratch + "\\messages.bkp");
  // The main window's system menu, with Contents... at its end.
  Program main = Launch(program, scratch, "messages.bkp");
  main.window = WaitFor("Larkspool", kMainExtract, "main window");
  SetForegroundWindow(main.window);
  Sleep(300);
  PostMessageW(main.window, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  if (HWND menu = OpenMenu()) {
    Sleep(400);
    RECT frame;
    RECT shown;
    GetWindowRect(main.window, &frame);
    GetWindowRect(menu, &shown);
    std::printf("SHOT main-window-system-menu %ld %ld %ld %ld\n", frame.left, frame.top,
                std::max(frame.right, shown.right) - frame.left,
                std::max(frame.bottom, shown.bottom) - frame.top);
    std::fflush(stdout);
    std::string done;
    std::getline(std::cin, done);
    // Esc closes the menu and a second one leaves the menu mode.
    PostMessageW(main.window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(main.window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(main.window, WM_CANCELMODE, 0, 0);
    Sleep(500);
  }
  Press(main.window, IDCANCEL);
  WaitEnd(main, 0, "the main window closes");

  Program sound = OpenContents(program, scratch, "messages.bkp");
  Select(sound.window, {RowOf(sound.window, "2024-03-02 bob.wav"), RowOf(sound.window, "box05-002.wav")});
  Key(sound.window, kList, VK_SPACE);
  Sleep(2200);
  Shot("contents", sound.window);
  Close(sound);

  Program larkspool = Launch(program, scratch, "/contents kind5-protected.bkp");
  EnterPassword("2468");
  larkspool.window = WaitContents("kind5-protected.bkp");
  SetWideText(larkspool.window, kFilter, "box05-00[23]*");
  Select(larkspool.window, {0});
  Shot("contents-protected", larkspool.window);
  Close(larkspool);

  MakeDamaged(scratch + "\\damaged.bkp");
  Program damaged = OpenContents(program, scratch, "damaged.bkp");
  Shot("contents-damaged", damaged.window);
  Close(damaged);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: %s window|play|screenshots PROGRAM SCRATCH-FOLDER\n"
                 "       %s no-device|lost PROGRAM SCRATCH-FOLDER MESSAGE\n"
                 "       %s compare RECORDING RATE\n",
                 argv[0], argv[0], argv[0]);
    return 64;
  }
  const std::string mode = argv[1];
  if (mode == "compare") return argc == 4 ? Compare(argv[2], std::atoi(argv[3])) : 64;
  if (argc < 4) return 64;
  wchar_t program[MAX_PATH];
  wchar_t scratch[MAX_PATH];
  GetFullPathNameW(W(argv[2]).c_str(), MAX_PATH, program, nullptr);
  GetFullPathNameW(W(argv[3]).c_str(), MAX_PATH, scratch, nullptr);
  if (mode == "window") return WindowChecks(U(program), U(scratch));
  if (mode == "play") return Play(U(program), U(scratch));
  if (mode == "screenshots") return Screenshots(U(program), U(scratch));
  if (mode == "bench") return Bench(U(program), U(scratch), argc == 5 ? std::atoi(argv[4]) : 10000);
  if (mode == "no-device" && argc == 5) return NoDevice(U(program), U(scratch), argv[4]);
  if (mode == "lost" && argc == 5) return Lost(U(program), U(scratch), argv[4]);
  return 64;
}
