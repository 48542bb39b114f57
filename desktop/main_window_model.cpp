#include "desktop/main_window_model.h"

#include <exception>
#include <utility>

#include "desktop/front_end.h"

namespace larkspool::desktop {

void MainWindowModel::OnEditChange(std::string backupFile, std::string folder) {
  m_strBackupFile = std::move(backupFile);
  m_strFolder = std::move(folder);
}

void MainWindowModel::TakePath(std::string path) {
  if (IsFolder(path.c_str())) {
    m_strFolder = std::move(path);
  } else {
    m_strBackupFile = std::move(path);
  }
}

RunResult MainWindowModel::OnExtract() {
  try {
    return extractor_.OnExtract(m_strBackupFile, m_strFolder);
  } catch (...) {
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return RunResult::kFailed;
  }
}

std::string StartPath(const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments.front().empty()) return {};
  return AbsolutePath(arguments.front());
}

}  // namespace larkspool::desktop
