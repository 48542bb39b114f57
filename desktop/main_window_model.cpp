#include "desktop/main_window_model.h"

#include <exception>
#include <optional>
#include <utility>

#include "app/salvage_request.h"
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
    const RunResult result = extractor_.OnExtract(m_strBackupFile, m_strFolder);
    if (result != RunResult::kFailed) return result;
    const std::optional<DamagedStop> stop = extractor_.damaged_stop();
    return stop ? OfferSalvage(*stop) : result;
  } catch (...) {
    ui_.ShowMessage(MessageForException(std::current_exception()));
    return RunResult::kFailed;
  }
}

RunResult MainWindowModel::OfferSalvage(const DamagedStop& stop) {
  if (!ui_.AskYesNo(std::string(kSalvageOfferText))) return RunResult::kFailed;
  SalvageReport report;
  std::string summary;
  // Files before and after the stop get their names the same way.
  Salvager salvager(fs_, ui_);
  salvager.set_entry_options(extractor_.run().entry_options());
  if (salvageChosen_) salvager.set_chosen(salvageChosen_);
  const RunResult result = salvager.GoOn(stop, report, summary);
  // After a fault or a cancel too, the summary tells where the report is.
  if (!summary.empty()) ui_.ShowMessage(Message{summary, MessageStyle::kInformation, {}});
  return result;
}

std::string StartPath(const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments.front().empty()) return {};
  return AbsolutePath(arguments.front());
}

}  // namespace larkspool::desktop
