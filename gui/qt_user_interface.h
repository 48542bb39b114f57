// The core's user interface on Qt windows: message boxes, the password and
// overwrite prompts, and the progress window, each modal over the main window.
#pragma once

#include <functional>
#include <memory>

#include "base/user_interface.h"
#include "gui/progress_window.h"

class QWidget;

namespace larkspool::gui {

// Measures once what every message box needs and lays out and paints, hidden,
// the box that ends a completed run, so that the first box of a run does not
// wait for fonts and pictures to load. The tool calls it at start-up; without
// it the first box does that work.
void PrepareMessageBoxes();

class QtUserInterface final : public UserInterface {
 public:
  // Makes the progress window of a run; null when it cannot be created.
  using ProgressWindowFactory = std::function<std::unique_ptr<CProgressDlg>()>;

  explicit QtUserInterface(QWidget* owner, ProgressWindowFactory factory = {});
  ~QtUserInterface() override;

  void ShowMessage(const Message& message) override;
  OverwriteAnswer AskOverwrite(const std::string& name) override;
  std::optional<std::string> AskPassword() override;
  void SetBusy(bool busy) override;
  bool OpenProgress(const ProgressLines& lines, CancelFlag& cancel) override;
  void ResetProgressBar() override;
  void ShowPercent(int percent, const std::string& text) override;
  void ShowElapsed(const std::string& text) override;
  void PumpMessages() override;
  void CloseProgress() override;

  // Makes the progress window ahead of the first run, hidden and painted once
  // off screen, so that Extract brings it up at once. The tool calls it once
  // its main window is up; without it the first run makes the window.
  void PrepareProgressWindow();

  // The open progress window, or null.
  CProgressDlg* progressWindow() const { return open_ ? progress_.get() : nullptr; }

 private:
  QWidget* owner_;
  ProgressWindowFactory factory_;
  // Made once and hidden between runs.
  std::unique_ptr<CProgressDlg> progress_;
  bool open_ = false;
  bool busy_ = false;
};

}  // namespace larkspool::gui
