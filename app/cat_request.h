// One entry's payload handed out byte for byte (to standard output, for a
// player), after the same classification, password gate and tag test as an
// extraction.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "app/inspect_request.h"
#include "archive/payload.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool {

// Takes the next bytes of the payload; false when they could not be
// written, with errno telling why.
using PayloadSink = std::function<bool(std::span<const std::uint8_t> bytes)>;

// The outcome of a lookup by name that found nothing: the walk was sound but
// no entry has the name.
enum class CatResult { kWritten, kFailed, kCancelled, kNoSuchEntry };

// Walks the whole backup like `list` (so a structural fault anywhere fails),
// then hands the payload of the last entry named `name` (after the options'
// mapping: the entry an extraction leaves on disk) to `sink`, its first chunk
// only after the tag test. The options' own selection is not used. A fault
// is shown through `ui`; kNoSuchEntry shows nothing.
CatResult CatEntry(FileSystem& fs, UserInterface& ui, const std::string& backupFile, const std::string& name,
                   const EntryOptions& options, const PayloadSink& sink);

// What becomes of the payload found: `backup` is open on it and stands at
// its first byte. A failure is shown by the caller, about the entry's name.
using PayloadHandler = std::function<Outcome(FileSystem& fs, FileHandle backup, const PayloadSpan& payload)>;

// CatEntry, with the payload found handed to `handle` (a conversion)
// instead of to a sink as it is stored.
CatResult CatEntryAs(FileSystem& fs, UserInterface& ui, const std::string& backupFile,
                     const std::string& name, const EntryOptions& options, const PayloadHandler& handle);

}  // namespace larkspool
