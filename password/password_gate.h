// The mailbox password gate of a kind 5 backup: the backup stores the MD5
// digest of a 16-byte block made from the numeric password, never the
// password itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/backup_format.h"
#include "base/outcome.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool {

using PasswordDigest = std::array<std::uint8_t, format::kPasswordDigestSize>;
inline constexpr std::size_t kMaxPasswordDigits = 15;

// A digest whose first byte is 0xFF means the backup has no password.
inline bool IsPasswordSet(const PasswordDigest& digest) { return digest[0] != format::kNoPasswordMarker; }

// The block of a password of 1 to 15 decimal digits: each digit's value (not
// its character code), then 0xFF to the end. No value for any other text.
std::optional<PasswordDigest> PasswordBlock(std::string_view text);

// 0 when `text` is a valid password whose block has the stored digest, 1
// otherwise (also whenever the stored digest says no password is set).
int VerifyPassword(const PasswordDigest& stored, std::string_view text);

// The gate: reads the digest, asks for the password when one is set and
// checks it. Cancelled when the user cancels the prompt; status 7 for a wrong
// password. `passwordSet`, when given, tells whether the backup has one.
Outcome CheckMailboxPassword(FileSystem& fs, const std::string& backupFile, UserInterface& ui,
                             bool* passwordSet = nullptr);

}  // namespace larkspool
