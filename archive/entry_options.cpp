#include "archive/entry_options.h"

namespace larkspool {

Outcome NameEntry(const EntryOptions& options, const StoredName& stored, std::string& name) {
  if (!options.mapName) {
    name.assign(stored.view());
    return Outcome::Ok();
  }
  std::optional<std::string> mapped = options.mapName(stored.view());
  if (!mapped) return Outcome::Fail(StatusCode::kOpenFailed, options.unnamedReason).About(stored.view());
  name = std::move(*mapped);
  return Outcome::Ok();
}

}  // namespace larkspool
