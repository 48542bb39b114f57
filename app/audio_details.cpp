#include "app/audio_details.h"

#include <cmath>
#include <cstdio>

#include "archive/wav_info.h"

namespace larkspool {

void ReadAudioDetails(FileSystem& fs, const std::string& backupFile, BackupListing& listing) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return;
  WaveInfoReader reader;
  for (ListedEntry& entry : listing.entries)
    entry.audio = reader.Read(fs, backup.get(), entry.offset, entry.size);
}

std::string FormatDuration(double seconds) {
  const auto tenths = static_cast<long long>(std::llround(seconds * 10));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths % 600 / 10, tenths % 10);
  return text;
}

}  // namespace larkspool
