#include "archive/salvage_names.h"

#include <optional>
#include <string>

#include "archive/backup_format.h"
#include "platform/file_system.h"

namespace larkspool {

SalvagedMessage NameSalvaged(const EntryOptions& options, SalvagedMessage message) {
  if (message.storedName.empty()) return message;
  const std::optional<std::string> name =
      options.mapName ? options.mapName(message.storedName) : NameFromStored(message.storedName);
  const bool named = message.state == SalvageState::kComplete || message.state == SalvageState::kPartial;
  if (!name) {
    if (named) {
      message.state = SalvageState::kUnnamed;
      message.outputName = RecoveredName(message.offset);
      message.note = options.mapName ? options.unnamedReason : std::string(kNotInCodePageReason);
    }
    return message;
  }
  message.storedName = *name;
  if (!named) return message;
  message.outputName = message.state == SalvageState::kComplete ? *name : PartialName(*name);
  if (const std::string_view refusal = OutputNameRefusal(message.outputName); !refusal.empty()) {
    message.state = SalvageState::kUnnamed;
    message.outputName = RecoveredName(message.offset);
    message.note = "the stored name is " + std::string(refusal);
  }
  return message;
}

}  // namespace larkspool
