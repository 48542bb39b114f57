// The contents window: the messages of one backup in a list the user can
// filter, sort, select, play, extract and verify, without extracting the
// whole backup first. What it shows and does is desktop::ContentsModel's and
// desktop::Player's; this is their face on the system's own controls.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/file_system.h"

namespace larkspool::win32 {

// Asks for the password of a protected backup first (over `owner`), then
// shows the contents window of `backupFile`, modal over `owner` (none from
// the command line), until it is closed. False, without a window, when the
// backup could not be opened (its message has been shown) or the password
// prompt was cancelled.
bool ShowContents(FileSystem& fs, HWND owner, const std::string& backupFile);

// The system's file dialog for a backup file, over `owner`; nothing when it
// is cancelled.
std::optional<std::string> AskForBackupFile(HWND owner);

}  // namespace larkspool::win32
