#include "archive/backup_format.h"

#include <algorithm>
#include <cstring>

#include "platform/file_system.h"

namespace larkspool {

StoredName StoredName::FromField(std::span<const std::uint8_t, format::kNameFieldSize> field) {
  StoredName name;
  // A field without a NUL is cut at its end; nothing past the field is read.
  const auto nul = std::find(field.begin(), field.end(), std::uint8_t{0});
  name.length_ = static_cast<std::size_t>(nul - field.begin());
  std::copy(field.begin(), nul, name.bytes_.begin());
  name.bytes_[name.length_] = '\0';
  return name;
}

bool IsSafeOutputName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // A plain loop: find_first_of would search the set once a character.
  for (const char c : name) {
    if (c == '/' || c == '\\') return false;
  }
  // "C:" and the like name a drive on the system the backups come from.
  const bool drivePrefix = name.size() >= 2 && name[1] == ':' &&
                           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  return !drivePrefix;
}

std::string_view OutputNameRefusal(std::string_view name) {
  if (!IsSafeOutputName(name)) return kUnsafeNameReason;
  if (!KeepsNameAsGiven(name)) return kAlteredNameReason;
  return {};
}

Classification ClassifyKindFields(std::span<const std::uint8_t, format::kKindFieldsSize> fields) {
  const std::uint32_t kind = DecodeFixed32(fields.first<format::kFixed32Size>());
  const auto variant = static_cast<std::int32_t>(DecodeFixed32(fields.last<format::kFixed32Size>()));
  switch (kind) {
    case 3:
      if (variant >= format::kLongHeaderVariantMin && variant <= format::kLongHeaderVariantMax) {
        return {BackupKind::k6, StatusCode::kSuccess};
      }
      return {BackupKind::k3, StatusCode::kSuccess};
    case 4:
      return {BackupKind::k4, StatusCode::kSuccess};
    case 5:
      return {BackupKind::k5, StatusCode::kSuccess};
    default:
      return {std::nullopt, StatusCode::kNotVoiceBackup};
  }
}

std::int64_t EntryAreaStart(BackupKind kind) {
  switch (kind) {
    case BackupKind::k5:
      return format::kPairRecordStart;
    case BackupKind::k6:
      return format::kLongHeaderEntryStart;
    case BackupKind::k3:
    case BackupKind::k4:
      break;
  }
  return format::kSingleEntryStart;
}

bool UsesPairRecords(BackupKind kind) { return kind == BackupKind::k5; }

SelectedFile DecodeEntryHeader(std::span<const std::uint8_t, format::kEntryHeaderSize> header) {
  return SelectedFile{
      StoredName::FromField(header.subspan<format::kEntryNameOffset, format::kNameFieldSize>()),
      DecodeFixed32(header.subspan<format::kEntrySizeOffset, format::kFixed32Size>())};
}

namespace {

using Slot = std::span<const std::uint8_t, format::kSlotSize>;

SelectedFile DecodeSlot(Slot slot) {
  return SelectedFile{StoredName::FromField(slot.subspan<format::kSlotNameOffset, format::kNameFieldSize>()),
                      DecodeFixed32(slot.subspan<format::kSlotSizeOffset, format::kFixed32Size>())};
}

}  // namespace

RecordSelection DecodePairRecord(std::span<const std::uint8_t, format::kPairRecordSize> record) {
  const std::uint8_t type = record[format::kRecordTypeOffset];
  const Slot slotA = record.subspan<format::kSlotAOffset, format::kSlotSize>();
  const Slot slotB = record.subspan<format::kSlotBOffset, format::kSlotSize>();
  RecordSelection selection;

  // Type 0 is emptied by a set marker in slot A unless the tail marker is
  // set too; types 0 and 1 carry file B when slot B says it is present; type
  // 2 never reads slot B; every other type selects nothing.
  const bool emptied = type == 0 && slotA[format::kSlotMarkerOffset] == format::kMarkerSet &&
                       record[format::kTailMarkerOffset] != format::kMarkerSet;
  if (type > 2 || emptied) return selection;

  selection.a = DecodeSlot(slotA);
  if (type != 2 && DecodeFixed32(slotB.subspan<format::kSlotPresentOffset, format::kFixed32Size>()) != 0) {
    selection.b = DecodeSlot(slotB);
  }
  return selection;
}

bool HasWaveTags(std::span<const std::uint8_t, format::kWaveTagsSize> bytes) {
  return std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

}  // namespace larkspool
