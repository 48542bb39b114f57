#include "password/password_gate.h"

#include <cerrno>

#include "password/md5.h"

namespace larkspool {

namespace {

// Reads the digest stored at offset 24. Fails with status 9 when the backup
// cannot be opened and 10 when fewer than 16 bytes are there.
Outcome ReadPasswordDigest(FileSystem& fs, const std::string& backupFile, PasswordDigest& digest) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return Outcome::FailWithErrno(StatusCode::kOpenFailed).About(backupFile);
  errno = 0;
  const bool positioned =
      fs.Seek(backup.get(), format::kPasswordDigestOffset, SeekFrom::kStart) == format::kPasswordDigestOffset;
  if (!positioned ||
      fs.Read(backup.get(), digest.data(), digest.size()) != static_cast<std::int64_t>(digest.size())) {
    return Outcome::FailWithErrno(StatusCode::kReadFailed, "backup ends inside the password digest");
  }
  return Outcome::Ok();
}

}  // namespace

std::optional<PasswordDigest> PasswordBlock(std::string_view text) {
  if (text.empty() || text.size() > kMaxPasswordDigits) return std::nullopt;
  PasswordDigest block;
  block.fill(0xFF);
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Only the ten ASCII digits; no byte of 0x80 or above passes.
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    block[i] = static_cast<std::uint8_t>(text[i] - '0');
  }
  return block;
}

int VerifyPassword(const PasswordDigest& stored, std::string_view text) {
  if (!IsPasswordSet(stored)) return 1;
  const std::optional<PasswordDigest> block = PasswordBlock(text);
  if (!block) return 1;
  return MD5Digest(block->data(), block->size()) == Md5Hash(stored) ? 0 : 1;
}

Outcome CheckMailboxPassword(FileSystem& fs, const std::string& backupFile, UserInterface& ui,
                             bool* passwordSet) {
  PasswordDigest stored{};
  if (Outcome read = ReadPasswordDigest(fs, backupFile, stored); !read.ok()) return read;
  if (passwordSet != nullptr) *passwordSet = IsPasswordSet(stored);
  if (!IsPasswordSet(stored)) return Outcome::Ok();

  const std::optional<std::string> typed = ui.AskPassword();
  if (!typed) return Outcome::Cancelled();
  if (VerifyPassword(stored, *typed) != 0) return Outcome::Fail(StatusCode::kWrongPassword);
  return Outcome::Ok();
}

}  // namespace larkspool
