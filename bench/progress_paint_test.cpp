// What a percentage step costs the progress window: the walk does not return
// to the event loop while a payload is copied, so each step must paint the
// bar and the percentage at once, and each of them exactly once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <map>

#include "gui/dialog_units.h"
#include "gui/progress_window.h"

namespace larkspool::gui {
namespace {

class PaintCounter : public QObject {
 public:
  void Watch(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    widget->installEventFilter(this);
    counts_[widget] = 0;
  }
  int operator[](QWidget* widget) const { return counts_.at(widget); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++counts_[watched];
    return false;
  }

 private:
  std::map<QObject*, int> counts_;
};

TEST(ProgressWindowPaintTest, EachStepPaintsTheBarAndThePercentageOnce) {
  CProgressDlg window;
  CancelFlag cancel;
  window.SetUp(ProgressLines{"Backup File: box.bkp", "Date: ", "0%", "Elapsed Time: 00:00:00"}, cancel);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::processEvents();
  auto* bar = window.findChild<QProgressBar*>(QStringLiteral("bar"));
  auto* percent = window.findChild<QLabel*>(QStringLiteral("percent"));
  PaintCounter paints;
  paints.Watch(bar);
  paints.Watch(percent);

  int steps = 0;
  for (int value : {1, 2, 37, 98, 100}) {
    window.SetPercent(value, QString::number(value) + QLatin1Char('%'));
    ++steps;
    // Painted before control returns, with no event loop in between.
    EXPECT_EQ(paints[bar], steps) << value;
    EXPECT_EQ(paints[percent], steps) << value;
    EXPECT_EQ(bar->value(), value);
    EXPECT_EQ(percent->text(), QString::number(value) + QLatin1Char('%'));
  }
  // Nothing was left pending for the event loop to paint again.
  QApplication::processEvents();
  EXPECT_EQ(paints[bar], steps);
  EXPECT_EQ(paints[percent], steps);
}

}  // namespace
}  // namespace larkspool::gui

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  larkspool::gui::LoadDialogFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
