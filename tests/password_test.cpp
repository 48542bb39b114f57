#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/extract_request.h"
#include "builder/backup_builder.h"
#include "password/md5.h"
#include "password/password_gate.h"
#include "tests/support/session.h"

namespace larkspool::testing {
namespace {

using testing::PrintTo;

constexpr char kPassword[] = "012345678901234";  // 15 digits, leading zero
const Bytes kA = WavPayload(100, 1);

PasswordDigest DigestOf(std::string_view password) {
  const Bytes known = KnownDigestOf(password);
  PasswordDigest digest{};
  std::copy(known.begin(), known.end(), digest.begin());
  return digest;
}

PasswordDigest Block(std::initializer_list<std::uint8_t> head) {
  PasswordDigest block;
  block.fill(0xFF);
  std::copy(head.begin(), head.end(), block.begin());
  return block;
}

TEST(PasswordBlockTest, HoldsDigitValuesThenFill) {
  EXPECT_EQ(PasswordBlock("1234"), Block({1, 2, 3, 4}));
  EXPECT_EQ(PasswordBlock("907"), Block({9, 0, 7}));
  EXPECT_EQ(PasswordBlock(kPassword), Block({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4}));
  for (const char* text : {"", "0123456789012345", "12a4", " 123", "-1", "\xd9\xa1"}) {
    EXPECT_EQ(PasswordBlock(text), std::nullopt) << text;
  }
}

class KnownDigestTest : public ::testing::TestWithParam<KnownDigest> {};

// The block rule and our MD5 give the digest computed apart from both, and
// the password it belongs to passes (unless the digest reads as unset).
TEST_P(KnownDigestTest, BlockRuleGivesTheIndependentDigest) {
  const std::optional<PasswordDigest> block = PasswordBlock(GetParam().password);
  ASSERT_TRUE(block.has_value());
  const auto digest = MD5Digest(block->data(), block->size());
  EXPECT_EQ(Bytes(digest.begin(), digest.end()), KnownDigestOf(GetParam().password));
  const PasswordDigest stored = DigestOf(GetParam().password);
  EXPECT_EQ(VerifyPassword(stored, GetParam().password), IsPasswordSet(stored) ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Passwords, KnownDigestTest, ::testing::ValuesIn(kKnownDigests),
                         [](const auto& test) { return std::string("Password") + test.param.password; });

TEST(VerifyPasswordTest, AcceptsOnlyTheExactDigits) {
  const PasswordDigest stored = DigestOf("0123");
  EXPECT_EQ(VerifyPassword(stored, "0123"), 0);
  for (const char* wrong : {"123", "00123", "01230", "0124", "", "O123"}) {
    EXPECT_EQ(VerifyPassword(stored, wrong), 1) << wrong;
  }
  // The digest of the block of the character codes '0'..'3' (python3's
  // hashlib.md5(b"0123" + b"\xff" * 12)) is not the password's.
  const PasswordDigest ofCodes = {0x04, 0x65, 0xfb, 0x20, 0x91, 0x93, 0xa6, 0xd3,
                                  0xa3, 0x9f, 0xf5, 0x16, 0x6f, 0xab, 0x75, 0xf6};
  EXPECT_EQ(VerifyPassword(ofCodes, "0123"), 1);
}

// The digest of "58" starts with 0xFF, so it cannot be told from "no password
// set", and even the right digits fail.
TEST(VerifyPasswordTest, DigestMarkedUnsetAcceptsNothing) {
  const PasswordDigest stored = DigestOf("58");
  ASSERT_EQ(stored[0], 0xFF);
  EXPECT_EQ(VerifyPassword(stored, "58"), 1);
}

Bytes FirstByteThen(std::uint8_t first, const PasswordDigest& rest) {
  Bytes digest(rest.begin(), rest.end());
  digest[0] = first;
  return digest;
}

struct GateCase {
  const char* label;
  BackupBuilder backup;
  std::deque<std::optional<std::string>> answers;
  RunResult result;
  std::vector<std::string> messages;
};
class PasswordGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(PasswordGateTest, GateDecidesWhetherTheRunGoesOn) {
  const GateCase& c = GetParam();
  Session s;
  s.ui.passwordAnswers = c.answers;
  EXPECT_EQ(s.Extract(c.backup), c.result);
  EXPECT_EQ(s.ui.passwordPrompts, static_cast<int>(c.answers.size()));
  ASSERT_EQ(s.ui.MessageTexts(), c.messages);
  if (c.result == RunResult::kFailed) {
    EXPECT_EQ(s.ui.messages[0].style, MessageStyle::kStop);
  }
  const bool completed = c.result == RunResult::kCompleted;
  EXPECT_EQ(s.Output(), completed ? (Files{{"a.wav", kA}}) : Files{});
  EXPECT_EQ(std::count(s.ui.events.begin(), s.ui.events.end(), "open"), completed ? 1 : 0);
}

const BackupBuilder kLocked = BackupBuilder::Paired(kPassword).Files("a.wav", kA);
const std::vector<std::string> kWrong = FaultText(StatusCode::kWrongPassword);
const std::vector<std::string> kDone = EndText(RunResult::kCompleted);
INSTANTIATE_TEST_SUITE_P(
    Answers, PasswordGateTest,
    ::testing::Values(
        GateCase{"right", kLocked, {kPassword}, RunResult::kCompleted, kDone},
        GateCase{"16 digits, the first 15 right",
                 kLocked,
                 {std::string(kPassword) + "5"},
                 RunResult::kFailed,
                 kWrong},
        GateCase{
            "leading zero left out", kLocked, {std::string(kPassword).substr(1)}, RunResult::kFailed, kWrong},
        GateCase{"empty", kLocked, {""}, RunResult::kFailed, kWrong},
        GateCase{"letter", kLocked, {"01234567890123a"}, RunResult::kFailed, kWrong},
        GateCase{"cancelled", kLocked, {std::nullopt}, RunResult::kCancelled, {}},
        GateCase{"first byte 0xFF, the rest a real digest",
                 BackupBuilder(kLocked).Digest(FirstByteThen(0xFF, DigestOf(kPassword))),
                 {},
                 RunResult::kCompleted,
                 kDone},
        GateCase{"first byte 0, the rest 0xFF",
                 BackupBuilder(kLocked).Digest(FirstByteThen(0, Block({}))),
                 {"1234"},
                 RunResult::kFailed,
                 kWrong}),
    ByLabel());

// The gate reads the digest itself: a backup that ends inside it is a fault
// of its own, shown before any prompt.
TEST(PasswordGateTest, BackupEndingInsideTheDigestIsSystemError10) {
  Session s;
  EXPECT_EQ(s.Extract(BackupBuilder::Header(5, 0, 39)), RunResult::kFailed);
  EXPECT_EQ(s.ui.MessageTexts(), FaultText(StatusCode::kReadFailed));
  EXPECT_EQ(s.ui.passwordPrompts, 0);
}

}  // namespace
}  // namespace larkspool::testing
