// The layout of a voice-mail admin backup (.bkp), every constant in one place.
//
// A backup starts with a header whose `kind` word (offset 8) tells the entry
// layout. Kinds 3, 4 and 6 hold a sequence of 80-byte entry headers, each
// followed by its WAV payload. Kind 5 holds 256-byte pair records from offset
// 51, each followed by the payloads of the (up to two) files it selects, and a
// password digest at offset 24. All integers are little-endian; nothing is
// aligned. The backup is only ever read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/status.h"

namespace larkspool {

// Derived from the header: 3, 4, 5 or 6. Kind 6 is the long-header variant of
// a stored kind 3.
enum class BackupKind : std::uint8_t { k3 = 3, k4 = 4, k5 = 5, k6 = 6 };

namespace format {

// Every size below is the sum of its parts; a part the reader does not
// interpret is named `...Unused`.
inline constexpr std::size_t kFixed32Size = 4;

// BackupHeader
inline constexpr std::size_t kHeaderLeadUnused = 8;
inline constexpr std::int64_t kKindOffset = kHeaderLeadUnused;  // uint32 kind, then int32 variant
inline constexpr std::size_t kKindFieldsSize = kFixed32Size + kFixed32Size;
inline constexpr std::int32_t kLongHeaderVariantMin = 16;  // kind 3 with a variant in
inline constexpr std::int32_t kLongHeaderVariantMax = 25;  // [16, 25] is kind 6
inline constexpr std::size_t kHeaderMiddleUnused = 8;
inline constexpr std::int64_t kPasswordDigestOffset = kKindOffset + kKindFieldsSize + kHeaderMiddleUnused;
inline constexpr std::size_t kPasswordDigestSize = 16;    // kind 5 only
inline constexpr std::uint8_t kNoPasswordMarker = 0xFF;   // first digest byte
inline constexpr std::size_t kPairHeaderTailUnused = 11;  // kind 5 only
inline constexpr std::size_t kLongHeaderUnused = 36;      // kind 6 only

// Where the entries begin.
inline constexpr std::int64_t kSingleEntryStart = kPasswordDigestOffset;                      // kinds 3 and 4
inline constexpr std::int64_t kLongHeaderEntryStart = kSingleEntryStart + kLongHeaderUnused;  // kind 6
inline constexpr std::int64_t kPairRecordStart =
    kPasswordDigestOffset + kPasswordDigestSize + kPairHeaderTailUnused;  // kind 5

// EntryHeader: 22 bytes, name[46], uint32 payload size, 8 bytes.
inline constexpr std::size_t kEntryLeadUnused = 22;
inline constexpr std::size_t kNameFieldSize = 46;
inline constexpr std::size_t kEntryTailUnused = 8;
inline constexpr std::size_t kEntryNameOffset = kEntryLeadUnused;
inline constexpr std::size_t kEntrySizeOffset = kEntryNameOffset + kNameFieldSize;
inline constexpr std::size_t kEntryHeaderSize = kEntrySizeOffset + kFixed32Size + kEntryTailUnused;

// FileSlot: byte marker, 13 bytes, name[46], uint32 size, uint32 present.
inline constexpr std::size_t kSlotMarkerOffset = 0;
inline constexpr std::size_t kSlotMarkerUnused = 13;
inline constexpr std::size_t kSlotNameOffset = kSlotMarkerOffset + 1 + kSlotMarkerUnused;
inline constexpr std::size_t kSlotSizeOffset = kSlotNameOffset + kNameFieldSize;
inline constexpr std::size_t kSlotPresentOffset = kSlotSizeOffset + kFixed32Size;
inline constexpr std::size_t kSlotSize = kSlotPresentOffset + kFixed32Size;
inline constexpr std::uint8_t kMarkerSet = 0xFF;

// PairRecord: 12 bytes, byte type, 27 bytes, slot A, slot B, byte tail
// marker, 79 bytes.
inline constexpr std::size_t kRecordLeadUnused = 12;
inline constexpr std::size_t kRecordTypeUnused = 27;
inline constexpr std::size_t kRecordTailUnused = 79;
inline constexpr std::size_t kRecordTypeOffset = kRecordLeadUnused;
inline constexpr std::size_t kSlotAOffset = kRecordTypeOffset + 1 + kRecordTypeUnused;
inline constexpr std::size_t kSlotBOffset = kSlotAOffset + kSlotSize;
inline constexpr std::size_t kTailMarkerOffset = kSlotBOffset + kSlotSize;
inline constexpr std::size_t kPairRecordSize = kTailMarkerOffset + 1 + kRecordTailUnused;

// Payloads are RIFF/WAVE files: "RIFF" at 0, the RIFF length, "WAVE" at 8.
inline constexpr std::size_t kWaveTagsSize = 4 + kFixed32Size + 4;

static_assert(kPairRecordStart == 51 && kLongHeaderEntryStart == 60);
static_assert(kEntryHeaderSize == 80 && kSlotSize == 68 && kPairRecordSize == 256);
static_assert(kSlotAOffset == 40 && kTailMarkerOffset == 176);

}  // namespace format

inline std::uint32_t DecodeFixed32(std::span<const std::uint8_t, format::kFixed32Size> p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void EncodeFixed32(std::span<std::uint8_t, format::kFixed32Size> p, std::uint32_t value) {
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A name field: the text up to its NUL, or the whole field when it holds none.
// Kept as a NUL-terminated copy so it can be passed to the file layer as is.
class StoredName {
 public:
  static StoredName FromField(std::span<const std::uint8_t, format::kNameFieldSize> field);

  const char* c_str() const { return bytes_.data(); }
  std::string_view view() const { return {bytes_.data(), length_}; }

 private:
  std::array<char, format::kNameFieldSize + 1> bytes_{};
  std::size_t length_ = 0;
};

// A name is written only as a plain file inside the extraction folder: not
// empty, not "." or "..", no '/' or '\', no drive prefix such as "C:".
bool IsSafeOutputName(std::string_view name);
// The detail shown when a name is refused for that.
inline constexpr std::string_view kUnsafeNameReason = "refused, the name would leave the extraction folder";
// The detail shown for a name the platform would not keep as stored
// (KeepsNameAsGiven in platform/file_system.h): a device name, a stream, a
// trailing dot.
inline constexpr std::string_view kAlteredNameReason =
    "refused, Windows would not write a file under this name";

// Why `name` is not written as an output file, or empty when it may be.
std::string_view OutputNameRefusal(std::string_view name);

// The kind from the 8 bytes at offset 8, or the status that refuses the file.
struct Classification {
  std::optional<BackupKind> kind;
  StatusCode status = StatusCode::kSuccess;
};
Classification ClassifyKindFields(std::span<const std::uint8_t, format::kKindFieldsSize> fields);

std::int64_t EntryAreaStart(BackupKind kind);
bool UsesPairRecords(BackupKind kind);

// One file an entry header or pair record selects.
struct SelectedFile {
  StoredName name;
  std::uint32_t size = 0;
};

SelectedFile DecodeEntryHeader(std::span<const std::uint8_t, format::kEntryHeaderSize> header);

// The files of a pair record, A first; a size of 0 means no file (a file
// whose stored size is 0 is skipped like one that is not selected).
struct RecordSelection {
  SelectedFile a;
  SelectedFile b;
};
RecordSelection DecodePairRecord(std::span<const std::uint8_t, format::kPairRecordSize> record);

// True when the first bytes of a payload carry the RIFF and WAVE tags.
bool HasWaveTags(std::span<const std::uint8_t, format::kWaveTagsSize> bytes);

}  // namespace larkspool
