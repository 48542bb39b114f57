// The main window: the backup file and the extraction folder, typed or chosen
// with the "..." buttons, and Extract. Closing it ends the program.
#pragma once

#include <QDialog>
#include <QString>

#include "desktop/main_window_model.h"
#include "gui/qt_user_interface.h"

class QLineEdit;
class QPushButton;

namespace larkspool::gui {

class CMainDlg : public QDialog {
  Q_OBJECT

 public:
  // `ticks` times the run's pumps (see desktop::DesktopUi).
  explicit CMainDlg(QtUserInterface::ProgressWindowFactory progressFactory = {},
                    Ticks ticks = SteadyMilliseconds, QWidget* parent = nullptr);

  // Equal to the two fields at all times; Extract reads these.
  QString backupFile() const;
  QString folder() const;

  void OnExtract();
  void OnBrowseFile();
  void OnBrowseFolder();
  // A path from the command line or a drop: a folder fills the folder field,
  // anything else the backup field.
  void TakePath(const QString& path);

  QtUserInterface& ui() { return ui_; }
  // The outcome of the last Extract.
  RunResult lastResult() const { return lastResult_; }

 private:
  void OnEditChange();
  // Shows both members in the fields.
  void UpdateFields();

  QLineEdit* backupEdit_;
  QLineEdit* folderEdit_;
  QtUserInterface ui_;
  desktop::MainWindowModel model_;
  RunResult lastResult_ = RunResult::kCompleted;
};

}  // namespace larkspool::gui
