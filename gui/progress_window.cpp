#include "gui/progress_window.h"

#include <QEventLoop>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/dialog_units.h"

namespace larkspool::gui {
namespace {

// How long set-up waits for the window system to show the window.
constexpr int kShowTimeoutMs = 500;

// A bordered bar filled up to its value, as the classic progress control
// draws it. The bar is painted once per percentage step, so it is drawn with
// solid fills only: the style's bar costs about a million instructions a
// paint, an outlined rectangle a hundred thousand, three fills a few thousand.
class PaintedBar final : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect frame = rect();
    painter.fillRect(frame, palette().color(QPalette::Mid));
    painter.fillRect(frame.adjusted(1, 1, -1, -1), palette().base());
    const QRect inside = frame.adjusted(2, 2, -2, -2);
    const int span = maximum() - minimum();
    if (span <= 0 || value() <= minimum()) return;
    const auto filled =
        static_cast<int>(static_cast<long long>(inside.width()) * (value() - minimum()) / span);
    painter.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()), palette().highlight());
  }
};

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
  const DialogUnits& units = DialogUnits::OfDialogFont();
  ApplyTemplate(*this, units, 259, 87);
  setWindowModality(Qt::ApplicationModal);

  auto* cancel = new QPushButton(tr("&Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setGeometry(units.Map(200, 65, 50, 15));
  cancel->setAutoDefault(false);
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
  // The window system maps the window some time after show(), and only then
  // can it be painted. Keys and clicks stay queued: the walk's pump takes them.
  if (painted_) return;
  QEventLoop loop;
  QTimer::singleShot(kShowTimeoutMs, &loop, &QEventLoop::quit);
  waiting_ = &loop;
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  waiting_ = nullptr;
}

void CProgressDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // The children are painted and the window flushed before the loop returns.
  painted_ = true;
  if (waiting_ != nullptr) waiting_->quit();
}

void CProgressDlg::ResetBar() { ShowProgress(0, percent_->text()); }

void CProgressDlg::SetPercent(int percent, const QString& text) { ShowProgress(percent, text); }

void CProgressDlg::ShowProgress(int percent, const QString& text) {
  // Setting the bar's value would repaint the bar at once, and then the text
  // would be repainted on its own: two passes and two flushes to the screen.
  // Both are marked instead and painted in one pass.
  bar_->setUpdatesEnabled(false);
  bar_->setRange(0, 100);
  bar_->setValue(percent);
  bar_->setUpdatesEnabled(true);
  percent_->setText(text);
  repaint(bar_->geometry().united(percent_->geometry()));
}

void CProgressDlg::SetElapsed(const QString& text) {
  elapsed_->setText(text);
  elapsed_->repaint();
}

void CProgressDlg::KeepCancel() {
  if (cancelled_ && cancel_ != nullptr) cancel_->Raise();
}

void CProgressDlg::reject() {
  // The window stays open; the run closes it once the walk has stopped.
  cancelled_ = true;
  if (cancel_ != nullptr) cancel_->Raise();
}

}  // namespace larkspool::gui
