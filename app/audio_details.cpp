#include "app/audio_details.h"

#include "archive/wav_info.h"

namespace larkspool {

void ReadAudioDetails(FileSystem& fs, const std::string& backupFile, BackupListing& listing) {
  ScopedFile backup(fs, fs.OpenRead(backupFile.c_str()));
  if (!backup.valid()) return;
  WaveInfoReader reader;
  for (ListedEntry& entry : listing.entries)
    entry.audio = reader.Read(fs, backup.get(), entry.offset, entry.size);
}

}  // namespace larkspool
