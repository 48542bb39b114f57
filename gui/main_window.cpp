#include "gui/main_window.h"

#include <QBitmap>
#include <QColor>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>

#include "desktop/front_end.h"
#include "gui/contents_window.h"
#include "gui/dialog_units.h"
#include "gui/opened_paths.h"
#include "platform/file_system.h"

namespace larkspool::gui {
namespace {

QPushButton* AddButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, const QRect& geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  return edit;
}

// The "..." buttons show the browse picture instead of their text. Its grey
// background is the classic button face; whatever face the style paints shows
// through it instead. Their names say which field they fill.
void ShowBrowsePicture(QPushButton& button, const QString& name) {
  QPixmap picture(QStringLiteral(":/res/browse.bmp"));
  picture.setMask(picture.createMaskFromColor(QColor(192, 192, 192)));
  button.setIcon(QIcon(picture));
  button.setIconSize(picture.size());
  button.setText(QString());
  button.setToolTip(name);
  button.setAccessibleName(name);
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString ShownPath(const std::string& path) { return QFile::decodeName(path.c_str()); }

}  // namespace

CMainDlg::CMainDlg(QtUserInterface::ProgressWindowFactory progressFactory, Ticks ticks, QWidget* parent)
    : QDialog(parent),
      ui_(this, std::move(progressFactory), std::move(ticks)),
      model_(NativeFileSystem(), ui_) {
  setWindowTitle(QString::fromLatin1(desktop::kCaption));
  QIcon icon;
  icon.addFile(QStringLiteral(":/res/larkspool-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/res/larkspool-16.png"), QSize(16, 16));
  setWindowIcon(icon);
  const DialogUnits& units = DialogUnits::OfDialogFont();
  ApplyTemplate(*this, units, 270, 94);
  // The program's one window keeps Minimise.
  setWindowFlag(Qt::WindowMinimizeButtonHint);

  // Creation order is the tab order.
  backupEdit_ = AddEdit(this, "backupFile", units.Map(5, 20, 240, 12));
  auto* browseFile = AddButton(this, "browseFile", QStringLiteral("..."), units.Map(245, 20, 15, 10));
  folderEdit_ = AddEdit(this, "folder", units.Map(5, 45, 240, 12));
  auto* browseFolder = AddButton(this, "browseFolder", QStringLiteral("..."), units.Map(245, 45, 15, 10));
  auto* extract = AddButton(this, "extract", tr("&Extract"), units.Map(155, 70, 50, 15));
  auto* close = AddButton(this, "close", tr("&Close"), units.Map(210, 70, 50, 15));
  auto* backupLabel = new QLabel(tr("Backup File:"), this);
  backupLabel->setGeometry(units.Map(5, 10, 240, 8));
  auto* folderLabel = new QLabel(tr("Extraction Folder:"), this);
  folderLabel->setGeometry(units.Map(5, 35, 240, 8));
  ShowBrowsePicture(*browseFile, tr("Browse for the backup file"));
  ShowBrowsePicture(*browseFolder, tr("Browse for the extraction folder"));
  extract->setDefault(true);

  connect(backupEdit_, &QLineEdit::textChanged, this, &CMainDlg::OnEditChange);
  connect(folderEdit_, &QLineEdit::textChanged, this, &CMainDlg::OnEditChange);
  connect(browseFile, &QPushButton::clicked, this, &CMainDlg::OnBrowseFile);
  connect(browseFolder, &QPushButton::clicked, this, &CMainDlg::OnBrowseFolder);
  connect(extract, &QPushButton::clicked, this, &CMainDlg::OnExtract);
  connect(close, &QPushButton::clicked, this, &CMainDlg::reject);
  auto* drop = new PathDrop(this, [this](const QString& path) { TakePath(path); });
  drop->Watch(backupEdit_);
  drop->Watch(folderEdit_);
  backupEdit_->setFocus();
}

QString CMainDlg::backupFile() const { return ShownPath(model_.backupFile()); }
QString CMainDlg::folder() const { return ShownPath(model_.folder()); }

void CMainDlg::OnEditChange() {
  model_.OnEditChange(LocalPath(backupEdit_->text()), LocalPath(folderEdit_->text()));
}

void CMainDlg::UpdateFields() {
  // Each change notifies OnEditChange, which reads back what is shown.
  const QString backupFile = this->backupFile();
  const QString folder = this->folder();
  backupEdit_->setText(backupFile);
  folderEdit_->setText(folder);
}

void CMainDlg::OnExtract() { lastResult_ = model_.OnExtract(); }

QString ChooseBackupFile(QWidget* parent) {
  // Each filter shows its label alone; the patterns are the parts in brackets
  // after it. "*.*" would hide every file without a dot.
  return QFileDialog::getOpenFileName(
      parent, QString(), QString(),
      CMainDlg::tr("Voice Mail System Admin Backup Files(*.bkp) (*.bkp);;All Files(*.*) (*)"), nullptr,
      QFileDialog::HideNameFilterDetails);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* contents = menu.addAction(tr("&Contents..."));
  contents->setObjectName(QStringLiteral("contents"));
  if (menu.exec(event->globalPos()) == contents) OnContents();
}

ContentsWindow* CMainDlg::OnContents() {
  const QString file = backupFile().isEmpty() ? ChooseBackupFile(nullptr) : backupFile();
  if (file.isEmpty()) return nullptr;
  // A window of its own beside this one, closed with it.
  auto* window = new ContentsWindow({}, {}, this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  if (!window->Open(file)) {
    delete window;
    return nullptr;
  }
  window->show();
  return window;
}

void CMainDlg::OnBrowseFile() {
  const QString chosen = ChooseBackupFile(nullptr);
  if (chosen.isEmpty()) return;
  model_.OnFileChosen(LocalPath(chosen));
  UpdateFields();
}

void CMainDlg::TakePath(const QString& path) {
  model_.TakePath(LocalPath(path));
  UpdateFields();
}

void CMainDlg::OnBrowseFolder() {
  const QString chosen = QFileDialog::getExistingDirectory(nullptr);
  if (chosen.isEmpty()) return;
  model_.OnFolderChosen(LocalPath(chosen));
  UpdateFields();
}

}  // namespace larkspool::gui
