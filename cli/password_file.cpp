#include "cli/password_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string_view>

#include "base/outcome.h"
#include "cli/batch_files.h"
#include "cli/name_escape.h"
#include "password/password_gate.h"
#include "platform/file_system.h"

namespace larkspool::cli {
namespace {

// Room for tens of thousands of mailboxes; anything larger is not a list of
// passwords, and is not read into memory.
constexpr std::int64_t kMaxFileBytes = 1 << 20;

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<PasswordFile> PasswordFile::Read(const std::string& path, std::string& error) {
  const std::string shown = EscapeName(path);
  FileSystem& fs = NativeFileSystem();
  ScopedFile file(fs, fs.OpenRead(path.c_str()));
  if (!file.valid()) {
    error = "cannot open the password file " + shown + ": " + ErrorText(errno);
    return std::nullopt;
  }
  if (const std::optional<std::string> reason = OpenToOthers(file.get())) {
    error = "refusing the password file " + shown + ": " + *reason;
    return std::nullopt;
  }
  const std::int64_t size = fs.Seek(file.get(), 0, SeekFrom::kEnd);
  if (size < 0 || size > kMaxFileBytes || fs.Seek(file.get(), 0, SeekFrom::kStart) != 0) {
    error = "the password file " + shown + " is too large for a list of passwords";
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  if (fs.Read(file.get(), text.data(), text.size()) != size) {
    error = "cannot read the password file " + shown + ": " + ErrorText(errno, "it changed while read");
    return std::nullopt;
  }

  PasswordFile passwords;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    // The password itself never goes into a message.
    const std::string where = shown + ":" + std::to_string(number) + ": ";
    const std::size_t tab = line.find('\t');
    if (tab == 0 || tab == std::string_view::npos) {
      error = where + "expected the backup's name without .bkp, a tab and the password";
      return std::nullopt;
    }
    const std::string stem(line.substr(0, tab));
    const std::string_view digits = line.substr(tab + 1);
    if (!IsDigits(digits) || digits.size() > kMaxPasswordDigits) {
      error = where + "the password of " + EscapeName(stem) + " is not 1 to " +
              std::to_string(kMaxPasswordDigits) + " digits";
      return std::nullopt;
    }
    if (!passwords.passwords_.emplace(stem, std::string(digits)).second) {
      error = where + EscapeName(stem) + " is given a second time";
      return std::nullopt;
    }
  }
  return passwords;
}

std::optional<std::string> PasswordFile::Find(const std::string& stem) const {
  const auto found = passwords_.find(stem);
  if (found == passwords_.end()) return std::nullopt;
  return found->second;
}

}  // namespace larkspool::cli
