// Status codes, message styles and the catalogue that turns a code into the
// one message the user sees for a fault.
#pragma once

#include <string>
#include <string_view>

namespace larkspool {

// Names a fault; 0 is success and is never shown.
enum class StatusCode : unsigned {
  kSuccess = 0,
  kBothPathsEmpty = 1,
  kBackupPathEmpty = 2,
  kFolderPathEmpty = 3,
  kBackupNotFound = 4,
  kFolderNotFound = 5,
  kNotVoiceBackup = 6,
  kWrongPassword = 7,
  kWaveFormat = 8,
  kOpenFailed = 9,
  kReadFailed = 10,
  kWriteFailed = 11,
  kNoMemory = 12,
  // Beyond the catalogue of an extraction: a message whose audio cannot be
  // decoded here, when it is converted or played. Its outcome names the
  // format in a text of its own (Outcome::WithText).
  kAudioFormat = 13,
};

// The icon of a message box; every box has a single OK button. The values are
// the message-box style bits the messages were designed with.
enum class MessageStyle : unsigned {
  kPlain = 0,
  kStop = 16,
  kExclamation = 48,
  kInformation = 64,
};

struct Message {
  std::string text;  // exactly what the user reads
  MessageStyle style;
  std::string detail;  // optional context (a file name, an OS error) for front
                       // ends that can show more than the box text
};

inline constexpr std::string_view kCompletedText = "Extraction completed.";
inline constexpr std::string_view kProgressFailedText = "CProgressDlg DoModal failed.";

// The catalogue: the text and style of a status code from 1 to 13.
Message StatusMessage(StatusCode code, std::string detail = {});

}  // namespace larkspool
