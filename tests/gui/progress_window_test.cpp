// The progress window on its own: what set-up leaves on screen, and what a
// percentage step costs. The walk does not return to the event loop while a
// payload is copied, so the window must be painted when set-up returns, and
// each step must paint the bar and the percentage at once, each exactly once.
#include "gui/progress_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <map>
#include <string>
#include <vector>

#include "gui/qt_user_interface.h"

namespace larkspool::gui {
namespace {

const ProgressLines kLines{"Backup File: box.bkp", "Date: 03/05/2006 09:07", "0%", "Elapsed Time: 00:00:00"};

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

template <class T>
T* Child(const QWidget& window, const char* name) {
  return window.findChild<T*>(QString::fromLatin1(name));
}

// Whether the window is new, prepared at start-up (painted off screen), or
// shown again after an earlier run.
TEST(ProgressWindowTest, SetUpReturnsWithTheWindowShownAndPainted) {
  const ProgressLines earlier{"Backup File: old.bkp", "Date: 01/02/2003 04:05", "0%",
                              "Elapsed Time: 00:00:09"};
  for (const std::string before : {"new", "prepared", "shown before"}) {
    SCOPED_TRACE(before);
    CProgressDlg window;
    if (before == "prepared") window.Prepare();
    if (before == "shown before") {
      window.SetUp(earlier);
      window.ShowProgress(100, QStringLiteral("100%"));
      window.Finish();
      ASSERT_FALSE(window.isVisible());
    }
    PaintCounter paints;
    const char* const texts[] = {"fileLine", "dateLine", "elapsed", "percent"};
    for (const char* name : texts) paints.Watch(Child<QLabel>(window, name));
    auto* bar = Child<QProgressBar>(window, "bar");
    paints.Watch(bar);
    window.SetUp(kLines);

    // Checked before any event loop runs again, as the walk would find it.
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.windowHandle()->isExposed());
    for (const char* name : texts) EXPECT_GE(paints[Child<QLabel>(window, name)], 1) << name;
    EXPECT_GE(paints[bar], 1);
    EXPECT_EQ(Child<QLabel>(window, "fileLine")->text(), QStringLiteral("Backup File: box.bkp"));
    EXPECT_EQ(Child<QLabel>(window, "dateLine")->text(), QStringLiteral("Date: 03/05/2006 09:07"));
    EXPECT_EQ(Child<QLabel>(window, "percent")->text(), QStringLiteral("0%"));
    EXPECT_EQ(Child<QLabel>(window, "elapsed")->text(), QStringLiteral("Elapsed Time: 00:00:00"));
    EXPECT_EQ(bar->value(), 0);
  }
}

// The run clears the flag right after the window is up; a Cancel clicked while
// the window came up still stops the run at the first pump.
TEST(ProgressWindowTest, CancelClickedDuringSetUpSurvivesTheRunClearingTheFlag) {
  QtUserInterface ui(nullptr);
  CancelFlag cancel;
  bool clicked = false;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(ui.progressWindow(), nullptr);
    QTest::mouseClick(Child<QPushButton>(*ui.progressWindow(), "cancel"), Qt::LeftButton);
    clicked = true;
  });
  ASSERT_TRUE(ui.RunWithProgress(kLines, cancel, [&] {
    ASSERT_TRUE(clicked) << "the click came after set-up";
    cancel.Clear();
    ui.PumpMessages();
  }));
  EXPECT_TRUE(cancel.IsRaised());
}

TEST(ProgressWindowTest, EachStepPaintsTheBarAndThePercentageOnce) {
  CProgressDlg window;
  window.SetUp(kLines);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::processEvents();
  auto* bar = Child<QProgressBar>(window, "bar");
  auto* percent = Child<QLabel>(window, "percent");
  PaintCounter paints;
  paints.Watch(bar);
  paints.Watch(percent);

  int steps = 0;
  for (int value : {1, 2, 37, 98, 100}) {
    window.ShowProgress(value, QString::number(value) + QLatin1Char('%'));
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

// The percentage is put together from glyphs laid out once; every text it
// shows must look exactly as a plain label in its place shows it.
TEST(ProgressWindowTest, PercentageLooksAsAPlainLabelShowsIt) {
  CProgressDlg window;
  window.SetUp(kLines);
  auto* percent = Child<QLabel>(window, "percent");
  QLabel plain(&window);
  plain.setTextFormat(Qt::PlainText);
  plain.setGeometry(percent->geometry());
  plain.hide();
  std::vector<QString> texts = {QStringLiteral("Percent"), QString()};
  for (int value = 0; value <= 100; ++value) texts.push_back(QString::number(value) + QLatin1Char('%'));
  for (const QString& text : texts) {
    percent->setText(text);
    plain.setText(text);
    EXPECT_EQ(percent->grab().toImage(), plain.grab().toImage()) << text.toStdString();
  }
  window.close();
}

}  // namespace
}  // namespace larkspool::gui
