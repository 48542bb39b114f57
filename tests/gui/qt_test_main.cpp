// The start of the window tests that run their cases through GoogleTest: an
// application (offscreen unless told otherwise) with the dialogs' font.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/dialog_units.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  larkspool::gui::LoadDialogFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
