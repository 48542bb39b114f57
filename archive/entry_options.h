// What a walk may be told about each entry besides the defaults: the name it
// is written and shown under, and whether it is taken at all. Unset, every
// entry is taken under its stored bytes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "archive/backup_format.h"
#include "base/outcome.h"

namespace larkspool {

struct EntryOptions {
  // The name for a stored name (a transcoding of a legacy character set), or
  // no value when it has none; such an entry is refused with status 9 and
  // `unnamedReason`. Unset, the platform's NameFromStored names it. The
  // unsafe-name refusal applies to the name given.
  std::function<std::optional<std::string>(std::string_view stored)> mapName;
  std::string unnamedReason;
  // Whether the entry of this name (after mapName) is taken. An entry not
  // taken is passed over: its payload is only checked to lie inside the
  // backup, it is never written, listed or asked about.
  std::function<bool(std::string_view name)> select;
};

// Why an entry without a mapping is refused on a system whose file names are
// not bytes: its name is no text of the code page it is read in.
inline constexpr std::string_view kNotInCodePageReason = "the name is not valid in the system's code page";

// The name of the entry stored as `stored`, into `name`. Fails with status 9
// naming the stored bytes when the mapping gives none.
Outcome NameEntry(const EntryOptions& options, const StoredName& stored, std::string& name);
// Whether the entry named `name` is taken.
inline bool TakesEntry(const EntryOptions& options, std::string_view name) {
  return !options.select || options.select(name);
}

}  // namespace larkspool
