// The window on screen while a run works: the backup's name and date, the
// elapsed time, the percentage, a bar and Cancel. Cancel (also Esc and the
// close box) only raises the run's cancel flag; the walk stops between
// entries and the run closes the window.
#pragma once

#include <QDialog>

#include "base/user_interface.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace larkspool::gui {

class CProgressDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CProgressDlg(QWidget* parent = nullptr);

  // Shows the lines, 0 % and no elapsed time, then the window itself, painted
  // at once. The flag is what Cancel raises.
  void SetUp(const ProgressLines& lines, CancelFlag& cancel);
  void ResetBar();
  // Repaints at once: the walk does not return to the event loop per chunk.
  void SetPercent(int percent, const QString& text);
  void SetElapsed(const QString& text);

 public slots:
  void reject() override;

 private:
  CancelFlag* cancel_ = nullptr;
  QLabel* fileLine_;
  QLabel* dateLine_;
  QLabel* elapsed_;
  QLabel* percent_;
  QProgressBar* bar_;
};

}  // namespace larkspool::gui
