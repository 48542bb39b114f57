#include "base/status.h"

#include <utility>

namespace larkspool {

Message StatusMessage(StatusCode code, std::string detail) {
  const auto number = static_cast<unsigned>(code);
  std::string text;
  switch (code) {
    case StatusCode::kBothPathsEmpty:
      text = "Backup file and Extraction folder are not specified.";
      break;
    case StatusCode::kBackupPathEmpty:
      text = "Backup file is not specified.";
      break;
    case StatusCode::kFolderPathEmpty:
      text = "Extraction folder is not specified.";
      break;
    case StatusCode::kBackupNotFound:
      text = "The specified file is not found.";
      break;
    case StatusCode::kFolderNotFound:
      text = "The specified folder is not found.";
      break;
    case StatusCode::kNotVoiceBackup:
      text = "This file is not a voice backup data.";
      break;
    case StatusCode::kWrongPassword:
      text = "The password is not correct.";
      break;
    case StatusCode::kWaveFormat:
      text = "Wave file format error.";
      break;
    case StatusCode::kAudioFormat:
      text = "This message's audio format cannot be played here.";
      break;
    case StatusCode::kSuccess:
    case StatusCode::kOpenFailed:
    case StatusCode::kReadFailed:
    case StatusCode::kWriteFailed:
    case StatusCode::kNoMemory:
      text = "System error(" + std::to_string(number) + ")";
      break;
  }
  // The wrong password is the one fault shown with the stop icon.
  const MessageStyle style =
      code == StatusCode::kWrongPassword ? MessageStyle::kStop : MessageStyle::kExclamation;
  return Message{std::move(text), style, std::move(detail)};
}

}  // namespace larkspool
