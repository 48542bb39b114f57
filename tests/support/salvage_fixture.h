// Damaged backups for the salvage tests, built from messages that are kept
// as built: a salvage is compared with these originals, never with its own
// view of the damaged file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/salvage_request.h"
#include "builder/backup_builder.h"
#include "tests/support/session.h"

namespace larkspool::testing {

// A WAV file of exactly `size` bytes (at least 44): the tags, a 16-byte
// format chunk and a data chunk of bytes that depend on `seed`, none zero.
Bytes WaveMessage(std::size_t size, std::uint8_t seed);

struct PlacedMessage {
  std::string name;
  Bytes original;
  std::int64_t header = 0;  // its entry header, or the record that names it
  std::int64_t offset = 0;  // its payload
  std::int64_t end() const { return offset + static_cast<std::int64_t>(original.size()); }
};

// A backup of messages "a.wav", "b.wav", ... of the sizes given: one an
// entry (kind 3), or two a record (kind 5, no password).
struct BuiltBackup {
  bool paired = false;
  Bytes bytes;
  std::vector<PlacedMessage> messages;

  BuiltBackup(bool pairedLayout, const std::vector<std::size_t>& sizes);
  const PlacedMessage& operator[](char name) const { return messages[static_cast<std::size_t>(name - 'a')]; }
  // Where the stored size of the message is.
  std::int64_t SizeField(char name) const;
};

struct SalvageOutcome {
  RunResult result = RunResult::kFailed;
  SalvageReport report;
  Files files;
};

// Writes `backup` and salvages it into the session's folder.
SalvageOutcome SalvageInto(Session& session, const Bytes& backup, FileSystem& files = NativeFileSystem());

// Output name (stored name for a lost message) -> state.
std::map<std::string, std::string> StatesOf(const SalvageReport& report);

// What a file saved from the first `size` bytes of the WaveMessage
// `original` holds: those bytes, its RIFF and data sizes set to fit when it
// holds fewer than all.
Bytes SavedPart(const Bytes& original, std::size_t size);

}  // namespace larkspool::testing
