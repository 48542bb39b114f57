// The core's user interface on Qt windows: message boxes, the password and
// overwrite prompts, and the progress window. What a run does with them
// (owners, the wait cursor, the pumps, the keys) is DesktopUi's.
#pragma once

#include <functional>
#include <memory>

#include "desktop/desktop_ui.h"
#include "gui/progress_window.h"

class QWidget;

namespace larkspool::gui {

class QtUserInterface final : public desktop::DesktopUi {
 public:
  // Makes the progress window of a run; null when it cannot be created.
  using ProgressWindowFactory = std::function<std::unique_ptr<CProgressDlg>()>;

  // `owner` is the main window.
  explicit QtUserInterface(QWidget* owner, ProgressWindowFactory factory = {},
                           Ticks ticks = SteadyMilliseconds);

  // Readies the windows of a run ahead of the first one, so that Extract
  // brings them up at once: makes the progress window, hidden and painted
  // once off screen, and loads the fonts and pictures of the message boxes.
  // The tool calls it once its main window is up; without it the first run
  // does that work.
  void PrepareWindows();

  // The open progress window, or null.
  CProgressDlg* progressWindow() const { return open_ ? progress_.get() : nullptr; }

 private:
  void OpenMessageBox(Owner owner, const Message& message) override;
  bool OpenQuestion(Owner owner, const std::string& question) override;
  long long OpenOverwritePrompt(Owner owner, const std::string& name) override;
  std::optional<std::string> OpenPasswordPrompt(Owner owner) override;
  void SetWaitCursor(bool shown) override;
  bool ShowProgressWindow(const ProgressLines& lines, const std::function<void()>& whileUp) override;
  void PaintProgress(const desktop::ProgressChange& change) override;
  void DispatchWaiting() override;

  QWidget* Window(Owner owner) const;
  // Makes the progress window when there is none yet; false when it cannot.
  bool MakeProgressWindow();

  QWidget* owner_;
  ProgressWindowFactory factory_;
  // Made once and hidden between runs.
  std::unique_ptr<CProgressDlg> progress_;
  bool open_ = false;
  bool waitCursor_ = false;
};

}  // namespace larkspool::gui
