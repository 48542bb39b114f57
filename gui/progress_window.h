// The window on screen while a run works: the backup's name and date, the
// elapsed time, the percentage, a bar and Cancel. Cancel (also Esc and the
// close box) only raises the run's cancel flag; the walk stops between
// entries and the run closes the window. Enter does nothing: a second press
// of the key that started the run must not stop it.
#pragma once

#include <QDialog>

#include "base/user_interface.h"

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

  // Shows the lines, 0 % and no elapsed time, then the window itself, and
  // returns once it is on screen and painted (or after half a second when the
  // window system does not show it): the walk that follows does not return to
  // the event loop during its first entry. Input made meanwhile waits for the
  // walk's first pump. The flag is what Cancel raises.
  void SetUp(const ProgressLines& lines, CancelFlag& cancel);
  // Hides the window and forgets the run: the next SetUp starts afresh.
  void Finish();
  void ResetBar();
  // Repaints at once: the walk does not return to the event loop per chunk.
  void SetPercent(int percent, const QString& text);
  void SetElapsed(const QString& text);
  // Raises the flag again if the window was cancelled: a Cancel made while
  // the window came up must survive the run's clearing the flag after it.
  void KeepCancel();

 public slots:
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Shows the bar at `percent` and the text, painted at once.
  void ShowProgress(int percent, const QString& text);

  CancelFlag* cancel_ = nullptr;
  bool cancelled_ = false;
  bool painted_ = false;
  QEventLoop* waiting_ = nullptr;
  QLabel* fileLine_;
  QLabel* dateLine_;
  QLabel* elapsed_;
  QLabel* percent_;
  QProgressBar* bar_;
};

}  // namespace larkspool::gui
