// On Windows a salvage names its files as an extraction does: the stored name
// read in the system's ANSI code page, then checked, so a Western "Müller.wav"
// keeps its letter and the second byte of a double-byte character is no
// separator. The backups are cut inside their last entry, so the names come
// from the salvage scan, not from a walk of a sound backup.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scratch_dir.h"

namespace larkspool::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;

const Bytes kFirst = WavPayload(3000, 1), kSecond = WavPayload(3000, 2);

struct Salvaged {
  RunResult result;
  SalvageReport report;
  std::string folder;
};

// a then b, then a last entry the end of the file cuts.
Salvaged SalvageNames(const ScratchDir& scratch, const std::string& a, const std::string& b) {
  const std::string folder = scratch / "out";
  fs::create_directory(folder);
  Bytes backup = BackupBuilder::Single(BackupKind::k3)
                     .Entry(a, kFirst)
                     .Entry(b, kSecond)
                     .Entry("cut.wav", kFirst)
                     .bytes();
  backup.resize(backup.size() - 1000);
  WriteFile(scratch / "box.bkp", backup);
  FakeUi ui;
  Salvaged o{RunResult::kFailed, {}, folder};
  o.result = Salvager(NativeFileSystem(), ui).OnSalvage(scratch / "box.bkp", folder, o.report);
  return o;
}

TEST(WindowsSalvageNamesTest, AWesternNameKeepsItsLetters) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 1252";
  ScratchDir scratch;
  const Salvaged o = SalvageNames(scratch, "M\xFCller.wav", "\xC9t\xE9.wav");
  EXPECT_EQ(o.result, RunResult::kCompleted);
  // The names in UTF-8, as Windows gives them.
  const Files files = FilesIn(o.folder);
  EXPECT_EQ(files.at("M\xC3\xBCller.wav"), kFirst);
  EXPECT_EQ(files.at("\xC3\x89t\xC3\xA9.wav"), kSecond);
  ASSERT_FALSE(o.report.messages.empty());
  EXPECT_EQ(o.report.messages[0].outputName, "M\xC3\xBCller.wav");
}

// ctest runs this suite with LC_ALL=ja_JP.UTF-8 (code page 932).
TEST(WindowsCodePageNamesTest, SalvageReadsNamesInTheCodePageAsExtractDoes) {
  if (::GetACP() != 932) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 932";
  ScratchDir scratch;
  // 表 (second byte '\'), and a lead byte alone: no CP932 text.
  const Salvaged o = SalvageNames(scratch, "\x95\x5C.wav", "\x95.wav");
  EXPECT_EQ(o.result, RunResult::kCompleted);
  const Files files = FilesIn(o.folder);
  EXPECT_EQ(files.at("\xE8\xA1\xA8.wav"), kFirst);
  ASSERT_GE(o.report.messages.size(), 2u);
  const SalvagedMessage& refused = o.report.messages[1];
  EXPECT_EQ(refused.state, SalvageState::kUnnamed);
  EXPECT_EQ(refused.note, kNotInCodePageReason);
  EXPECT_EQ(files.at(refused.outputName), kSecond);
}

}  // namespace
}  // namespace larkspool::testing
