// Many backups at once, run as the real program: a folder of sound,
// protected, damaged and foreign backups, with two of the same name, checked
// for the folders made, every file against the payloads the backups were
// built from, the table, the JSON and the exit status; the same files at any
// number of jobs; Ctrl-C in the middle; the password file's permissions.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
// After <windows.h>, whose types it needs.
#include <aclapi.h>
#else
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "builder/backup_builder.h"
#include "platform/file_system.h"
#include "tests/support/cli_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const Bytes kWavA = WavPayload(40000, 1);
const Bytes kWavB = WavPayload(100, 2);
const Bytes kWavC = WavPayload(3000, 3);
const Bytes kWavD = WavPayload(5000, 4);
const Bytes kWavE = WavPayload(700, 5);
const Bytes kNotes = {'T', 'h', 'e', 's', 'e', ' ', 'a', 'r', 'e', ' ', 'n', 'o', 't', 'e', 's',
                      ',', ' ', 'n', 'o', 't', ' ', 'a', ' ', 'b', 'a', 'c', 'k', 'u', 'p', '.'};

// in/: every kind of backup a folder of mailboxes holds; in/sub/ one more
// sound.bkp, found with -r.
//   damaged.bkp  first.wav, then an entry whose payload has no WAV tags
//   locked.bkp   protected by 1234, which the password file gives
//   notes.bkp    no backup at all
//   sound.bkp    a.wav and b.wav
//   unknown.bkp  protected by 987, which nobody gives
void WriteMixedFolder(const ScratchDir& dir) {
  fs::create_directories(dir / "in" + "/sub");
  BackupBuilder::Single(BackupKind::k3)
      .Entry("first.wav", kWavC)
      .Entry("broken.wav", Bytes(64, 0))
      .WriteTo(dir / "in/damaged.bkp");
  BackupBuilder::Paired("1234").Files("c.wav", kWavC, "d.wav", kWavD).WriteTo(dir / "in/locked.bkp");
  WriteFile(dir / "in/notes.bkp", kNotes);
  BackupBuilder::Single(BackupKind::k3)
      .Entry("a.wav", kWavA)
      .Entry("b.wav", kWavB)
      .WriteTo(dir / "in/sound.bkp");
  BackupBuilder::Paired("987").Files("x.wav", kWavA).WriteTo(dir / "in/unknown.bkp");
  BackupBuilder::Single(BackupKind::k4).Entry("e.wav", kWavE).WriteTo(dir / "in/sub/sound.bkp");
}

// A password file kept to its owner as `chmod 600` keeps it, or with
// `others` readable by others too. On Windows the file is made with an
// access list of its own (the current user, and Everyone reading), which
// Wine also turns into the host file's permissions.
void WritePasswordFile(const std::string& path, const std::string& text, bool others = false) {
#ifdef _WIN32
  HANDLE token = nullptr;
  ASSERT_NE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token), 0);
  alignas(TOKEN_USER) unsigned char user[256];
  DWORD size = 0;
  ASSERT_NE(::GetTokenInformation(token, TokenUser, user, sizeof user, &size), 0);
  ::CloseHandle(token);
  unsigned char everyone[SECURITY_MAX_SID_SIZE];
  DWORD everyoneSize = sizeof everyone;
  ASSERT_NE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize), 0);
  EXPLICIT_ACCESSW access[2] = {};
  for (EXPLICIT_ACCESSW& entry : access) {
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  }
  access[0].grfAccessPermissions = FILE_ALL_ACCESS;
  access[0].Trustee.ptstrName = static_cast<LPWSTR>(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  access[1].grfAccessPermissions = FILE_GENERIC_READ;
  access[1].Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  ASSERT_EQ(::SetEntriesInAclW(others ? 2 : 1, access, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR descriptor{};
  ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  HANDLE file = ::CreateFileW(fs::path(path).wstring().c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ::LocalFree(acl);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  const BOOL wrote = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(wrote != 0 && written == text.size());
#else
  WriteFile(path, Bytes(text.begin(), text.end()));
  ASSERT_EQ(::chmod(path.c_str(), others ? 0644 : 0600), 0);
#endif
}

// The folders under `outdir` with the files each holds.
std::map<std::string, Files> FoldersIn(const std::string& outdir) {
  std::map<std::string, Files> folders;
  for (const fs::directory_entry& entry : fs::directory_iterator(outdir)) {
    if (entry.is_directory()) folders[entry.path().filename().string()] = FilesIn(entry.path().string());
  }
  return folders;
}

// What each backup of the mixed folder leaves behind, from the payloads it
// was built from: no folder for a backup that is none or that nobody can
// open, and the file before the damage.
const std::map<std::string, Files> kExtracted = {
    {"damaged", {{"first.wav", kWavC}}},
    {"locked", {{"c.wav", kWavC}, {"d.wav", kWavD}}},
    {"sound", {{"a.wav", kWavA}, {"b.wav", kWavB}}},
    {"sound (2)", {{"e.wav", kWavE}}},
};

struct Row {
  std::string status;
  std::string folder;  // relative to OUTDIR; "" for none
  int kind;            // 0 for none
  std::uint64_t messages;
  std::uint64_t bytes;
  std::string message;
};
// In the order the batch takes them: in/ by name, then in/sub/.
const std::vector<std::pair<std::string, Row>> kExtractRows = {
    {"in/damaged.bkp", {"failed", "damaged", 3, 1, kWavC.size(), "Wave file format error.: broken.wav"}},
    {"in/locked.bkp", {"completed", "locked", 5, 2, kWavC.size() + kWavD.size(), "Extraction completed."}},
    {"in/notes.bkp", {"failed", "", 0, 0, 0, "This file is not a voice backup data."}},
    {"in/sound.bkp", {"completed", "sound", 3, 2, kWavA.size() + kWavB.size(), "Extraction completed."}},
    {"in/unknown.bkp",
     {"skipped", "", 5, 0, 0,
      "password-protected, and no password is known (--password-file, or run on a terminal)"}},
    {"in/sub/sound.bkp", {"completed", "sound (2)", 4, 1, kWavE.size(), "Extraction completed."}},
};

std::string Native(std::string path) {
#ifdef _WIN32
  for (char& c : path) c = c == '/' ? '\\' : c;
#endif
  return path;
}

// Two jobs' file systems side by side: each creates, checks and removes files
// in the folder it entered (a relative folder from there on), one that cannot
// be entered leaves it where it was, and the process's current directory
// never moves.
TEST(OwnFolderTest, EachFileSystemWorksInTheFolderItEntered) {
  ScratchDir dir;
  fs::create_directories(dir / "a" + "/deeper");
  fs::create_directory(dir / "b");
  const fs::path before = fs::current_path();
  const std::unique_ptr<FileSystem> one = NewFileSystemWithOwnFolder();
  const std::unique_ptr<FileSystem> two = NewFileSystemWithOwnFolder();
  ASSERT_TRUE(one->ChangeDirectory((dir / "a").c_str()));
  ASSERT_TRUE(two->ChangeDirectory((dir / "b").c_str()));
  ASSERT_TRUE(one->ChangeDirectory("deeper"));
  EXPECT_FALSE(two->ChangeDirectory("none"));
  const auto write = [](FileSystem& files, const char* name, char byte) {
    ScopedFile file(files, files.CreateExclusive(name));
    ASSERT_TRUE(file.valid()) << name;
    ASSERT_EQ(files.Write(file.get(), &byte, 1), 1);
  };
  write(*one, "x.wav", '1');
  write(*two, "x.wav", '2');
  write(*two, "y.wav", '3');
  {
    ScopedFile again(*one, one->CreateExclusive("x.wav"));
    EXPECT_FALSE(again.valid());
    ScopedFile replaced(*one, one->OpenForOverwrite("x.wav"));
    EXPECT_TRUE(replaced.valid());
    ScopedFile read(*two, two->OpenRead("y.wav"));
    ASSERT_TRUE(read.valid());
    EXPECT_TRUE(two->SameFile("y.wav", read.get()));
    EXPECT_FALSE(one->SameFile("y.wav", read.get()));
  }
  EXPECT_TRUE(two->Unlink("y.wav"));
  EXPECT_FALSE(one->Unlink("y.wav"));
  EXPECT_EQ(FilesIn(dir / "a" + "/deeper"), (Files{{"x.wav", {}}}));
  EXPECT_EQ(FilesIn(dir / "b"), (Files{{"x.wav", {'2'}}}));
  EXPECT_EQ(FilesIn(dir / "a"), Files{});
  EXPECT_EQ(fs::current_path(), before);
}

class BatchTest : public ::testing::TestWithParam<int> {};

// At every number of jobs the same folders, the same files (each equal to
// the payload it was built from), the same JSON rows, and exit status 1: not
// every backup completed, and the others went on regardless.
TEST_P(BatchTest, MixedFolderExtractsEveryBackupItCan) {
  ScratchDir dir;
  WriteMixedFolder(dir);
  WritePasswordFile(dir / "pw", "# mailbox passwords\nlocked\t1234\r\nother\t55\n");
  const Process run = RunCli({"extract", "--each", "out", "in", "-r", "--password-file=pw", "--json", "-j",
                              std::to_string(GetParam())},
                             dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FoldersIn(dir / "out"), kExtracted);

  const Json json = Json::parse(run.out);
  EXPECT_EQ(json["command"], "extract");
  ASSERT_EQ(json["backups"].size(), kExtractRows.size());
  for (std::size_t i = 0; i < kExtractRows.size(); ++i) {
    const auto& [backup, want] = kExtractRows[i];
    const Json& got = json["backups"][i];
    SCOPED_TRACE(backup);
    EXPECT_EQ(got["backup"], Native(backup));
    EXPECT_EQ(got["status"], want.status);
    EXPECT_EQ(got["folder"], want.folder.empty() ? Json(nullptr) : Json(Native("out/" + want.folder)));
    EXPECT_EQ(got["kind"], want.kind == 0 ? Json(nullptr) : Json(want.kind));
    EXPECT_EQ(got["messages"], want.messages);
    EXPECT_EQ(got["bytes"], want.bytes);
    EXPECT_EQ(got["message"], want.message);
    EXPECT_EQ(got["damaged"], backup == "in/damaged.bkp");
  }
  EXPECT_EQ(json["totals"]["completed"], 3);
  EXPECT_EQ(json["totals"]["failed"], 2);
  EXPECT_EQ(json["totals"]["skipped"], 1);
  EXPECT_EQ(json["totals"]["messages"], 6);
}

INSTANTIATE_TEST_SUITE_P(Jobs, BatchTest, ::testing::Values(1, 2, 4));

// The table says the same in columns, and every backup completing is exit 0.
TEST(BatchTableTest, TableHasARowPerBackupAndTheTotals) {
  ScratchDir dir;
  WriteMixedFolder(dir);
  WritePasswordFile(dir / "pw", "locked\t1234\n");
  const Process mixed = RunCli({"extract", "--each", "out", "in", "--password-file", "pw"}, dir.path());
  EXPECT_EQ(mixed.status, 1) << mixed.err;
  const std::string damaged = Native("in/damaged.bkp");
  EXPECT_EQ(
      mixed.out,
      "BACKUP          FOLDER   KIND  MESSAGES  BYTES  STATUS     MESSAGE\n" +
          Native("in/damaged.bkp  damaged     3         1   3000  failed     Wave file format error.: "
                 "broken.wav; the backup is damaged: salvage saves what can still be "
                 "read\n"
                 "in/locked.bkp   locked      5         2   8000  completed  Extraction completed.\n"
                 "in/notes.bkp    -           -         0      0  failed     This file is not a voice "
                 "backup data.\n"
                 "in/sound.bkp    sound       3         2  40100  completed  Extraction completed.\n"
                 "in/unknown.bkp  -           5         0      0  skipped    password-protected, and no "
                 "password is known (--password-file, or run on a terminal)\n") +
          "5 backups: 2 completed, 2 failed, 1 skipped; 5 messages, 51100 bytes\n");

  const Process sound =
      RunCli({"verify", "--each", "in/sound.bkp", "in/locked.bkp", "--password-file=pw"}, dir.path());
  EXPECT_EQ(sound.status, 0) << sound.err;
  EXPECT_EQ(sound.out,
            "BACKUP         KIND  MESSAGES  BYTES  STATUS     MESSAGE\n"
            "in/sound.bkp      3         2  40100  completed  OK\n"
            "in/locked.bkp     5         2   8000  completed  OK\n"
            "2 backups: 2 completed; 4 messages, 48100 bytes\n");
}

// Salvage: what each backup still holds, its report beside it when
// something was damaged; the sound backups exactly as extract writes them.
TEST(BatchTableTest, SalvageSavesWhatEachBackupHolds) {
  ScratchDir dir;
  WriteMixedFolder(dir);
  WritePasswordFile(dir / "pw", "locked\t1234\n");
  const Process run = RunCli({"salvage", "--each", "out", "in/damaged.bkp", "in/sound.bkp", "in/locked.bkp",
                              "in/unknown.bkp", "--password-file=pw", "--json"},
                             dir.path());
  EXPECT_EQ(run.status, 1) << run.err;
  const Json json = Json::parse(run.out);
  ASSERT_EQ(json["backups"].size(), 4u);
  EXPECT_EQ(json["backups"][0]["status"], "damaged");
  EXPECT_EQ(json["backups"][1]["status"], "completed");
  EXPECT_EQ(json["backups"][2]["status"], "completed");
  EXPECT_EQ(json["backups"][3]["status"], "skipped");
  std::map<std::string, Files> folders = FoldersIn(dir / "out");
  EXPECT_EQ(folders["sound"], kExtracted.at("sound"));
  EXPECT_EQ(folders["locked"], kExtracted.at("locked"));
  EXPECT_EQ(folders["damaged"]["first.wav"], kWavC);
  EXPECT_EQ(folders["damaged"].count("larkspool-salvage.txt"), 1u);
  EXPECT_EQ(folders.count("unknown"), 0u);
}

// The entry options apply to every backup; a pattern that takes no entry of
// any backup is named and fails the batch, one that some backup matched
// does not.
TEST(BatchTableTest, PatternsChooseTheEntriesOfEveryBackup) {
  ScratchDir dir;
  WriteMixedFolder(dir);
  WritePasswordFile(dir / "pw", "locked\t1234\n");
  const Process run =
      RunCli({"extract", "--each", "out", "in/sound.bkp", "in/locked.bkp", "--password-file=pw",
              "--include=a*", "--include", "[cx]*", "--exclude", "*.WAV", "-i", "--json"},
             dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FoldersIn(dir / "out"), (std::map<std::string, Files>{{"sound", {}}, {"locked", {}}}));
  const Process some =
      RunCli({"extract", "--each", "some", "in/sound.bkp", "in/locked.bkp", "--password-file=pw",
              "--include=a*", "--include", "[cx]*", "--include", "zz*"},
             dir.path());
  EXPECT_EQ(some.status, 1);
  EXPECT_EQ(some.err, "larkspool-cli: no entry of any backup matches zz*\n");
  EXPECT_EQ(FoldersIn(dir / "some"),
            (std::map<std::string, Files>{{"sound", {{"a.wav", kWavA}}}, {"locked", {{"c.wav", kWavC}}}}));
}

// The single command's options reach every backup of a batch: salvage reads
// the stored names in --name-encoding, and extract --to=pcm decodes.
TEST(BatchTableTest, EachCommandsOptionsReachEveryBackup) {
  ScratchDir dir;
  fs::create_directories(dir / "in");
  const std::string muller = "M\xFCller.wav";  // CP1252
  BackupBuilder::Single(BackupKind::k3).Entry(muller, kWavA).WriteTo(dir / "in/one.bkp");
  BackupBuilder::Paired().Files("b.wav", kWavB, muller, kWavC).WriteTo(dir / "in/two.bkp");
  const Process salvage =
      RunCli({"salvage", "--each", "saved", "in", "--name-encoding=CP1252", "-q"}, dir.path());
  EXPECT_EQ(salvage.status, 0) << salvage.err;
  EXPECT_EQ(FoldersIn(dir / "saved"),
            (std::map<std::string, Files>{{"one", {{"M\xC3\xBCller.wav", kWavA}}},
                                          {"two", {{"b.wav", kWavB}, {"M\xC3\xBCller.wav", kWavC}}}}));
#ifdef LARKSPOOL_HAVE_AUDIO
  // 8-bit samples 0x80 + 1 become 16-bit samples of 256 each.
  WaveShape eightBit;
  eightBit.byteRate = 8000;
  eightBit.blockAlign = 1;
  eightBit.bitsPerSample = 8;
  eightBit.dataBytes = 100;
  Bytes wav = WavWithFormat(eightBit);
  std::fill(wav.end() - 100, wav.end(), std::uint8_t{0x81});
  BackupBuilder::Single(BackupKind::k3).Entry("low.wav", wav).WriteTo(dir / "in/one.bkp");
  BackupBuilder::Paired().Files("low.wav", wav).WriteTo(dir / "in/two.bkp");
  const Process pcm = RunCli({"extract", "--each", "pcm", "in", "--to=pcm", "-q"}, dir.path());
  EXPECT_EQ(pcm.status, 0) << pcm.err;
  for (const char* stem : {"one", "two"}) {
    const Bytes low = FoldersIn(dir / "pcm")[stem]["low.wav"];
    ASSERT_EQ(low.size(), 44u + 200u) << stem;
    EXPECT_EQ(low[34], 16);  // bits a sample
    EXPECT_EQ(Bytes(low.begin() + 44, low.begin() + 46), (Bytes{0x00, 0x01}));
  }
#endif
}

// Folders and names outside the system's code page, and paths longer than
// 260 characters (which Windows takes only in their long form), for the
// backups, the folder of backups and OUTDIR alike.
TEST(BatchTableTest, PathsOfAnyNameAndLengthWork) {
  ScratchDir dir;
  const std::string deep = "\xC5\x81ukasz/" + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
                           std::string(100, 'c');  // Łukasz/...
  const fs::path in = fs::path(dir.path()) / fs::path(std::u8string(deep.begin(), deep.end())) / "in";
  fs::create_directories(in);
  BackupBuilder::Single(BackupKind::k3).Entry("a.wav", kWavA).WriteTo(dir / "box.bkp");
  fs::rename(dir / "box.bkp", in / u8"Wiadomo\u015Bci.bkp");  // Wiadomości
  const Process run = RunCli({"extract", "--each", deep + "/out", deep + "/in"}, dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  // Read through paths, which hold any name on Windows too. (A listing of a
  // folder this deep is not asked for: under the emulator the runtime's
  // directory walk does not take such paths.)
  const fs::path folder = in.parent_path() / "out" / u8"Wiadomo\u015Bci";
  ASSERT_TRUE(fs::is_regular_file(folder / "a.wav"));
  std::ifstream file(folder / "a.wav", std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()), kWavA);
}

struct RefusedCase {
  const char* label;
  std::vector<std::string> args;
  int status;
  std::string err;  // the start of what stderr says
};
class BatchRefusedTest : public ::testing::TestWithParam<RefusedCase> {};

// A batch that cannot start as asked starts nothing: no folder is made.
TEST_P(BatchRefusedTest, RefusesBeforeWritingAnything) {
  const RefusedCase& c = GetParam();
  ScratchDir dir;
  WriteMixedFolder(dir);
  fs::create_directory(dir / "empty");
  WritePasswordFile(dir / "pw", "locked\t1234\n");
  WritePasswordFile(dir / "spaced", "locked\t1234\nsound 1234\n");
  WritePasswordFile(dir / "lettered", "locked\t12a4\n");
  WritePasswordFile(dir / "twice", "locked\t1234\nlocked\t1234\n");
  WritePasswordFile(dir / "loose", "locked\t1234\n", true);
#ifndef _WIN32
  WritePasswordFile(dir / "group", "locked\t1234\n");
  ::chmod((dir / "group").c_str(), 0620);
#endif
  const Process run = RunCli(c.args, dir.path());
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists(dir / "out"));
}

const std::vector<RefusedCase> kRefused = {
    RefusedCase{"readable by others",
                {"extract", "--each", "out", "in", "--password-file=loose"},
                1,
#ifdef _WIN32
                "larkspool-cli: refusing the password file loose: its access list lets Everyone open it"},
#else
                "larkspool-cli: refusing the password file loose: its permissions 0644 let others read it"},
#endif
#ifndef _WIN32
    RefusedCase{"writable by the group",
                {"extract", "--each", "out", "in", "--password-file=group"},
                1,
                "larkspool-cli: refusing the password file group: its permissions 0620 let others change it"},
#endif
    RefusedCase{"a line without a tab",
                {"extract", "--each", "out", "in", "--password-file=spaced"},
                1,
                "larkspool-cli: spaced:2: expected the backup's name without .bkp, a tab and the password\n"},
    // The password itself is never shown.
    RefusedCase{"a password that is not digits",
                {"extract", "--each", "out", "in", "--password-file=lettered"},
                1,
                "larkspool-cli: lettered:1: the password of locked is not 1 to 15 digits\n"},
    RefusedCase{"a name given twice",
                {"extract", "--each", "out", "in", "--password-file=twice"},
                1,
                "larkspool-cli: twice:2: locked is given a second time\n"},
    RefusedCase{"a missing password file",
                {"extract", "--each", "out", "in", "--password-file=none"},
                1,
                "larkspool-cli: cannot open the password file none:"},
    RefusedCase{"an empty folder",
                {"extract", "--each", "out", "empty"},
                1,
                "larkspool-cli: no backup (*.bkp) in empty\n"},
    RefusedCase{"no backup", {"extract", "--each", "out"}, 64, "larkspool-cli: "},
    RefusedCase{"a password on stdin", {"extract", "--each", "out", "--password-stdin", "in"}, 64, ""},
    RefusedCase{"batch options alone", {"extract", "in/sound.bkp", "out", "--json"}, 64, ""},
    RefusedCase{"no jobs", {"extract", "--each", "out", "in", "-j", "0"}, 64, ""},
    RefusedCase{
        "three operands to one salvage", {"salvage", "in/sound.bkp", "out", "in/locked.bkp"}, 64, ""}};

INSTANTIATE_TEST_SUITE_P(Batch, BatchRefusedTest, ::testing::ValuesIn(kRefused), ByLabel());

#ifndef _WIN32
// On a terminal the batch draws one progress line for all its backups, each
// drawing over the last, and never a line of a backup's own, whatever the
// jobs running side by side print; the table follows on a line of its own.
TEST(BatchProgressTest, OneLineStandsForTheWholeBatch) {
  ScratchDir dir;
  fs::create_directory(dir / "in");
  constexpr int kBackups = 6;
  for (int i = 0; i < kBackups; ++i) {
    BackupBuilder builder = BackupBuilder::Single(BackupKind::k3);
    for (std::uint8_t m = 0; m < 4; ++m)
      builder.Entry("m" + std::to_string(m) + ".wav", WavPayload(200000, m));
    builder.WriteTo(dir / ("in/box" + std::to_string(i) + ".bkp"));
  }
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(kCliTimeoutSeconds);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
    ::execl(LARKSPOOL_CLI_PATH, LARKSPOOL_CLI_PATH, "extract", "--each", "out", "in", "-j", "3",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, got);
  ::close(terminal);
  int wait = 0;
  ASSERT_EQ(::waitpid(child, &wait, 0), child);
  ASSERT_TRUE(WIFEXITED(wait));
  EXPECT_EQ(WEXITSTATUS(wait), 0) << screen;

  // Before the table: progress lines joined by carriage returns, then one
  // line end (a terminal writes it as CR LF).
  const std::size_t table = screen.find("BACKUP ");
  ASSERT_NE(table, std::string::npos) << screen;
  std::string progress = screen.substr(0, table);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.substr(progress.size() - 2), "\r\n") << progress;
  progress.resize(progress.size() - 2);
  const std::regex line(R"(\[[#-]+\] [0-6]/6 backups  .* of .*  Elapsed Time: \d\d:\d\d:\d\d *)");
  std::size_t drawn = 0;
  std::string last;
  for (std::size_t at = 0; at < progress.size();) {
    const std::size_t next = std::min(progress.find('\r', at + 1), progress.size());
    const std::string piece = progress.substr(at, next - at);
    at = next;
    ASSERT_EQ(piece.front(), '\r') << "a line of its own: " << piece;
    EXPECT_TRUE(std::regex_match(piece.substr(1), line)) << piece;
    last = piece;
    ++drawn;
  }
  EXPECT_GE(drawn, 1u);
  EXPECT_NE(last.find("6/6 backups"), std::string::npos) << last;
}
#endif

// Ctrl-C in the middle of a batch: exit 2, the backups not yet begun get no
// folder, and every file on disk is whole (each job stops after the message
// it is writing).
TEST(BatchCancelTest, CtrlCStopsEveryJobAfterItsMessage) {
  ScratchDir dir;
  fs::create_directory(dir / "in");
  constexpr int kBackups = 40;
  const Bytes big = WavPayload(512 * 1024, 7);
  for (int i = 0; i < kBackups; ++i) {
    BackupBuilder builder = BackupBuilder::Single(BackupKind::k3);
    for (int m = 0; m < 8; ++m) builder.Entry("m" + std::to_string(m) + ".wav", big);
    char name[32];
    std::snprintf(name, sizeof name, "in/box%02d.bkp", i);
    builder.WriteTo(dir / name);
  }
  // As soon as the first message is under way.
  const Process run = RunCliInterrupted({"extract", "--each", "out", "in", "-j", "2"}, dir.path(),
                                        [&] { return fs::exists(dir / "out/box00/m0.wav"); });
  ASSERT_NE(run.status, -1) << "no normal exit";
  EXPECT_EQ(run.status, 2);

  const std::map<std::string, Files> folders = FoldersIn(dir / "out");
  EXPECT_LT(folders.size(), static_cast<std::size_t>(kBackups));
  for (const auto& [folder, files] : folders) {
    for (const auto& [name, bytes] : files) EXPECT_EQ(bytes, big) << folder << "/" << name;
  }
  EXPECT_NE(run.out.find("not started"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(std::to_string(kBackups) + " backups: "), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "larkspool-cli: interrupted; the files written before it are kept\n");
}

}  // namespace
}  // namespace larkspool::testing
