// larkspool-gui-driver: drives Larkspool.exe through its real windows, the
// way a user would, by finding each window by its title and its controls and
// sending it messages.
//
// SCRATCH holds kind5-protected.bkp (the protected example, password 2468)
// and an empty folder out/; the program starts in SCRATCH.
//
//   larkspool-gui-driver smoke PROGRAM SCRATCH
//     extracts the example into out/ with a wrong and the right password and
//     answers the overwrite prompt with each button, checking every message
//     box text and every file written; exit status 0 when all holds.
//   larkspool-gui-driver home PROGRAM SCRATCH
//     what a Windows user meets besides that: the file argument and drops,
//     names and folders outside the code page (and a CP932 system's names),
//     a path over 260 characters, the keys of the progress window, names with
//     "&", the reason of a refused overwrite, browse dialogs owned by the main
//     window, the names a screen reader announces, and the offer to save
//     what a damaged backup still holds.
//   larkspool-gui-driver japanese PROGRAM SCRATCH
//     the names of a Japanese system (ANSI code page 932, which the driver
//     and the program it starts share).
//   larkspool-gui-driver screenshots PROGRAM SCRATCH
//     shows each window and prints "SHOT NAME LEFT TOP WIDTH HEIGHT" for it,
//     then waits for a line on stdin (the caller has grabbed the screen).
//   larkspool-gui-driver dpi PROGRAM SCRATCH DPI
//     checks that the main window is laid out for a display of DPI (the
//     system's, set by the caller), its browse picture drawn for it.
#include <windows.h>
// After <windows.h>, whose types it needs.
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "win32/tests/driver_common.h"

namespace {

using namespace larkspool::driver;

constexpr int kMainExtract = 1004;
constexpr int kBrowseFile = 1001;
constexpr int kBackupEdit = 1000;
constexpr int kFolderEdit = 1002;
constexpr int kProgressBar = 1009;
constexpr int kProgressFileLine = 1006;
constexpr int kProgressPercent = 1010;
constexpr int kOverwriteName = 1014;
constexpr int kYesToAll = 1013;
constexpr int kOverwriteCancel = 1011;
constexpr int kMessageText = 0xFFFF;  // the text of a message box

// The example's three messages as the Linux command-line tool writes them
// (larkspool-cli extract, then crc32): name, size and CRC-32.
struct ExpectedFile {
  const char* name;
  std::uint32_t size;
  std::uint32_t crc;
};
const ExpectedFile kExpected[] = {
    {"box05-001.wav", 20044, 0xCF1F9232},
    {"box05-002.wav", 12844, 0x23BC4565},
    {"box05-003.wav", 43244, 0xCA1C4786},
};

std::string Text(HWND window) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                      &copied);
  return text;
}

void WaitGone(const char* title, int marker, const std::string& what) {
  for (int tries = 0; tries < 600; ++tries) {
    if (FindDialog(title, marker) == nullptr) return;
    Sleep(50);
  }
  Abort("window stays up: " + what);
}

void SetText(HWND dialog, int id, const std::string& text) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                           SMTO_NORMAL, 5000, &result)) {
    Abort("cannot set the text of control " + std::to_string(id));
  }
}

// Clicks Extract once the main window takes input again, as a user can.
void ClickExtract(HWND main) {
  for (int tries = 0; tries < 600 && !IsWindowEnabled(main); ++tries) Sleep(50);
  if (!IsWindowEnabled(main)) Abort("the main window stays disabled");
  Click(main, kMainExtract);
}

// Waits for the message box and checks its text.
HWND WaitMessage(const std::string& text) {
  HWND box = WaitFor("Larkspool", kMessageText, "message \"" + text + "\"");
  Check(Text(GetDlgItem(box, kMessageText)) == text, "message box reads \"" + text + "\"");
  return box;
}

void Dismiss(HWND box) { Press(box, IDOK); }

void ExpectMessage(const std::string& text) { Dismiss(WaitMessage(text)); }

HWND WaitOverwrite(const std::string& name) {
  HWND prompt = WaitFor("Larkspool", kYesToAll, "overwrite prompt for " + name);
  Check(Text(GetDlgItem(prompt, kOverwriteName)) == name, "overwrite prompt names " + name);
  return prompt;
}

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Abort("cannot write " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

int FilesIn(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

// Every expected file is in `folder` with its content, or holds `spoilt`
// where `spoiltFile` says so.
void CheckFiles(const std::string& folder, const std::string& when, int spoiltFile = -1) {
  Check(FilesIn(folder) == static_cast<int>(std::size(kExpected)),
        when + ": the folder holds the example's files");
  const std::string spoilt = "not a wave file";
  for (int i = 0; i < static_cast<int>(std::size(kExpected)); ++i) {
    const ExpectedFile& expected = kExpected[i];
    std::string bytes;
    const bool read = ReadFile(folder + "\\" + expected.name, bytes);
    if (i == spoiltFile) {
      Check(read && bytes == spoilt, when + ": " + expected.name + " is left as it was");
    } else {
      Check(read && bytes.size() == expected.size && Crc32(bytes) == expected.crc,
            when + ": " + expected.name + " holds its message");
    }
  }
}

void Spoil(const std::string& folder, int file) {
  WriteFile(folder + "\\" + kExpected[file].name, "not a wave file");
}

struct Program {
  PROCESS_INFORMATION info{};
  HWND main = nullptr;
};

Program Start(const std::string& program, const std::string& folder) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  Program started;
  std::string commandLine = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &started.info)) {
    Abort("cannot start " + program);
  }
  programProcess = started.info.dwProcessId;
  started.main = WaitFor("Larkspool", kMainExtract, "main window");
  return started;
}

void Close(Program& program) {
  Click(program.main, IDCANCEL);
  const bool ended = WaitForSingleObject(program.info.hProcess, 30000) == WAIT_OBJECT_0;
  DWORD status = 1;
  GetExitCodeProcess(program.info.hProcess, &status);
  Check(ended && status == 0, "Close ends the program");
  CloseHandle(program.info.hThread);
  CloseHandle(program.info.hProcess);
}

void Extract(HWND main, const std::string& backup, const std::string& folder) {
  SetText(main, kBackupEdit, backup);
  SetText(main, kFolderEdit, folder);
  ClickExtract(main);
}

int Smoke(const std::string& program, const std::string& scratch) {
  const std::string backup = scratch + "\\kind5-protected.bkp";
  const std::string out = scratch + "\\out";
  Program larkspool = Start(program, scratch);
  HWND main = larkspool.main;

  ClickExtract(main);
  ExpectMessage("Backup file and Extraction folder are not specified.");

  Extract(main, backup, out);
  EnterPassword("1357");
  ExpectMessage("The password is not correct.");
  Check(FilesIn(out) == 0, "a wrong password writes nothing");

  ClickExtract(main);
  EnterPassword("2468");
  HWND box = WaitMessage("Extraction completed.");
  // The progress window stays behind the box with the last values.
  HWND progress = FindDialog("Larkspool", kProgressBar);
  Check(progress != nullptr &&
            Text(GetDlgItem(progress, kProgressFileLine)) == "Backup File: kind5-protected.bkp" &&
            Text(GetDlgItem(progress, kProgressPercent)) == "100%",
        "the progress window shows the backup's name and 100%");
  Dismiss(box);
  WaitGone("Larkspool", kProgressBar, "progress window");
  CheckFiles(out, "extracted");

  // The folder is still the current directory: relative paths start there.
  for (int i = 0; i < static_cast<int>(std::size(kExpected)); ++i) Spoil(out, i);
  Extract(main, "..\\kind5-protected.bkp", ".");
  EnterPassword("2468");
  Press(WaitOverwrite(kExpected[0].name), IDOK);
  Press(WaitOverwrite(kExpected[1].name), kYesToAll);
  ExpectMessage("Extraction completed.");  // no prompt for the third file
  CheckFiles(out, "Yes, then Yes to All");

  Spoil(out, 1);
  ClickExtract(main);
  EnterPassword("2468");
  Press(WaitOverwrite(kExpected[0].name), IDOK);
  Press(WaitOverwrite(kExpected[1].name), kOverwriteCancel);
  WaitGone("Larkspool", kProgressBar, "progress window after Cancel");
  Sleep(500);
  Check(FindDialog("Larkspool", kMessageText) == nullptr, "Cancel shows no message");
  Check(IsWindowEnabled(main) != FALSE, "the main window takes input again");
  CheckFiles(out, "Cancel at the second prompt", 1);

  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

// ---- At home on Windows ----

// Any path length: the \\?\ form of a full path.
std::wstring Long(const std::string& utf8) { return L"\\\\?\\" + W(utf8); }

// The file holds a whole WAV payload of `size` bytes (not the old text).
bool HoldsPayload(const std::string& path, std::size_t size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExW(Long(path).c_str(), GetFileExInfoStandard, &data) != 0 &&
         data.nFileSizeLow == size && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void MakeFolder(const std::string& path) {
  if (!CreateDirectoryW(Long(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Abort("cannot make the folder " + path);
  }
}

void PutOld(const std::string& path) {
  HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Abort("cannot write " + path);
  DWORD written = 0;
  ::WriteFile(file, "not a wave file", 15, &written, nullptr);
  CloseHandle(file);
}

constexpr std::size_t kPayload = 20000;

// A kind 3 backup with these stored names (bytes), each a WAV payload of
// kPayload bytes, at `path` (any name and length).
void MakeBackup(const std::string& scratch, const std::string& path, const std::vector<std::string>& names,
                std::size_t size = kPayload) {
  using larkspool::BackupKind;
  using larkspool::testing::BackupBuilder;
  BackupBuilder backup = BackupBuilder::Single(BackupKind::k3);
  std::uint8_t seed = 1;
  for (const std::string& name : names) backup.Entry(name, larkspool::testing::WavPayload(size, seed++));
  const std::string made = scratch + "\\made.bkp";
  backup.WriteTo(made);
  if (!MoveFileExW(W(made).c_str(), Long(path).c_str(), MOVEFILE_REPLACE_EXISTING))
    Abort("cannot put " + path);
}

// Starts the program with `arguments` on its command line.
Program StartWith(const std::string& program, const std::string& folder, const std::string& arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  Program started;
  std::wstring commandLine = L"\"" + W(program) + L"\" " + W(arguments);
  if (!CreateProcessW(W(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      W(folder).c_str(), &startup, &started.info)) {
    Abort("cannot start " + program);
  }
  programProcess = started.info.dwProcessId;
  started.main = WaitFor("Larkspool", kMainExtract, "main window");
  return started;
}

// A drop of `path` from the shell: the DROPFILES block is made in the
// program's memory, as the shell makes it.
void Drop(const Program& program, const std::string& path) {
  const std::wstring name = W(path);
  std::vector<char> block(sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t), 0);
  auto* header = reinterpret_cast<DROPFILES*>(block.data());
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  std::copy(name.begin(), name.end(), reinterpret_cast<wchar_t*>(block.data() + sizeof(DROPFILES)));
  void* there = VirtualAllocEx(program.info.hProcess, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
  if (there == nullptr ||
      !WriteProcessMemory(program.info.hProcess, there, block.data(), block.size(), nullptr)) {
    Abort("cannot hand the program a drop");
  }
  PostMessageW(program.main, WM_DROPFILES, reinterpret_cast<WPARAM>(there), 0);
  Sleep(500);
}

// The program's visible window other than `main` (a browse dialog).
HWND OtherWindow(HWND main) {
  return WaitForWindow([main](HWND window) { return window != main; }, 200);
}

void CheckStartArguments(const std::string& program, const std::string& scratch) {
  const std::string backup = scratch + "\\kind5-protected.bkp";
  Program started = StartWith(program, scratch, "\"" + backup + "\"");
  Check(WideText(GetDlgItem(started.main, kBackupEdit)) == backup &&
            WideText(GetDlgItem(started.main, kFolderEdit)).empty(),
        "Larkspool.exe FILE starts with the backup field filled");
  Drop(started, scratch + "\\out");
  Check(WideText(GetDlgItem(started.main, kFolderEdit)) == scratch + "\\out" &&
            WideText(GetDlgItem(started.main, kBackupEdit)) == backup,
        "a folder dropped on the window fills the folder field");
  Close(started);

  started = StartWith(program, scratch, "out");
  Check(WideText(GetDlgItem(started.main, kFolderEdit)) == scratch + "\\out" &&
            WideText(GetDlgItem(started.main, kBackupEdit)).empty(),
        "Larkspool.exe FOLDER (relative) starts with the full folder path in the folder field");
  Drop(started, backup);
  Check(WideText(GetDlgItem(started.main, kBackupEdit)) == backup,
        "a file dropped on the window fills the backup field");
  Close(started);
}

void CheckNamesAndBrowsing(const Program& larkspool) {
  HWND main = larkspool.main;
  const struct {
    int edit;
    const char* label;
    int button;
    const char* buttonName;
  } fields[] = {{kBackupEdit, "Backup File:", 1001, "Browse for the backup file"},
                {kFolderEdit, "Extraction Folder:", 1003, "Browse for the extraction folder"}};
  for (const auto& field : fields) {
    HWND before = GetWindow(GetDlgItem(main, field.edit), GW_HWNDPREV);
    Check(before != nullptr && Text(before) == field.label,
          std::string("the edit after the label \"") + field.label + "\" takes its name from it");
    Check(Text(GetDlgItem(main, field.button)) == field.buttonName,
          std::string("the browse button is named \"") + field.buttonName + "\"");
    Check(GetNextDlgTabItem(main, GetDlgItem(main, field.edit), FALSE) == GetDlgItem(main, field.button),
          "the tab order goes from the field to its browse button");
    Click(main, field.button);
    HWND dialog = OtherWindow(main);
    Sleep(300);
    Check(dialog != nullptr && !IsWindowEnabled(main),
          std::string("while \"") + field.buttonName + "\" is open the main window takes no input");
    if (dialog != nullptr) {
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      for (int tries = 0; tries < 100 && IsWindowVisible(dialog); ++tries) Sleep(50);
    }
    for (int tries = 0; tries < 100 && !IsWindowEnabled(main); ++tries) Sleep(50);
  }
}

// A run stopped with a key on the progress window while it copies the
// first of four messages: each file is asked about, and the key is
// posted right behind the click on Yes, so the walk's next pump meets it.
void CheckKeys(HWND main, const std::string& scratch) {
  const std::string folder = scratch + "\\keys";
  MakeFolder(folder);
  const std::vector<std::string> names = {"k1.wav", "k2.wav", "k3.wav", "k4.wav"};
  MakeBackup(scratch, scratch + "\\keys.bkp", names);
  const auto spoilAll = [&] {
    for (const std::string& name : names) PutOld(folder + "\\" + name);
  };
  const auto answerYesAndPress = [&](const std::string& name, UINT message, WPARAM key, LPARAM bits) {
    HWND prompt = WaitOverwrite(name);
    HWND progress = FindDialog("Larkspool", kProgressBar);
    if (progress == nullptr) Abort("no progress window behind the prompt");
    Click(prompt, IDOK);
    PostMessageW(GetDlgItem(progress, IDCANCEL), message, key, bits);
    // The next prompt is looked for only once this one has gone: on a busy
    // machine it can still be up when the search starts.
    for (int tries = 0; tries < 600 && IsWindow(prompt) && IsWindowVisible(prompt); ++tries) Sleep(50);
  };
  const auto written = [&](std::size_t count) {
    bool holds = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
      holds = holds && HoldsPayload(folder + "\\" + names[i], i < count ? kPayload : 15);
    }
    return holds;
  };

  spoilAll();
  Extract(main, scratch + "\\keys.bkp", folder);
  answerYesAndPress(names[0], WM_KEYDOWN, VK_RETURN, 0x001C0001);
  // Enter does nothing: the run goes on to the next file.
  answerYesAndPress(names[1], WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  WaitGone("Larkspool", kProgressBar, "progress window after Esc");
  Sleep(500);
  Check(FindDialog("Larkspool", kYesToAll) == nullptr && FindDialog("Larkspool", kMessageText) == nullptr,
        "Esc in the progress window cancels the run after the file it writes, with no message");
  Check(written(2), "after Esc the first two files are written and the others left as they were");

  spoilAll();
  ClickExtract(main);
  // Alt+C: the Cancel button's mnemonic.
  answerYesAndPress(names[0], WM_SYSCHAR, 'c', 0x20000001);
  WaitGone("Larkspool", kProgressBar, "progress window after Alt+C");
  Sleep(500);
  Check(FindDialog("Larkspool", kYesToAll) == nullptr && FindDialog("Larkspool", kMessageText) == nullptr,
        "Alt+C in the progress window cancels the run");
  Check(written(1), "after Alt+C the first file is written and the others left as they were");
}

// The cursor the program sets when the mouse moves over `under` in `window`.
HWND CursorOver(HWND window, HWND under) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                      MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), SMTO_NORMAL, 5000, &result);
  CURSORINFO info{};
  info.cbSize = sizeof info;
  GetCursorInfo(&info);
  return reinterpret_cast<HWND>(info.hCursor);
}

// While one large message is copied the window keeps answering: the
// system would mark it "Not Responding" after 5 s without, and closing it
// then would end the program in the middle of a file.
void CheckAnswersDuringAPayload(HWND main, const std::string& scratch) {
  const std::string folder = scratch + "\\big";
  MakeFolder(folder);
  PutOld(folder + "\\big.wav");
  constexpr std::size_t kBig = 200u << 20;
  MakeBackup(scratch, scratch + "\\big.bkp", {"big.wav"}, kBig);
  Extract(main, scratch + "\\big.bkp", folder);
  // Once Yes is taken the copy runs; the prompt no longer answers for it.
  Press(WaitOverwrite("big.wav"), IDOK);
  const ULONGLONG yes = GetTickCount64();
  HWND progress = FindDialog("Larkspool", kProgressBar);
  // Asked again and again, each answer looked at as soon as it comes,
  // without asking the window again (which would wait for its next turn): a
  // part of the message written means the copy was still going on, past its
  // first chunk; a window pumped only between entries answers with the file
  // whole at the earliest. A copy so quick that it ends before the window's
  // next turn (a tenth of a second) leaves nothing to answer during; it is
  // taken as such only when it took under a second.
  bool answered = progress != nullptr;
  bool during = false;
  std::uint64_t written = 0;
  while (answered && !during && written < kBig) {
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutW(progress, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    written = answered && GetFileAttributesExW(Long(folder + "\\big.wav").c_str(), GetFileExInfoStandard,
                                               &data) != 0
                  ? (std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow)
                  : 0;
    during = written >= 16384 && written < kBig;
  }
  const ULONGLONG took = GetTickCount64() - yes;
  Check(during || (answered && took < 1000),
        "the progress window answers while a 200 MiB message is copied (" + std::to_string(written >> 20) +
            " MiB written, " + std::to_string(took) + " ms after Yes)");
  ExpectMessage("Extraction completed.");
  WaitGone("Larkspool", kProgressBar, "progress window");
  Check(HoldsPayload(folder + "\\big.wav", kBig), "the large message is written whole");
  DeleteFileW(Long(folder + "\\big.wav").c_str());
  DeleteFileW(Long(scratch + "\\big.bkp").c_str());
}

// "&" is a character of a name, and a refused overwrite says why.
void CheckAmpersandAndRefusal(HWND main, const std::string& scratch) {
  const std::string folder = scratch + "\\R&D";
  MakeFolder(folder);
  MakeFolder(folder + "\\R&D.wav");  // a folder stands at the entry's name
  MakeBackup(scratch, scratch + "\\R&D.bkp", {"R&D.wav"});
  Extract(main, scratch + "\\R&D.bkp", folder);
  HWND prompt = WaitOverwrite("R&D.wav");
  const auto asItIs = [](HWND control) {
    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    return (style & SS_NOPREFIX) != 0 && (style & SS_ELLIPSISMASK) == SS_ENDELLIPSIS;
  };
  Check(asItIs(GetDlgItem(prompt, kOverwriteName)),
        "the prompt shows the name with its \"&\" and an ellipsis");
  HWND progress = FindDialog("Larkspool", kProgressBar);
  Check(progress != nullptr && asItIs(GetDlgItem(progress, kProgressFileLine)) &&
            Text(GetDlgItem(progress, kProgressFileLine)) == "Backup File: R&D.bkp",
        "the progress window shows \"R&D.bkp\" with its \"&\" and an ellipsis");
  Check(progress != nullptr && CursorOver(progress, progress) != CursorOver(prompt, GetDlgItem(prompt, IDOK)),
        "during a run the wait cursor shows over the progress window, not over the prompt's button");
  Press(prompt, IDOK);
  HWND box = WaitFor("Larkspool", kMessageText, "the refused overwrite's message");
  const std::string text = Text(GetDlgItem(box, kMessageText));
  Check(text.rfind("System error(9)\nR&D.wav: ", 0) == 0 && text.size() > 26,
        "a refused overwrite shows System error(9) and its reason on a second line (" + text + ")");
  Dismiss(box);
  WaitGone("Larkspool", kProgressBar, "progress window after the refusal");
}

// Extracts `backup` into `folder` and checks every name came out.
void CheckExtracts(HWND main, const std::string& backup, const std::string& folder,
                   const std::vector<std::string>& written, const std::string& fileLine,
                   const std::string& what) {
  SetWideText(main, kBackupEdit, backup);
  SetWideText(main, kFolderEdit, folder);
  ClickExtract(main);
  HWND box = WaitFor("Larkspool", kMessageText, what);
  HWND progress = FindDialog("Larkspool", kProgressBar);
  const std::string message = WideText(GetDlgItem(box, kMessageText));
  Check(message == "Extraction completed.", what + ": completed (" + message + ")");
  Check(progress != nullptr && WideText(GetDlgItem(progress, kProgressFileLine)) == fileLine,
        what + ": the progress window reads \"" + fileLine + "\"");
  Dismiss(box);
  WaitGone("Larkspool", kProgressBar, "progress window");
  for (const std::string& name : written) {
    Check(HoldsPayload(folder + "\\" + name, kPayload), what + ": " + name + " is written");
  }
}

void CheckOutsideTheCodePage(HWND main, const std::string& scratch) {
  // Ł and ś are not in the Western code page.
  const std::string folder = scratch + "\\\xC5\x81ukasz";
  MakeFolder(folder);
  MakeBackup(scratch,
             folder +
                 "\\Wiadomo\xC5\x9B"
                 "ci.bkp",
             {"box01.wav"});
  CheckExtracts(main,
                folder +
                    "\\Wiadomo\xC5\x9B"
                    "ci.bkp",
                folder, {"box01.wav"},
                "Backup File: Wiadomo\xC5\x9B"
                "ci.bkp",
                "a folder named outside the code page");

  std::string deep = scratch + "\\long";
  MakeFolder(deep);
  for (char letter : std::string("abc")) {
    deep += "\\" + std::string(90, letter);
    MakeFolder(deep);
  }
  MakeBackup(scratch, deep + "\\deep.bkp", {"deep.wav"});
  CheckExtracts(main, deep + "\\deep.bkp", deep, {"deep.wav"}, "Backup File: deep.bkp",
                "a path of " + std::to_string(deep.size() + 9) + " characters");
}

// On a Japanese system (code page 932) the second byte of 表 is "\", of ポ "|".
void CheckCodePage932(const std::string& program, const std::string& scratch) {
  const std::string folder = scratch + "\\\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";  // データ
  MakeFolder(folder);
  const std::string backup = folder + "\\\xE8\xA1\xA8.bkp";  // 表.bkp
  MakeBackup(scratch, backup, {"\x95\x5C.wav", "\x83\x7C.wav"});
  Program japanese = StartWith(program, scratch, "");
  CheckExtracts(japanese.main, backup, folder, {"\xE8\xA1\xA8.wav", "\xE3\x83\x9D.wav"},
                "Backup File: \xE8\xA1\xA8.bkp", "CP932 names");
  Close(japanese);
}

// What a message box's icon control shows on the screen: the pixels of
// `control`, and of `icon` drawn as the control draws it (over the colour of
// its corner), in bitmaps of the control's size.
std::vector<std::uint32_t> Pixels(HWND control, HICON icon) {
  RECT place;
  GetWindowRect(control, &place);
  const int width = place.right - place.left;
  const int height = place.bottom - place.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, width, height, screen, place.left, place.top, SRCCOPY);
  if (icon != nullptr) {
    HBRUSH corner = CreateSolidBrush(GetPixel(dc, 0, 0));
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, corner);
    DeleteObject(corner);
    DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
  }
  GdiFlush();
  const auto* first = static_cast<const std::uint32_t*>(bits);
  std::vector<std::uint32_t> pixels(first, first + width * height);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Which of the system's four message box icons `box` shows: the one whose
// picture differs from the screen in the fewest pixels.
std::string IconOf(HWND box) {
  constexpr int kIconControl = 0x0440;
  HWND control = GetDlgItem(box, kIconControl);
  if (control == nullptr || !IsWindowVisible(control)) return "none";
  SetForegroundWindow(box);
  Sleep(300);
  const std::vector<std::uint32_t> shown = Pixels(control, nullptr);
  const struct {
    const char* name;
    LPCSTR id;
  } icons[] = {{"question", IDI_QUESTION},
               {"information", IDI_INFORMATION},
               {"warning", IDI_WARNING},
               {"error", IDI_ERROR}};
  std::string best = "none";
  std::size_t fewest = shown.size() / 4;  // a quarter or more is no match
  for (const auto& icon : icons) {
    const std::vector<std::uint32_t> drawn = Pixels(control, LoadIconA(nullptr, icon.id));
    std::size_t differ = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) differ += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
    if (differ < fewest) {
      fewest = differ;
      best = icon.name;
    }
  }
  return best;
}

const char kSalvageOffer[] = "The backup is damaged. Save the messages that can still be read?";
const larkspool::testing::Bytes kDamagedA = larkspool::testing::WavPayload(900, 1);
const larkspool::testing::Bytes kDamagedC = larkspool::testing::WavPayload(700, 3);

// A kind 3 backup of a.wav, b.wav and c.wav where b.wav is 300 bytes that
// are no WAV file: an Extract stops there with a.wav written.
void MakeDamagedBackup(const std::string& path) {
  larkspool::testing::BackupBuilder::Single(larkspool::BackupKind::k3)
      .Entry("a.wav", kDamagedA)
      .Entry("b.wav", larkspool::testing::Bytes(300, 0x55))
      .Entry("c.wav", kDamagedC)
      .WriteTo(path);
}

// An Extract that stops at a damaged entry offers to save what can still be
// read: No leaves the folder as the run left it, Yes goes on past the entry
// and sums up.
void CheckSalvageOffer(HWND main, const std::string& scratch) {
  const std::string backup = scratch + "\\damaged.bkp";
  MakeDamagedBackup(backup);
  const auto inFront = [main](HWND box, const std::string& what) {
    Check(GetWindow(box, GW_OWNER) == main && GetForegroundWindow() == box &&
              FindDialog("Larkspool", kProgressBar) == nullptr,
          what + " is owned by the main window and in front, the progress window gone");
  };
  for (const bool yes : {false, true}) {
    const std::string answer = yes ? "Yes" : "No";
    const std::string folder = scratch + "\\salvage-" + answer;
    MakeFolder(folder);
    Extract(main, backup, folder);
    ExpectMessage("Wave file format error.");
    HWND box = WaitMessage(kSalvageOffer);
    inFront(box, "the offer");
    const std::string icon = IconOf(box);
    Check(icon == "question", "the offer shows the question icon (" + icon + ")");
    Check(Text(GetDlgItem(box, IDYES)) == "&Yes" && Text(GetDlgItem(box, IDNO)) == "&No" &&
              GetDlgItem(box, IDOK) == nullptr && GetDlgItem(box, IDCANCEL) == nullptr,
          "the offer has the buttons Yes and No only");
    Press(box, yes ? IDYES : IDNO);
    if (yes) {
      const std::string summary =
          "2 messages saved, 0 in part, 0 without their names; the damaged parts are listed in " + folder +
          "\\larkspool-salvage.txt";
      box = WaitMessage(summary);
      inFront(box, "the summary");
      Check(IconOf(box) == "information", "the summary shows the information icon");
      Dismiss(box);
    }
    WaitGone("Larkspool", kProgressBar, "progress window after the offer");
    Sleep(500);
    Check(FindDialog("Larkspool", kMessageText) == nullptr, answer + " to the offer: no further message");
    const std::string report = folder + "\\larkspool-salvage.txt";
    std::string reportText;
    Check(Holds(folder + "\\a.wav", kDamagedA) && FilesIn(folder) == (yes ? 3 : 1) &&
              (!yes || Holds(folder + "\\c.wav", kDamagedC)) && ReadFile(report, reportText) == yes,
          answer + " to the offer: the folder holds " +
              (yes ? "a.wav, c.wav and larkspool-salvage.txt" : "a.wav only"));
    if (yes) {
      Check(reportText.rfind("Backup: " + backup + "\n", 0) == 0 &&
                reportText.find("\nlost  b.wav ") != std::string::npos,
            "the report names the backup and b.wav as lost");
    }
  }
}

int Home(const std::string& program, const std::string& scratch) {
  CheckStartArguments(program, scratch);
  Program larkspool = Start(program, scratch);
  CheckNamesAndBrowsing(larkspool);
  CheckKeys(larkspool.main, scratch);
  CheckAnswersDuringAPayload(larkspool.main, scratch);
  CheckAmpersandAndRefusal(larkspool.main, scratch);
  CheckOutsideTheCodePage(larkspool.main, scratch);
  CheckSalvageOffer(larkspool.main, scratch);
  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

int Japanese(const std::string& program, const std::string& scratch) {
  if (GetACP() != 932) Abort("the ANSI code page is " + std::to_string(GetACP()) + ", not 932");
  CheckCodePage932(program, scratch);
  return failures == 0 ? 0 : 1;
}

// Brings `window` to the front and has the caller grab it.
void Shot(const char* name, HWND window) {
  SetForegroundWindow(window);
  Sleep(400);
  RECT frame;
  RECT client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  std::printf("SHOT %s %ld %ld %ld %ld client %ld x %ld\n", name, frame.left, frame.top,
              frame.right - frame.left, frame.bottom - frame.top, client.right, client.bottom);
  std::fflush(stdout);
  std::string done;
  std::getline(std::cin, done);
}

int Screenshots(const std::string& program, const std::string& scratch) {
  Program larkspool = Start(program, scratch);
  HWND main = larkspool.main;

  ClickExtract(main);
  HWND box = WaitMessage("Backup file and Extraction folder are not specified.");
  Shot("message-warning", box);
  Dismiss(box);

  SetText(main, kBackupEdit, scratch + "\\kind5-protected.bkp");
  SetText(main, kFolderEdit, scratch + "\\out");
  Shot("main-window", main);
  ClickExtract(main);
  HWND prompt = WaitFor("password entry", kPasswordEdit, "password prompt");
  SetText(prompt, kPasswordEdit, "1357");
  Shot("password", prompt);
  Press(prompt, IDOK);
  box = WaitMessage("The password is not correct.");
  Shot("message-stop", box);
  Dismiss(box);

  ClickExtract(main);
  EnterPassword("2468");
  box = WaitMessage("Extraction completed.");
  HWND progress = FindDialog("Larkspool", kProgressBar);
  if (progress == nullptr) Abort("no progress window behind the completion message");
  // The box moves aside while the window behind it is grabbed.
  RECT place;
  GetWindowRect(box, &place);
  SetWindowPos(box, nullptr, 0, 700, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Shot("progress", progress);
  SetWindowPos(box, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Shot("message-information", box);
  Dismiss(box);

  ClickExtract(main);
  EnterPassword("2468");
  prompt = WaitOverwrite(kExpected[0].name);
  Shot("overwrite", prompt);
  Press(prompt, kOverwriteCancel);
  WaitGone("Larkspool", kProgressBar, "progress window after Cancel");

  MakeDamagedBackup(scratch + "\\damaged.bkp");
  MakeFolder(scratch + "\\salvage");
  Extract(main, scratch + "\\damaged.bkp", scratch + "\\salvage");
  ExpectMessage("Wave file format error.");
  box = WaitMessage(kSalvageOffer);
  Shot("salvage-offer", box);
  Press(box, IDYES);
  box = WaitFor("Larkspool", kMessageText, "the salvage summary");
  Shot("salvage-summary", box);
  Dismiss(box);

  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

// The size in pixels of `width` x `height` dialog units of a template in
// Tahoma 9 point at `dpi`, worked out as the dialog manager does: the average
// width of the Latin letters and the font's height are 4 and 8 units.
SIZE TemplateSize(int width, int height, int dpi) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HFONT font = CreateFontA(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "Tahoma");
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE extent;
  GetTextExtentPoint32A(dc, letters, 52, &extent);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  const int unitX = (extent.cx / 26 + 1) / 2;
  return {MulDiv(width, unitX, 4), MulDiv(height, metrics.tmHeight, 8)};
}

// How wide the yellow of the folder on `button` is on the screen, in pixels.
int YellowWidth(HWND button) {
  SetForegroundWindow(GetParent(button));
  Sleep(400);
  RECT place;
  GetWindowRect(button, &place);
  HDC screen = GetDC(nullptr);
  LONG left = place.right;
  LONG right = place.left - 1;
  for (LONG y = place.top; y < place.bottom; ++y) {
    for (LONG x = place.left; x < place.right; ++x) {
      if (GetPixel(screen, x, y) != RGB(255, 255, 0)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
    }
  }
  ReleaseDC(nullptr, screen);
  return static_cast<int>(right - left + 1);
}

// The main window at the system's DPI: the template's 270 x 94 units in
// pixels at that DPI, and the browse picture drawn for it. (Wine reports every
// program as per-monitor aware, with its manifest or without, so that is not
// checked here.)
int Dpi(const std::string& program, const std::string& scratch, int dpi) {
  Program larkspool = Start(program, scratch);
  RECT client;
  GetClientRect(larkspool.main, &client);
  std::printf("main window client area at %d DPI: %ld x %ld\n", dpi, client.right, client.bottom);
  const SIZE expected = dpi == 96 ? SIZE{473, 165} : TemplateSize(270, 94, dpi);
  Check(client.right == expected.cx && client.bottom == expected.cy,
        "the main window's client area is " + std::to_string(expected.cx) + " x " +
            std::to_string(expected.cy) + " at " + std::to_string(dpi) + " DPI");
  // Scaled with the DPI, not with the rounding of one font size.
  const double scale = dpi / 96.0;
  Check(std::abs(client.right - 473 * scale) < 0.06 * 473 * scale &&
            std::abs(client.bottom - 165 * scale) < 0.06 * 165 * scale,
        "the client area grows with the DPI from 473 x 165 at 96");
  // The browse picture is drawn for the DPI, not the 100 % one left small.
  const int pictureWidth = MulDiv(16, dpi, 96);
  const int shown = YellowWidth(GetDlgItem(larkspool.main, kBrowseFile));
  std::printf("browse picture's folder at %d DPI: %d pixels wide\n", dpi, shown);
  Check(shown > pictureWidth * 3 / 4 && shown <= pictureWidth,
        "the browse button shows the picture drawn for " + std::to_string(dpi) + " DPI");
  Close(larkspool);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool dpiMode = argc == 5 && std::string(argv[1]) == "dpi";
  if (argc != 4 && !dpiMode) {
    std::fprintf(stderr,
                 "usage: %s smoke|home|japanese|screenshots PROGRAM SCRATCH-FOLDER\n"
                 "       %s dpi PROGRAM SCRATCH-FOLDER DPI\n",
                 argv[0], argv[0]);
    return 64;
  }
  const std::string mode = argv[1];
  char program[MAX_PATH];
  char scratch[MAX_PATH];
  GetFullPathNameA(argv[2], MAX_PATH, program, nullptr);
  GetFullPathNameA(argv[3], MAX_PATH, scratch, nullptr);
  if (mode == "smoke") return Smoke(program, scratch);
  if (mode == "screenshots") return Screenshots(program, scratch);
  if (dpiMode) return Dpi(program, scratch, std::atoi(argv[4]));
  if (mode == "home") return Home(program, scratch);
  if (mode == "japanese") return Japanese(program, scratch);
  return 64;
}
