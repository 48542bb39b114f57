#include "archive/backup_format.h"

#include <cstring>

namespace larkspool {

StoredName StoredName::FromField(const std::uint8_t* field) {
  StoredName name;
  // A field without a NUL is cut at its end; nothing past the field is read.
  const void* nul = std::memchr(field, 0, format::kNameFieldSize);
  name.length_ = nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field)
                                : format::kNameFieldSize;
  std::memcpy(name.bytes_.data(), field, name.length_);
  name.bytes_[name.length_] = '\0';
  return name;
}

bool IsSafeOutputName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find_first_of("/\\") != std::string_view::npos) return false;
  // "C:" and the like name a drive on the system the backups come from.
  const bool drivePrefix = name.size() >= 2 && name[1] == ':' &&
                           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  return !drivePrefix;
}

Classification ClassifyKindFields(const std::uint8_t fields[format::kKindFieldsSize]) {
  const std::uint32_t kind = DecodeFixed32(fields);
  const auto variant = static_cast<std::int32_t>(DecodeFixed32(fields + 4));
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

SelectedFile DecodeEntryHeader(const std::uint8_t header[format::kEntryHeaderSize]) {
  return SelectedFile{StoredName::FromField(header + format::kEntryNameOffset),
                      DecodeFixed32(header + format::kEntrySizeOffset)};
}

namespace {

SelectedFile DecodeSlot(const std::uint8_t* slot) {
  return SelectedFile{StoredName::FromField(slot + format::kSlotNameOffset),
                      DecodeFixed32(slot + format::kSlotSizeOffset)};
}

}  // namespace

RecordSelection DecodePairRecord(const std::uint8_t record[format::kPairRecordSize]) {
  const std::uint8_t type = record[format::kRecordTypeOffset];
  const std::uint8_t* slotA = record + format::kSlotAOffset;
  const std::uint8_t* slotB = record + format::kSlotBOffset;
  RecordSelection selection;

  // Type 0 is emptied by a set marker in slot A unless the tail marker is
  // set too; types 0 and 1 carry file B when slot B says it is present; type
  // 2 never reads slot B; every other type selects nothing.
  const bool emptied = type == 0 && slotA[format::kSlotMarkerOffset] == format::kMarkerSet &&
                       record[format::kTailMarkerOffset] != format::kMarkerSet;
  if (type > 2 || emptied) return selection;

  selection.a = DecodeSlot(slotA);
  if (type != 2 && DecodeFixed32(slotB + format::kSlotPresentOffset) != 0) {
    selection.b = DecodeSlot(slotB);
  }
  return selection;
}

bool HasWaveTags(const std::uint8_t* bytes) {
  return std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WAVE", 4) == 0;
}

}  // namespace larkspool
