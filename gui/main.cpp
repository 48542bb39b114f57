// larkspool: the desktop tool. A start shows two empty fields, or the backup
// field filled with the file named on the command line; closing the main
// window ends the program.
#include <QApplication>
#include <QTimer>

#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/opened_paths.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspool"));
  QApplication::setApplicationVersion(QStringLiteral(LARKSPOOL_VERSION));
  const QString startPath = larkspool::gui::StartPath(QApplication::arguments());
  larkspool::gui::LoadDialogFont();
  larkspool::gui::CMainDlg window;
  if (!startPath.isEmpty()) window.TakePath(startPath);
  // Once the main window is up, the windows of a run are made ready.
  QTimer::singleShot(0, &window, [&window] { window.ui().PrepareWindows(); });
  window.exec();
  return 0;
}
