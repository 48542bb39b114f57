// The main window: the backup file and the extraction folder, typed or chosen
// with the "..." buttons, and Extract; its context menu opens the contents
// window. Closing it ends the program.
#pragma once

#include <QDialog>
#include <QString>

#include "desktop/main_window_model.h"
#include "gui/qt_user_interface.h"

class QContextMenuEvent;
class QLineEdit;
class QPushButton;

namespace larkspool::gui {

class ContentsWindow;

// The file dialog of a backup file; empty when cancelled.
QString ChooseBackupFile(QWidget* parent);

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
  // The context menu's "Contents...": the contents window of the backup in
  // the field, or of one chosen in the file dialog when the field is empty.
  // Null when none was chosen or it could not be opened.
  ContentsWindow* OnContents();
  // A path from the command line or a drop: a folder fills the folder field,
  // anything else the backup field.
  void TakePath(const QString& path);

  QtUserInterface& ui() { return ui_; }
  // The outcome of the last Extract.
  RunResult lastResult() const { return lastResult_; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

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
