// larkspool: the desktop tool. A start shows two empty fields, or the backup
// field filled with the file named on the command line; closing the main
// window ends the program. `larkspool --contents FILE` shows the contents
// window of FILE instead, and ends when it closes.
#include <QApplication>
#include <QTimer>

#include "gui/contents_window.h"
#include "gui/dialog_units.h"
#include "gui/main_window.h"
#include "gui/opened_paths.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspool"));
  QApplication::setApplicationVersion(QStringLiteral(LARKSPOOL_VERSION));
  const larkspool::gui::StartRequest start = larkspool::gui::ParseStart(QApplication::arguments());
  larkspool::gui::LoadDialogFont();
  if (start.contents) {
    const QString file = start.path.isEmpty() ? larkspool::gui::ChooseBackupFile(nullptr) : start.path;
    if (file.isEmpty()) return 2;
    larkspool::gui::ContentsWindow window;
    if (!window.Open(file)) return 1;
    window.show();
    window.exec();
    return 0;
  }
  larkspool::gui::CMainDlg window;
  if (!start.path.isEmpty()) window.TakePath(start.path);
  // Once the main window is up, the windows of a run are made ready.
  QTimer::singleShot(0, &window, [&window] { window.ui().PrepareWindows(); });
  window.exec();
  return 0;
}
