// The core's user interface on Qt windows: message boxes, the password and
// overwrite prompts, and the progress window, each modal over the main window.
#pragma once

#include <functional>
#include <memory>

#include "base/user_interface.h"
#include "desktop/front_end.h"
#include "gui/progress_window.h"

class QWidget;

namespace larkspool::gui {

class QtUserInterface final : public UserInterface {
 public:
  // Makes the progress window of a run; null when it cannot be created.
  using ProgressWindowFactory = std::function<std::unique_ptr<CProgressDlg>()>;

  explicit QtUserInterface(QWidget* owner, ProgressWindowFactory factory = {});
  ~QtUserInterface() override;

  void ShowMessage(const Message& message) override;
  OverwriteAnswer AskOverwrite(const std::string& name) override;
  std::optional<std::string> AskPassword() override;
  bool AskYesNo(const std::string& question) override;
  void SetBusy(bool busy) override;
  bool OpenProgress(const ProgressLines& lines, CancelFlag& cancel) override;
  void ResetProgressBar() override;
  void ShowPercent(int percent, const std::string& text) override;
  void ShowElapsed(const std::string& text) override;
  void PumpMessages() override;
  void CloseProgress() override;

  // Readies the windows of a run ahead of the first one, so that Extract
  // brings them up at once: makes the progress window, hidden and painted
  // once off screen, and loads the fonts and pictures of the message boxes.
  // The tool calls it once its main window is up; without it the first run
  // does that work.
  void PrepareWindows();

  // The open progress window, or null.
  CProgressDlg* progressWindow() const { return open_ ? progress_.get() : nullptr; }

 private:
  QWidget* owner_;
  ProgressWindowFactory factory_;
  // Made once and hidden between runs.
  std::unique_ptr<CProgressDlg> progress_;
  bool open_ = false;
  desktop::BusyFlag busy_;
};

}  // namespace larkspool::gui
