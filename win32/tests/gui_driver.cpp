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
//   larkspool-gui-driver screenshots PROGRAM SCRATCH
//     shows each window and prints "SHOT NAME LEFT TOP WIDTH HEIGHT" for it,
//     then waits for a line on stdin (the caller has grabbed the screen).
//   larkspool-gui-driver dpi PROGRAM SCRATCH DPI
//     checks that the main window is laid out for a display of DPI (the
//     system's, set by the caller), its browse picture drawn for it.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kMainExtract = 1004;
constexpr int kBrowseFile = 1001;
constexpr int kBackupEdit = 1000;
constexpr int kFolderEdit = 1002;
constexpr int kPasswordEdit = 1005;
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

int failures = 0;
DWORD programProcess = 0;

void Check(bool holds, const std::string& what) {
  std::printf("%s: %s\n", holds ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!holds) ++failures;
}

[[noreturn]] void Abort(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  if (programProcess != 0) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, programProcess);
    if (process != nullptr) TerminateProcess(process, 1);
  }
  std::exit(1);
}

std::string Text(HWND window) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                      &copied);
  return text;
}

// The program's visible dialog with this title that has control `marker`.
HWND FindDialog(const char* title, int marker) {
  struct Search {
    const char* title;
    int marker;
    HWND found;
  } search{title, marker, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char windowClass[16] = {};
        GetClassNameA(window, windowClass, sizeof windowClass);
        if (process != programProcess || !IsWindowVisible(window) || std::string(windowClass) != "#32770")
          return TRUE;
        if (Text(window) != s.title || GetDlgItem(window, s.marker) == nullptr) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitFor(const char* title, int marker, const std::string& what) {
  for (int tries = 0; tries < 600; ++tries) {
    if (HWND window = FindDialog(title, marker)) {
      Sleep(100);  // let it finish its start-up
      return window;
    }
    Sleep(50);
  }
  Abort("no window came up: " + what);
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

// A click as the button sends it; posted, because it may open modal windows.
void Click(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Clicks Extract once the main window takes input again, as a user can.
void ClickExtract(HWND main) {
  for (int tries = 0; tries < 600 && !IsWindowEnabled(main); ++tries) Sleep(50);
  if (!IsWindowEnabled(main)) Abort("the main window stays disabled");
  Click(main, kMainExtract);
}

// Clicks a button of a prompt or message box and waits until that window has
// gone, so that the next search cannot find it again.
void Press(HWND window, int id) {
  Click(window, id);
  for (int tries = 0; tries < 600; ++tries) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return;
    Sleep(50);
  }
  Abort("window stays up after a click on " + std::to_string(id));
}

// Waits for the message box and checks its text.
HWND WaitMessage(const std::string& text) {
  HWND box = WaitFor("Larkspool", kMessageText, "message \"" + text + "\"");
  Check(Text(GetDlgItem(box, kMessageText)) == text, "message box reads \"" + text + "\"");
  return box;
}

void Dismiss(HWND box) { Press(box, IDOK); }

void ExpectMessage(const std::string& text) { Dismiss(WaitMessage(text)); }

void EnterPassword(const std::string& digits) {
  HWND prompt = WaitFor("password entry", kPasswordEdit, "password prompt");
  SetText(prompt, kPasswordEdit, digits);
  Press(prompt, IDOK);
}

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

bool ReadFile(const std::string& path, std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  char chunk[16384];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return true;
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
    std::fprintf(
        stderr,
        "usage: %s smoke|screenshots PROGRAM SCRATCH-FOLDER\n       %s dpi PROGRAM SCRATCH-FOLDER DPI\n",
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
  return 64;
}
