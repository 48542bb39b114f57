// The audio details of every entry of a listing, read from the payloads'
// first bytes.
#pragma once

#include <string>

#include "app/inspect_request.h"
#include "platform/file_system.h"

namespace larkspool {

// Fills each entry's `audio`; an entry whose header cannot be parsed, or a
// backup that can no longer be read, leaves it empty. Never fails: the
// details are an addition to a listing that is already complete.
void ReadAudioDetails(FileSystem& fs, const std::string& backupFile, BackupListing& listing);

// A duration as the long listing shows it: "M:SS.s", rounded to the tenth of
// a second.
std::string FormatDuration(double seconds);

}  // namespace larkspool
