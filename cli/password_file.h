// The mailbox passwords of a batch: a file of "STEM<TAB>DIGITS" lines, kept
// to its owner as a private key is.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace larkspool::cli {

class PasswordFile {
 public:
  // Reads `path`. Refused, with `error` saying why: a file others than its
  // owner may read or change (checked before a byte is read), a line that is
  // not STEM, a tab and 1 to 15 digits, a stem given twice, a file larger
  // than any list of passwords. Empty lines and lines starting with '#' are
  // passed over; a line may end in CR LF.
  static std::optional<PasswordFile> Read(const std::string& path, std::string& error);

  // The password of the backups named STEM.bkp, or nothing.
  std::optional<std::string> Find(const std::string& stem) const;

 private:
  std::map<std::string, std::string> passwords_;
};

}  // namespace larkspool::cli
