#include "gui/qt_user_interface.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QProxyStyle>
#include <map>

#include "desktop/front_end.h"
#include "gui/dialog_units.h"
#include "gui/overwrite_dialog.h"
#include "gui/password_dialog.h"

namespace larkspool::gui {
namespace {

QMessageBox::Icon IconOf(MessageStyle style) {
  switch (style) {
    case MessageStyle::kStop:
      return QMessageBox::Critical;
    case MessageStyle::kExclamation:
      return QMessageBox::Warning;
    case MessageStyle::kInformation:
      return QMessageBox::Information;
    case MessageStyle::kPlain:
      break;
  }
  return QMessageBox::NoIcon;
}

// The application's style with its standard icons looked up once: the style
// searches the icon themes for a message icon each time it is asked, about
// twenty million instructions a box. Owned by the application.
class IconCachingStyle final : public QProxyStyle {
 public:
  static IconCachingStyle* Instance() {
    static QPointer<IconCachingStyle> style;
    if (style.isNull()) {
      style = new IconCachingStyle;
      style->setParent(qApp);
    }
    return style;
  }

  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    auto found = icons_.find(which);
    if (found == icons_.end())
      found = icons_.emplace(which, QProxyStyle::standardIcon(which, option, widget)).first;
    return found->second;
  }

 private:
  mutable std::map<StandardPixmap, QIcon> icons_;
};

// The width a box needs for its caption "Larkspool" in the desktop's font made
// bold, as window managers draw titles, with room for the window icon and
// three title-bar buttons, each about one and a half text heights wide, and
// the frame's padding. Measured once: the bold font loads on first use.
int CaptionWidth() {
  static const int width = [] {
    QFont title = QApplication::font();
    title.setBold(true);
    const int textHeight = DialogUnits::OfDialogFont().baseHeight();
    return QFontMetrics(title).horizontalAdvance(QStringLiteral("Larkspool")) + 5 * textHeight * 3 / 2;
  }();
  return width;
}

// A message box in the dialog font, with the frame of a fixed dialog, and at
// least as wide as its caption needs beside the window icon and the close box:
// a box is otherwise only as wide as its text, and a short text such as
// "System error(9)" left room for half the caption.
class MessageBox final : public QMessageBox {
 public:
  MessageBox(const Message& message, QWidget* parent)
      : QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(desktop::kCaption),
                    QString::fromUtf8(desktop::BoxText(message).c_str()), QMessageBox::NoButton, parent) {
    // The box's icon and its button's come from the box and its button box.
    setStyle(IconCachingStyle::Instance());
    if (auto* buttons = findChild<QDialogButtonBox*>()) buttons->setStyle(IconCachingStyle::Instance());
    setStandardButtons(QMessageBox::Ok);
    setIcon(IconOf(message.style));
    setWindowFlags(FixedDialogFlags());
    setFont(DialogFont());
    // The box sizes itself to its layout whenever the layout changes: an
    // empty row as wide as the caption needs keeps it from being narrower.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
      const QMargins margins = grid->contentsMargins();
      grid->addItem(new QSpacerItem(CaptionWidth() - margins.left() - margins.right(), 0, QSizePolicy::Fixed,
                                    QSizePolicy::Fixed),
                    grid->rowCount(), 0, 1, grid->columnCount());
    }
  }
};

// Measures what every box needs, and lays out and paints, hidden, the box
// that ends a completed run.
void PrepareMessageBoxes() {
  CaptionWidth();
  // A box being shown measures its caption in the title-bar font.
  QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(QStringLiteral("Larkspool"));
  MessageBox box({std::string(kCompletedText), MessageStyle::kInformation, {}}, nullptr);
  box.grab();
}

}  // namespace

QtUserInterface::QtUserInterface(QWidget* owner, ProgressWindowFactory factory, Ticks ticks)
    : DesktopUi(std::move(ticks)), owner_(owner), factory_(std::move(factory)) {
  if (!factory_) factory_ = [owner] { return std::make_unique<CProgressDlg>(owner); };
}

QWidget* QtUserInterface::Window(Owner owner) const {
  return owner == Owner::kProgressWindow && progress_ ? progress_.get() : owner_;
}

void QtUserInterface::OpenMessageBox(Owner owner, const Message& message) {
  MessageBox box(message, Window(owner));
  box.exec();
}

long long QtUserInterface::OpenOverwritePrompt(Owner owner, const std::string& name) {
  COverwriteDlg dialog(QFile::decodeName(name.c_str()), Window(owner));
  return dialog.exec();
}

bool QtUserInterface::OpenQuestion(Owner owner, const std::string& question) {
  MessageBox box({question, MessageStyle::kPlain, {}}, Window(owner));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setIcon(QMessageBox::Question);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtUserInterface::OpenPasswordPrompt(Owner owner) {
  CPasswordDlg dialog(Window(owner));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Password();
}

void QtUserInterface::SetWaitCursor(bool shown) {
  waitCursor_ = shown;
  if (progress_) progress_->ShowWaitCursor(shown);
}

bool QtUserInterface::MakeProgressWindow() {
  if (progress_) return true;
  progress_ = factory_();
  if (!progress_) return false;
  progress_->Attach(*this);
  progress_->ShowWaitCursor(waitCursor_);
  return true;
}

void QtUserInterface::PrepareWindows() {
  PrepareMessageBoxes();
  if (MakeProgressWindow()) progress_->Prepare();
}

bool QtUserInterface::ShowProgressWindow(const ProgressLines& lines, const std::function<void()>& whileUp) {
  if (!MakeProgressWindow()) return false;
  open_ = true;
  struct Finish {
    QtUserInterface& ui;
    ~Finish() {
      ui.open_ = false;
      ui.progress_->Finish();
    }
  } finish{*this};
  progress_->SetUp(lines);
  whileUp();
  return true;
}

void QtUserInterface::PaintProgress(const desktop::ProgressChange& change) {
  if (!open_) return;
  if (change.bar || change.percent) {
    progress_->ShowProgress(
        change.bar, change.percent ? std::optional(QString::fromStdString(*change.percent)) : std::nullopt);
  }
  if (change.elapsed) progress_->SetElapsed(QString::fromStdString(*change.elapsed));
}

void QtUserInterface::DispatchWaiting() { QApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace larkspool::gui
