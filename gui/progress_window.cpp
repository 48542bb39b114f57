#include "gui/progress_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "gui/dialog_units.h"

namespace larkspool::gui {
namespace {

// Knows the value it last painted. QProgressBar::setValue repaints by itself
// when it judges a step large enough to show; the window paints the smaller
// steps, and only those.
class PaintedBar final : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;
  bool Shows(int value) const { return painted_ == value; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    painted_ = value();
    QProgressBar::paintEvent(event);
  }

 private:
  int painted_ = -1;
};

// Paints the bar at once unless setting its value already did.
void ShowValue(QProgressBar* bar, int value) {
  bar->setValue(value);
  if (!static_cast<PaintedBar*>(bar)->Shows(value)) bar->repaint();
}

QLabel* AddText(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

CProgressDlg::CProgressDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Larkspool"));
  setWindowModality(Qt::ApplicationModal);
  const DialogUnits units(DialogFont());
  ApplyTemplate(*this, units, 259, 87);

  auto* cancel = new QPushButton(tr("&Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setGeometry(units.Map(200, 65, 50, 15));
  connect(cancel, &QPushButton::clicked, this, &CProgressDlg::reject);
  fileLine_ = AddText(this, "fileLine", tr("File Name:"), units.Map(5, 5, 245, 10));
  dateLine_ = AddText(this, "dateLine", tr("Date:"), units.Map(5, 15, 245, 10));
  elapsed_ = AddText(this, "elapsed", tr("Elapsed Time:"), units.Map(5, 25, 245, 10));
  percent_ = AddText(this, "percent", QStringLiteral("0%"), units.Map(5, 40, 245, 10));
  bar_ = new PaintedBar(this);
  bar_->setObjectName(QStringLiteral("bar"));
  bar_->setGeometry(units.Map(5, 50, 245, 10));
  bar_->setTextVisible(false);
  bar_->setRange(0, 100);
  bar_->setValue(0);
}

void CProgressDlg::SetUp(const ProgressLines& lines, CancelFlag& cancel) {
  percent_->setText(QString::fromStdString(lines.percentText));
  elapsed_->setText(QString::fromStdString(lines.elapsedText));
  fileLine_->setText(QString::fromLocal8Bit(lines.fileLine.c_str()));
  dateLine_->setText(QString::fromStdString(lines.dateLine));
  cancel_ = &cancel;
  show();
  repaint();
}

void CProgressDlg::ResetBar() {
  bar_->setRange(0, 100);
  ShowValue(bar_, 0);
}

void CProgressDlg::SetPercent(int percent, const QString& text) {
  // A synchronous repaint paints everything pending in the window, so each
  // widget is repainted before the next one changes: repainting both after
  // both changed would paint the text twice.
  ShowValue(bar_, percent);
  percent_->setText(text);
  percent_->repaint();
}

void CProgressDlg::SetElapsed(const QString& text) {
  elapsed_->setText(text);
  elapsed_->repaint();
}

void CProgressDlg::reject() {
  // The window stays open; the run closes it once the walk has stopped.
  if (cancel_ != nullptr) cancel_->Raise();
}

}  // namespace larkspool::gui
