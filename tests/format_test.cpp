#include <gtest/gtest.h>

#include <string>

#include "archive/backup_format.h"
#include "base/status.h"
#include "builder/backup_builder.h"

namespace larkspool::testing {
namespace {

std::optional<BackupKind> KindOf(std::uint32_t kind, std::int32_t variant) {
  std::uint8_t fields[format::kKindFieldsSize];
  EncodeFixed32(fields, kind);
  EncodeFixed32(fields + 4, static_cast<std::uint32_t>(variant));
  const Classification classification = ClassifyKindFields(fields);
  EXPECT_EQ(classification.status, classification.kind ? StatusCode::kSuccess : StatusCode::kNotVoiceBackup);
  return classification.kind;
}

TEST(ClassifyTest, KindWordAndVariantGiveTheKind) {
  struct Case {
    std::uint32_t kind;
    std::int32_t variant;
    std::optional<BackupKind> expected;
  };
  const Case cases[] = {
      {3, 0, BackupKind::k3},  {3, 15, BackupKind::k3},  {3, 16, BackupKind::k6}, {3, 25, BackupKind::k6},
      {3, 26, BackupKind::k3}, {3, -16, BackupKind::k3}, {4, 20, BackupKind::k4}, {5, 20, BackupKind::k5},
      {0, 0, std::nullopt},    {2, 0, std::nullopt},     {6, 0, std::nullopt},    {0x103, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.variant));
    EXPECT_EQ(KindOf(c.kind, c.variant), c.expected);
  }
}

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
  const StoredName name = StoredName::FromField(field.data());
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
