// What `list` prints: the plain listing, the long listing with the audio
// details, and JSON.
#pragma once

#include <string>

#include "app/inspect_request.h"

namespace larkspool::cli {

// "SIZE<TAB>NAME" per entry.
void PrintText(const BackupListing& listing);
// Aligned columns per entry: size, duration (M:SS.s), format, sample rate
// and name; "-" where the audio details are unknown.
void PrintLong(const BackupListing& listing);
// One line: the kind, the password flag and every entry with its size,
// offset and audio details (null when unknown).
void PrintJson(const BackupListing& listing);

}  // namespace larkspool::cli
