// Stored names in a legacy character set (a code page such as CP932 or
// CP1252), turned into UTF-8 for writing and showing.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "archive/entry_options.h"

namespace larkspool::cli {

class NameEncoding {
 public:
  // The conversion from `charset` (any name the system's converter knows),
  // or null when it knows none by that name.
  static std::unique_ptr<NameEncoding> Open(const std::string& charset);
  ~NameEncoding();
  NameEncoding(const NameEncoding&) = delete;
  NameEncoding& operator=(const NameEncoding&) = delete;

  // The name in UTF-8, or no value when its bytes are not valid text in the
  // character set (an invalid or cut sequence).
  std::optional<std::string> ToUtf8(std::string_view stored) const;
  const std::string& charset() const { return charset_; }

 private:
  struct Converter;
  NameEncoding(std::string charset, std::unique_ptr<Converter> converter);

  std::string charset_;
  std::unique_ptr<Converter> converter_;
};

// The core's entry options that read every stored name in `charset` and
// refuse one that is not valid in it; with no charset, none (the stored
// bytes, or on Windows the system's code page).
EntryOptions NamingOptions(const std::string& charset);

}  // namespace larkspool::cli
