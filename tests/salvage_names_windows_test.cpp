// On Windows a salvage names its files as an extraction does: the stored name
// read in the system's ANSI code page, then checked, so a Western "Müller.wav"
// keeps its letter and the second byte of a double-byte character is no
// separator. The backups are cut inside their last entry, so the names come
// from the salvage scan, not from a walk of a sound backup.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "tests/support/salvage_fixture.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

const Bytes kFirst = WavPayload(3000, 1), kSecond = WavPayload(3000, 2);

// a then b, then a last entry the end of the file cuts.
SalvageOutcome SalvageNames(Session& s, const std::string& a, const std::string& b) {
  Bytes backup = BackupBuilder::Single(BackupKind::k3)
                     .Entry(a, kFirst)
                     .Entry(b, kSecond)
                     .Entry("cut.wav", kFirst)
                     .bytes();
  backup.resize(backup.size() - 1000);
  return SalvageInto(s, backup);
}

TEST(WindowsSalvageNamesTest, AWesternNameKeepsItsLetters) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 1252";
  Session s;
  const SalvageOutcome o = SalvageNames(s, "M\xFCller.wav", "\xC9t\xE9.wav");
  EXPECT_EQ(o.result, RunResult::kCompleted);
  // The names in UTF-8, as Windows gives them.
  EXPECT_EQ(o.files.at("M\xC3\xBCller.wav"), kFirst);
  EXPECT_EQ(o.files.at("\xC3\x89t\xC3\xA9.wav"), kSecond);
  ASSERT_FALSE(o.report.messages.empty());
  EXPECT_EQ(o.report.messages[0].outputName, "M\xC3\xBCller.wav");
}

// ctest runs this suite with LC_ALL=ja_JP.UTF-8 (code page 932).
TEST(WindowsCodePageNamesTest, SalvageReadsNamesInTheCodePageAsExtractDoes) {
  if (::GetACP() != 932) GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 932";
  Session s;
  // 表 (second byte '\'), and a lead byte alone: no CP932 text.
  const SalvageOutcome o = SalvageNames(s, "\x95\x5C.wav", "\x95.wav");
  EXPECT_EQ(o.result, RunResult::kCompleted);
  EXPECT_EQ(o.files.at("\xE8\xA1\xA8.wav"), kFirst);
  ASSERT_GE(o.report.messages.size(), 2u);
  const SalvagedMessage& refused = o.report.messages[1];
  EXPECT_EQ(refused.state, SalvageState::kUnnamed);
  EXPECT_EQ(refused.note, kNotInCodePageReason);
  EXPECT_EQ(o.files.at(refused.outputName), kSecond);
}

}  // namespace
}  // namespace larkspool::testing
