#include "gui/progress_window.h"

#include <QEventLoop>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTextLayout>
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

// The percentage. Its text changes at every step, and laying out a text
// anew is most of the cost of a step's paint: the glyphs of the digits and
// of "%" are laid out once, and each text is put together from them. Any
// other text is painted as any label paints it.
class PercentLabel final : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QGlyphRun run;
    if (!Compose(text(), run)) {
      QLabel::paintEvent(event);
      return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    // Centred in height as a label centres a line.
    const QRectF box = contentsRect();
    painter.drawGlyphRun(QPointF(box.left(), box.top() + (box.height() - lineHeight_) / 2), run);
  }

 private:
  static constexpr QStringView kCharacters = u"0123456789%";

  // Lays out the characters in the label's font, once per font.
  bool Prepare() {
    if (prepared_ && preparedFor_ == font()) return !glyphs_.isEmpty();
    prepared_ = true;
    preparedFor_ = font();
    glyphs_.clear();
    QTextLayout layout(kCharacters.toString(), font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1 || runs[0].glyphIndexes().size() != kCharacters.size()) return false;
    font_ = runs[0].rawFont();
    glyphs_ = runs[0].glyphIndexes();
    positions_ = runs[0].positions();
    positions_.append(QPointF(line.naturalTextWidth(), positions_.first().y()));
    lineHeight_ = line.height();
    return true;
  }

  bool Compose(const QString& text, QGlyphRun& run) {
    if (!Prepare()) return false;
    QList<quint32> glyphs;
    QList<QPointF> positions;
    qreal x = 0;
    for (const QChar c : text) {
      const auto at = kCharacters.indexOf(c);
      if (at < 0) return false;
      glyphs.append(glyphs_[at]);
      positions.append(QPointF(x, positions_[at].y()));
      x += positions_[at + 1].x() - positions_[at].x();
    }
    run.setRawFont(font_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    return true;
  }

  bool prepared_ = false;
  QFont preparedFor_;
  QRawFont font_;
  QList<quint32> glyphs_;
  QList<QPointF> positions_;  // of each character in the layout, then of its end
  qreal lineHeight_ = 0;
};

// A key as the run reads it.
desktop::Key KeyOf(const QKeyEvent& event) {
  desktop::Key key;
  key.alt = event.modifiers().testFlag(Qt::AltModifier);
  const int code = event.key();
  if (code == Qt::Key_Return || code == Qt::Key_Enter) {
    key.name = desktop::Key::Name::kEnter;
  } else if (code == Qt::Key_Escape) {
    key.name = desktop::Key::Name::kEscape;
  } else if (code >= Qt::Key_A && code <= Qt::Key_Z) {
    key.letter = static_cast<char>('a' + (code - Qt::Key_A));
  }
  return key;
}

QLabel* Place(QLabel* label, const char* name, const QRect& geometry) {
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
  cancel->setCursor(Qt::ArrowCursor);
  connect(cancel, &QPushButton::clicked, this, &CProgressDlg::reject);
  // Keys reach the focused button or, without one, the window.
  installEventFilter(this);
  cancel->installEventFilter(this);
  fileLine_ = Place(new QLabel(tr("File Name:"), this), "fileLine", units.Map(5, 5, 245, 10));
  dateLine_ = Place(new QLabel(tr("Date:"), this), "dateLine", units.Map(5, 15, 245, 10));
  elapsed_ = Place(new QLabel(tr("Elapsed Time:"), this), "elapsed", units.Map(5, 25, 245, 10));
  percent_ = Place(new PercentLabel(QStringLiteral("0%"), this), "percent", units.Map(5, 40, 245, 10));
  bar_ = new PaintedBar(this);
  bar_->setObjectName(QStringLiteral("bar"));
  bar_->setGeometry(units.Map(5, 50, 245, 10));
  bar_->setTextVisible(false);
  bar_->setRange(0, 100);
  bar_->setValue(0);
}

void CProgressDlg::Prepare() {
  winId();
  grab();
}

void CProgressDlg::SetUp(const ProgressLines& lines) {
  bar_->setValue(0);
  percent_->setText(QString::fromStdString(lines.percentText));
  elapsed_->setText(QString::fromStdString(lines.elapsedText));
  fileLine_->setText(QString::fromLocal8Bit(lines.fileLine.c_str()));
  dateLine_->setText(QString::fromStdString(lines.dateLine));
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

void CProgressDlg::Finish() {
  hide();
  painted_ = false;
}

void CProgressDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // The children are painted and the window flushed before the loop returns.
  // A paint off screen (Prepare) is not the window on screen.
  if (!isVisible()) return;
  painted_ = true;
  if (waiting_ != nullptr) waiting_->quit();
}

void CProgressDlg::ShowProgress(std::optional<int> bar, const std::optional<QString>& percent) {
  // Setting the bar's value would repaint the bar at once, and then the text
  // would be repainted on its own: two passes and two flushes to the screen.
  // Both are marked instead and painted in one pass.
  QRect changed;
  if (bar) {
    bar_->setUpdatesEnabled(false);
    bar_->setRange(0, 100);
    bar_->setValue(*bar);
    bar_->setUpdatesEnabled(true);
    changed = bar_->geometry();
  }
  if (percent) {
    percent_->setText(*percent);
    changed = changed.united(percent_->geometry());
  }
  if (!changed.isNull()) repaint(changed);
}

void CProgressDlg::SetElapsed(const QString& text) {
  elapsed_->setText(text);
  elapsed_->repaint();
}

void CProgressDlg::ShowWaitCursor(bool shown) {
  if (shown) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

bool CProgressDlg::eventFilter(QObject* /*watched*/, QEvent* event) {
  const QEvent::Type type = event->type();
  if (run_ == nullptr || (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)) return false;
  const desktop::Key key = KeyOf(*static_cast<QKeyEvent*>(event));
  if (type == QEvent::KeyPress) return run_->OnProgressKey(key);
  // A key the run handles comes as a key press, not as the shortcut of
  // Cancel's letter.
  if (desktop::ProgressKeyAction(key) == desktop::KeyAction::kPassOn) return false;
  event->accept();
  return true;
}

void CProgressDlg::reject() {
  // The window stays open; the run closes it once the walk has stopped.
  if (run_ != nullptr) run_->OnCancel();
}

}  // namespace larkspool::gui
