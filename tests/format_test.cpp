#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>

#include "archive/backup_format.h"
#include "base/status.h"
#include "builder/backup_builder.h"

namespace larkspool::testing {
namespace {

std::optional<BackupKind> KindOf(std::uint32_t kind, std::int32_t variant) {
  std::array<std::uint8_t, format::kKindFieldsSize> fields{};
  EncodeFixed32(std::span(fields).first<4>(), kind);
  EncodeFixed32(std::span(fields).last<4>(), static_cast<std::uint32_t>(variant));
  const Classification classification = ClassifyKindFields(fields);
  EXPECT_EQ(classification.status, classification.kind ? StatusCode::kSuccess : StatusCode::kNotVoiceBackup);
  return classification.kind;
}

struct KindCase {
  std::uint32_t kind;
  std::int32_t variant;
  std::optional<BackupKind> expected;
};
class ClassifyTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(ClassifyTest, KindWordAndVariantGiveTheKind) {
  EXPECT_EQ(KindOf(GetParam().kind, GetParam().variant), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, ClassifyTest,
                         ::testing::Values(KindCase{3, 0, BackupKind::k3}, KindCase{3, 15, BackupKind::k3},
                                           KindCase{3, 16, BackupKind::k6}, KindCase{3, 25, BackupKind::k6},
                                           KindCase{3, 26, BackupKind::k3}, KindCase{3, -16, BackupKind::k3},
                                           KindCase{4, 20, BackupKind::k4}, KindCase{5, 20, BackupKind::k5},
                                           KindCase{0, 0, std::nullopt}, KindCase{2, 0, std::nullopt},
                                           KindCase{6, 0, std::nullopt}, KindCase{0x103, 0, std::nullopt}),
                         [](const auto& test) {
                           const std::string variant = std::to_string(test.param.variant);
                           return "Kind" + std::to_string(test.param.kind) + "Variant" +
                                  (test.param.variant < 0 ? "Minus" + variant.substr(1) : variant);
                         });

TEST(OutputNameSafetyTest, OnlyPlainNamesInsideTheFolderPass) {
  for (const char* safe : {"a.wav", "..a", "a..b", ".hidden", "1:x", ":x", "C", "ab:c"}) {
    EXPECT_TRUE(IsSafeOutputName(safe)) << safe;
  }
  for (const char* unsafe : {"", ".", "..", "a/b", "/abs", "a\\b", "\\", "C:", "z:x.wav"}) {
    EXPECT_FALSE(IsSafeOutputName(unsafe)) << unsafe;
  }
}

// The field is exactly 46 bytes here, so a read past it shows under ASan.
TEST(StoredNameTest, FieldWithoutNulIsTakenWhole) {
  const Bytes field(format::kNameFieldSize, 'n');
  const StoredName name = StoredName::FromField(std::span(field).first<format::kNameFieldSize>());
  EXPECT_EQ(name.view(), std::string(46, 'n'));
  EXPECT_EQ(std::string(name.c_str()), std::string(46, 'n'));
}

TEST(CatalogueTest, EachStatusHasItsTextAndStyle) {
  const char* const texts[] = {"Backup file and Extraction folder are not specified.",
                               "Backup file is not specified.",
                               "Extraction folder is not specified.",
                               "The specified file is not found.",
                               "The specified folder is not found.",
                               "This file is not a voice backup data.",
                               "The password is not correct.",
                               "Wave file format error.",
                               "System error(9)",
                               "System error(10)",
                               "System error(11)",
                               "System error(12)"};
  for (unsigned code = 1; code <= 12; ++code) {
    const Message message = StatusMessage(static_cast<StatusCode>(code), "detail");
    EXPECT_EQ(message.text, texts[code - 1]);
    EXPECT_EQ(message.style, code == 7 ? MessageStyle::kStop : MessageStyle::kExclamation) << code;
    EXPECT_EQ(message.detail, "detail");
  }
}

}  // namespace
}  // namespace larkspool::testing
