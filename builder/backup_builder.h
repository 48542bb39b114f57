// Builds backups in memory for tests and the bundled examples: well-formed
// ones through the helpers, damaged ones by giving stored sizes that disagree
// with the payloads or by appending raw bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/backup_format.h"

namespace larkspool::testing {

using Bytes = std::vector<std::uint8_t>;

// The stored digest of each password the fixtures, the examples and the fuzz
// seeds use: the MD5 digest of the password's block (its digit values, then
// 0xFF up to 16 bytes), computed apart from this code base with
//   python3 -c 'import hashlib, sys; p = sys.argv[1];
//     print(hashlib.md5(bytes(map(int, p)) + b"\xff" * (16 - len(p))).hexdigest())' 1234
// so a backup built here holds a digest the project's own MD5 did not make.
struct KnownDigest {
  const char* password;
  const char* hex;
};
inline constexpr KnownDigest kKnownDigests[] = {
    {"1234", "0203f8b0a5899f7fa7591acf9768f48c"},
    {"987", "266fdfba8e50d940a7fe634c9862c08d"},
    {"2468", "1e6525e53d82c31fff3e63d3cd2070e8"},
    {"42", "a07d38bdb2595c8075a66c010a18cdef"},
    {"0123", "b554d8370d59a3116d72e09961ff82a9"},
    {"58", "ff86cd7954e63ea7d4a0d6ee88fd5c30"},  // starts with 0xFF, the "no password" marker
    {"012345678901234", "8dfc87fc1d676cf35360f8196f01a924"},
};
// The 16 digest bytes of a password in kKnownDigests; throws for any other.
Bytes KnownDigestOf(std::string_view password);

// A payload of exactly `size` bytes that starts like a WAV file ("RIFF", the
// length, "WAVE"); the rest is a pattern that depends on `seed`. Sizes below
// 12 are cut from the same bytes, so they fail the tag test.
Bytes WavPayload(std::size_t size, std::uint8_t seed = 0);

// A playable 8 kHz, 16-bit mono WAV file holding `samples`.
Bytes WavFile(const std::vector<std::int16_t>& samples, std::uint32_t sampleRate = 8000);

// A WAV file with any "fmt " fields: "RIFF", "WAVE", a 16-byte "fmt "
// chunk (40 bytes with an extensible sub-format), the chunks in
// `beforeData` as given, and a "data" chunk that stores `dataSize` and holds
// `dataBytes` bytes of pattern.
struct WaveShape {
  std::uint16_t formatTag = 1;
  std::uint16_t channels = 1;
  std::uint32_t sampleRate = 8000;
  std::uint32_t byteRate = 16000;
  std::uint16_t blockAlign = 2;
  std::uint16_t bitsPerSample = 16;
  std::optional<std::uint16_t> subFormat;  // with format tag 0xFFFE
  Bytes beforeData;
  std::uint32_t dataBytes = 0;
  std::optional<std::uint32_t> dataSize;  // defaults to dataBytes
};
Bytes WavWithFormat(const WaveShape& waveFormat);

// One pair record and the payloads that follow it. Stored sizes default to
// the payloads' sizes; set them to build damaged backups.
struct PairRecordSpec {
  std::uint8_t type = 1;
  std::uint8_t markerA = 0;
  std::uint8_t tailMarker = 0;
  std::string nameA;
  std::string nameB;
  Bytes payloadA;  // appended after the record exactly as given
  Bytes payloadB;
  std::optional<std::uint32_t> sizeA;
  std::optional<std::uint32_t> sizeB;
  std::uint32_t presentB = 0;
};

class BackupBuilder {
 public:
  // Kinds 3, 4 and 6 (a stored kind 3 with a variant from 16 to 25).
  static BackupBuilder Single(BackupKind kind);
  // Kind 5; with a password (one of kKnownDigests) its digest is stored,
  // without one the digest starts with 0xFF.
  static BackupBuilder Paired(std::optional<std::string> password = std::nullopt);
  // Any header: the stored kind and variant words, padded to `headerSize`.
  static BackupBuilder Header(std::uint32_t kind, std::int32_t variant, std::size_t headerSize);

  // An entry header named `name` (its raw bytes, cut at 46; no NUL is added
  // when it fills the field) followed by `payload`.
  BackupBuilder& Entry(std::string_view name, const Bytes& payload,
                       std::optional<std::uint32_t> storedSize = std::nullopt);
  BackupBuilder& Record(const PairRecordSpec& wanted);
  // A type 1 record with one or two files.
  BackupBuilder& Files(std::string_view nameA, const Bytes& payloadA, std::string_view nameB = {},
                       const Bytes& payloadB = {});
  BackupBuilder& Raw(const Bytes& bytes);
  // Replaces the 16 digest bytes at offset 24.
  BackupBuilder& Digest(const Bytes& digest);

  const Bytes& bytes() const { return bytes_; }
  void WriteTo(const std::string& path) const;

 private:
  Bytes bytes_;
};

}  // namespace larkspool::testing
