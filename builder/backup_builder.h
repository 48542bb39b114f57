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

// A payload of exactly `size` bytes that starts like a WAV file ("RIFF", the
// length, "WAVE"); the rest is a pattern that depends on `seed`. Sizes below
// 12 are cut from the same bytes, so they fail the tag test.
Bytes WavPayload(std::size_t size, std::uint8_t seed = 0);

// A playable 8 kHz, 16-bit mono WAV file holding `samples`.
Bytes WavFile(const std::vector<std::int16_t>& samples, std::uint32_t sampleRate = 8000);

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
  // Kind 5; with a password the digest of its block is stored, without one
  // the digest starts with 0xFF.
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
