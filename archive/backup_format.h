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
#include <string_view>

#include "base/status.h"

namespace larkspool {

// Derived from the header: 3, 4, 5 or 6. Kind 6 is the long-header variant of
// a stored kind 3.
enum class BackupKind : std::uint8_t { k3 = 3, k4 = 4, k5 = 5, k6 = 6 };

namespace format {

// BackupHeader
inline constexpr std::int64_t kKindOffset = 8;  // uint32 kind, int32 variant
inline constexpr std::size_t kKindFieldsSize = 4 + 4;
inline constexpr std::int32_t kLongHeaderVariantMin = 16;  // kind 3 with a variant in
inline constexpr std::int32_t kLongHeaderVariantMax = 25;  // [16, 25] is kind 6
inline constexpr std::int64_t kPasswordDigestOffset = 24;  // kind 5 only
inline constexpr std::size_t kPasswordDigestSize = 16;
inline constexpr std::uint8_t kNoPasswordMarker = 0xFF;  // first digest byte

// Where the entries begin.
inline constexpr std::int64_t kSingleEntryStart = 24;      // kinds 3 and 4
inline constexpr std::int64_t kLongHeaderEntryStart = 60;  // kind 6
inline constexpr std::int64_t kPairRecordStart = 51;       // kind 5

// EntryHeader
inline constexpr std::size_t kEntryHeaderSize = 22 + 46 + 4 + 8;
inline constexpr std::size_t kEntryNameOffset = 22;
inline constexpr std::size_t kNameFieldSize = 46;
inline constexpr std::size_t kEntrySizeOffset = 68;

// PairRecord with its two FileSlots
inline constexpr std::size_t kPairRecordSize = 12 + 1 + 27 + 68 + 68 + 1 + 79;
inline constexpr std::size_t kRecordTypeOffset = 12;
inline constexpr std::size_t kSlotAOffset = 40;
inline constexpr std::size_t kSlotBOffset = 108;
inline constexpr std::size_t kTailMarkerOffset = 176;
inline constexpr std::size_t kSlotMarkerOffset = 0;  // within a FileSlot
inline constexpr std::size_t kSlotNameOffset = 14;
inline constexpr std::size_t kSlotSizeOffset = 60;
inline constexpr std::size_t kSlotPresentOffset = 64;
inline constexpr std::uint8_t kMarkerSet = 0xFF;

// Payloads are RIFF/WAVE files: "RIFF" at 0 and "WAVE" at 8.
inline constexpr std::size_t kWaveTagsSize = 12;

static_assert(kEntryHeaderSize == 80);
static_assert(kPairRecordSize == 256);

}  // namespace format

inline std::uint32_t DecodeFixed32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void EncodeFixed32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A name field: the text up to its NUL, or the whole field when it holds none.
// Kept as a NUL-terminated copy so it can be passed to the file layer as is.
class StoredName {
 public:
  static StoredName FromField(const std::uint8_t* field);

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

// The kind from the 8 bytes at offset 8, or the status that refuses the file.
struct Classification {
  std::optional<BackupKind> kind;
  StatusCode status = StatusCode::kSuccess;
};
Classification ClassifyKindFields(const std::uint8_t fields[format::kKindFieldsSize]);

std::int64_t EntryAreaStart(BackupKind kind);
bool UsesPairRecords(BackupKind kind);

// One file an entry header or pair record selects.
struct SelectedFile {
  StoredName name;
  std::uint32_t size = 0;
};

SelectedFile DecodeEntryHeader(const std::uint8_t header[format::kEntryHeaderSize]);

// The files of a pair record, A first; a size of 0 means no file (a file
// whose stored size is 0 is skipped like one that is not selected).
struct RecordSelection {
  SelectedFile a;
  SelectedFile b;
};
RecordSelection DecodePairRecord(const std::uint8_t record[format::kPairRecordSize]);

// True when the first bytes of a payload carry the RIFF and WAVE tags.
bool HasWaveTags(const std::uint8_t* bytes);

}  // namespace larkspool
