// The window on screen while a run works: the backup's name and date, the
// elapsed time, the percentage, a bar and Cancel. Cancel, the close box and
// the keys go to the run it is attached to (desktop::DesktopUi), which
// decides what they do; the walk stops between entries and the run closes
// the window.
#pragma once

#include <QDialog>
#include <optional>

#include "base/user_interface.h"
#include "desktop/desktop_ui.h"

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace larkspool::gui {

class CProgressDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CProgressDlg(QWidget* parent = nullptr);

  // Makes the native window and paints the window once off screen, so that
  // its first showing does not wait for fonts and pictures to load.
  void Prepare();

  // Where Cancel, the close box and the keys go.
  void Attach(desktop::DesktopUi& run) { run_ = &run; }

  // Shows the lines, 0 % and no elapsed time, then the window itself, and
  // returns once it is on screen and painted (or after half a second when the
  // window system does not show it): the walk that follows does not return to
  // the event loop during its first entry. Input made meanwhile waits for the
  // walk's first pump.
  void SetUp(const ProgressLines& lines);
  // Hides the window: the next SetUp starts afresh.
  void Finish();
  // Moves the bar and sets the percentage, whichever is given, and repaints
  // them at once in one pass: the walk does not return to the event loop
  // per chunk.
  void ShowProgress(std::optional<int> bar, const std::optional<QString>& percent);
  void SetElapsed(const QString& text);
  // The wait cursor over the window, but not over Cancel.
  void ShowWaitCursor(bool shown);

 public slots:
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  desktop::DesktopUi* run_ = nullptr;
  bool painted_ = false;
  QEventLoop* waiting_ = nullptr;
  QLabel* fileLine_;
  QLabel* dateLine_;
  QLabel* elapsed_;
  QLabel* percent_;
  QProgressBar* bar_;
};

}  // namespace larkspool::gui
