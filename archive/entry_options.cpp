#include "archive/entry_options.h"

#include "platform/file_system.h"

namespace larkspool {

Outcome NameEntry(const EntryOptions& options, const StoredName& stored, std::string& name) {
  std::optional<std::string> mapped =
      options.mapName ? options.mapName(stored.view()) : NameFromStored(stored.view());
  if (!mapped) {
    const std::string_view reason =
        options.mapName ? std::string_view(options.unnamedReason) : kNotInCodePageReason;
    return Outcome::Fail(StatusCode::kOpenFailed, std::string(reason)).About(stored.view());
  }
  name = std::move(*mapped);
  return Outcome::Ok();
}

}  // namespace larkspool
