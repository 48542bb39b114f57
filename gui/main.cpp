// larkspool: the desktop tool. Every start shows two empty fields; closing the
// main window ends the program.
#include <QApplication>

#include "gui/dialog_units.h"
#include "gui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Larkspool"));
  larkspool::gui::LoadDialogFont();
  larkspool::gui::CMainDlg window;
  window.exec();
  return 0;
}
