// What Windows does to files and names, end to end through the real file
// layer: bytes pass untranslated, names Windows would turn into a device, a
// stream or another name are refused before anything is created, and an
// existing file is replaced only when it is a regular file with one name.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/extract_request.h"
#include "app/inspect_request.h"
#include "archive/backup_format.h"
#include "archive/entry_options.h"
#include "builder/backup_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;

// A WAV payload whose body holds every byte a text-mode runtime would change:
// Ctrl-Z (end of file), CR, LF and CR LF.
Bytes TextTrapPayload() {
  Bytes payload = WavPayload(12);
  for (int i = 0; i < 40000; ++i) {
    const std::uint8_t pattern[] = {0x1A, '\r', '\n', '\r', '\r', '\n', '\n', 0x1A};
    payload.push_back(pattern[i % 8]);
  }
  return payload;
}

const Bytes kOld{'o', 'l', 'd'};

TEST(WindowsFilesTest, NamesAndFilesWindowsWouldAlterAreNeverWritten) {
  enum class Expect { kWritten, kRefused, kNotReplaced };
  struct Case {
    std::string name;
    Expect expect;
    std::string reason;  // the detail of System error(9), after the name
    std::function<void(const std::string&, const std::string&)> put;  // (at, outside): what stands there
  };
  const Bytes trap = TextTrapPayload();
  const std::string altered(kAlteredNameReason);
  const std::string leaves(kUnsafeNameReason);
  std::vector<Case> cases = {
      {"crlf.wav", Expect::kWritten, "", nullptr},
      {"a\\b.wav", Expect::kRefused, leaves, nullptr},
      {"..\\up.wav", Expect::kRefused, leaves, nullptr},
      {"\\root.wav", Expect::kRefused, leaves, nullptr},
      {"C:drive.wav", Expect::kRefused, leaves, nullptr},
      {"z:\\abs.wav", Expect::kRefused, leaves, nullptr},
      {"ab:c.wav", Expect::kRefused, altered, nullptr},
      {"a.wav:stream", Expect::kRefused, altered, nullptr},
      {"dot.wav.", Expect::kRefused, altered, nullptr},
      {"blank.wav ", Expect::kRefused, altered, nullptr},
      {"tab\t.wav", Expect::kRefused, altered, nullptr},
      {"bell\x07", Expect::kRefused, altered, nullptr},
      // A hard link: replacing it would change the file outside the folder.
      {"hard.wav", Expect::kNotReplaced, "Too many links",
       [](const std::string& at, const std::string& outside) {
         ASSERT_NE(::CreateHardLinkA(at.c_str(), outside.c_str(), nullptr), 0);
       }},
      // A folder under the name is not a file to replace.
      {"folder.wav", Expect::kNotReplaced, "",
       [](const std::string& at, const std::string&) { fs::create_directory(at); }},
  };
  for (const char* device : {"CON", "prn", "Aux", "NUL", "nul.wav", "CON .wav", "COM1", "com9.wav", "LPT1",
                             "lpt9.txt", "COM0", "COM\xB9", "LPT\xB3.wav", "CONIN$", "conout$.wav"}) {
    cases.push_back({device, Expect::kRefused, altered, nullptr});
  }
  for (const char c : std::string("<>\"|?*")) {
    cases.push_back({std::string("x") + c + ".wav", Expect::kRefused, altered, nullptr});
  }

  // One case a call, so a failed ASSERT ends that case alone.
  const auto check = [&trap](const Case& c) {
    ScratchDir scratch;
    const std::string folder = scratch / "out";
    const std::string outside = scratch / "outside.wav";
    fs::create_directory(folder);
    WriteFile(outside, kOld);
    if (c.put) c.put(folder + "\\" + c.name, outside);
    const std::string backup = scratch / "box.bkp";
    BackupBuilder::Single(BackupKind::k3).Entry(c.name, trap).WriteTo(backup);
    const Files scratchBefore = FilesIn(scratch.path());
    const Files folderBefore = FilesIn(folder);

    FakeUi ui;
    ui.overwriteAnswers = {OverwriteAnswer::kYes};
    const RunResult result = Extractor(NativeFileSystem(), ui).OnExtract(backup, folder);

    if (c.expect == Expect::kWritten) {
      EXPECT_EQ(result, RunResult::kCompleted);
      EXPECT_EQ(FilesIn(folder), (Files{{c.name, trap}}));
      return;
    }
    EXPECT_EQ(result, RunResult::kFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "System error(9)");
    // The detail names the entry as the program holds it: read in the ANSI
    // code page, in UTF-8.
    const std::string shown = NameFromStored(c.name).value_or(c.name);
    if (!c.reason.empty()) {
      EXPECT_EQ(ui.messages[0].detail, shown + ": " + c.reason);
    }
    // A refused name is refused before the overwrite prompt; a file that
    // stands there is asked about first.
    EXPECT_EQ(ui.overwritePrompts.size(), c.expect == Expect::kNotReplaced ? 1u : 0u);
    EXPECT_EQ(FilesIn(folder), folderBefore);
    EXPECT_EQ(FilesIn(scratch.path()), scratchBefore);
    EXPECT_EQ(ReadFile(outside), kOld);
    if (c.expect == Expect::kRefused) {
      // list names the same refusal, before anything would be written.
      FakeUi lister;
      BackupListing listing;
      EXPECT_EQ(InspectBackup(NativeFileSystem(), lister, backup, ScanMode::kList, listing),
                RunResult::kFailed);
      ASSERT_EQ(lister.messages.size(), 1u);
      EXPECT_EQ(lister.messages[0].detail, shown + ": " + c.reason);
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    check(c);
  }
}

// On a Japanese system (ANSI code page 932) a stored name is read as CP932
// before it is checked and written: the second byte of a double-byte
// character is never a separator or a forbidden character, and the file gets
// the name the system shows. ctest runs this suite with LC_ALL=ja_JP.UTF-8,
// which gives a Wine process code page 932.
TEST(WindowsCodePageNamesTest, StoredNamesAreCheckedAndWrittenAsTheCodePageReadsThem) {
  if (::GetACP() != 932) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 932";
  struct Case {
    std::string stored;
    std::wstring written;  // empty: refused with System error(9)
    std::string reason;
  };
  const Case cases[] = {
      {"\x95\x5C.wav", L"\u8868.wav", ""},                              // 表: second byte '\'
      {"\x83\x7C.wav", L"\u30DD.wav", ""},                              // ポ: second byte '|'
      {"\x83\x5C\x83\x74\x83\x67.wav", L"\u30BD\u30D5\u30C8.wav", ""},  // ソフト
      {"\x95\x5C\\x.wav", L"", std::string(kUnsafeNameReason)},         // a true '\' after 表
      {"\x95\x5C|.wav", L"", std::string(kAlteredNameReason)},          // a true '|'
      {"\x95", L"", std::string(kNotInCodePageReason)},                 // a lead byte alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ScratchDir scratch;
    const std::string folder = scratch / "out";
    fs::create_directory(folder);
    const std::string backup = scratch / "box.bkp";
    BackupBuilder::Single(BackupKind::k3).Entry(c.stored, WavPayload(100)).WriteTo(backup);
    FakeUi ui;
    const RunResult result = Extractor(NativeFileSystem(), ui).OnExtract(backup, folder);
    if (!c.written.empty()) {
      EXPECT_EQ(result, RunResult::kCompleted);
      EXPECT_TRUE(fs::exists(fs::path(folder) / c.written));
      continue;
    }
    EXPECT_EQ(result, RunResult::kFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "System error(9)");
    EXPECT_NE(ui.messages[0].detail.find(c.reason), std::string::npos) << ui.messages[0].detail;
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

// Bytes that are not UTF-8 name no file: the file layer refuses them with
// EILSEQ instead of making up a name with U+FFFD in it, and extraction says
// so and writes nothing.
TEST(WindowsFilesTest, BytesThatAreNotUtf8NameNoFile) {
  const char* const cases[] = {
      "M\xFCller.wav",         // CP1252, as stored
      "cut\xC3",               // a sequence cut short
      "\xC0\xAF.wav",          // '/' in an overlong form
      "\xED\xA0\x80.wav",      // an encoded surrogate
      "\xF4\x90\x80\x80.wav",  // past U+10FFFF
      "\xFF.wav",
  };
  FileSystem& files = NativeFileSystem();
  for (const char* name : cases) {
    SCOPED_TRACE(name);
    ScratchDir scratch;
    const std::string folder = scratch / "out";
    fs::create_directory(folder);
    ASSERT_TRUE(files.ChangeDirectory(folder.c_str()));
    errno = 0;
    EXPECT_EQ(files.CreateExclusive(name), kNoFile);
    EXPECT_EQ(errno, EILSEQ);
    errno = 0;
    EXPECT_EQ(files.OpenRead(name), kNoFile);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_FALSE(files.ChangeDirectory(name));
    EXPECT_EQ(AbsolutePath(name), name);

    const std::string backup = scratch / "box.bkp";
    BackupBuilder::Single(BackupKind::k3).Entry(name, WavPayload(100)).WriteTo(backup);
    FakeUi ui;
    Extractor extractor(files, ui);
    // A mapping that hands the stored bytes on as they are.
    extractor.set_entry_options({[](std::string_view stored) { return std::string(stored); }, "", nullptr});
    EXPECT_EQ(extractor.OnExtract(backup, folder), RunResult::kFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "System error(9)");
    EXPECT_EQ(ui.messages[0].detail, std::string(name) + ": " + std::strerror(EILSEQ));
    EXPECT_TRUE(fs::is_empty(folder));
  }
  // The same name in UTF-8 is written under it.
  ScratchDir scratch;
  ASSERT_TRUE(files.ChangeDirectory(scratch.path().c_str()));
  const FileHandle file = files.CreateExclusive("M\xC3\xBCller.wav");
  ASSERT_NE(file, kNoFile);
  files.Close(file);
  EXPECT_TRUE(fs::exists(fs::path(scratch.path()) / L"M\u00FCller.wav"));
}

// A folder of about 250 characters, whose files' full paths pass 260: each
// goes to the system whole, in the long form. (Wine takes any length, so
// the rules themselves are tested on their own in PathFormsTest.)
TEST(WindowsFilesTest, ExtractsIntoAFolderOfAbout250Characters) {
  ScratchDir scratch;
  std::string folder = scratch.path();
  while (folder.size() < 190) folder.append("\\").append(60, 'f');
  folder += '\\';
  folder.append(250 - folder.size(), 'g');
  ASSERT_EQ(folder.size(), 250u);
  fs::create_directories(folder);
  // The longest name a backup holds.
  const std::string longName = std::string(format::kNameFieldSize - 4, 'n') + ".wav";
  const Files expected = {{"a.wav", WavPayload(100)}, {longName, TextTrapPayload()}};
  BackupBuilder backup = BackupBuilder::Single(BackupKind::k3);
  for (const auto& [name, payload] : expected) backup.Entry(name, payload);
  backup.WriteTo(scratch / "box.bkp");
  FakeUi ui;
  EXPECT_EQ(Extractor(NativeFileSystem(), ui).OnExtract(scratch / "box.bkp", folder), RunResult::kCompleted);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Extraction completed."});
  EXPECT_EQ(FilesIn(folder), expected);
}

// Wine cannot make symbolic links or junctions (CreateSymbolicLinkA reports
// success and makes nothing), and Windows makes them only with the right
// privilege or developer mode: the test runs where a link can be made.
TEST(WindowsFilesTest, SymbolicLinkAtAnOutputNameIsNotFollowed) {
  ScratchDir scratch;
  const std::string folder = scratch / "out";
  const std::string outside = scratch / "outside.wav";
  const std::string at = folder + "\\link.wav";
  fs::create_directory(folder);
  WriteFile(outside, kOld);
  ::CreateSymbolicLinkA(at.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = ::GetFileAttributesA(at.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "this system makes no symbolic links";
  }
  const std::string backup = scratch / "box.bkp";
  BackupBuilder::Single(BackupKind::k3).Entry("link.wav", WavPayload(100)).WriteTo(backup);
  FakeUi ui;
  ui.overwriteAnswers = {OverwriteAnswer::kYes};
  EXPECT_EQ(Extractor(NativeFileSystem(), ui).OnExtract(backup, folder), RunResult::kFailed);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"System error(9)"});
  EXPECT_EQ(ReadFile(outside), kOld);
  EXPECT_NE(::GetFileAttributesA(at.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
}

}  // namespace
}  // namespace larkspool::testing
