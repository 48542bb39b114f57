#include "gui/password_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/dialog_units.h"

namespace larkspool::gui {

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("password entry"));
  const DialogUnits& units = DialogUnits::OfDialogFont();
  ApplyTemplate(*this, units, 139, 63);

  auto* prompt = new QLabel(tr("Enter mailbox password:"), this);
  prompt->setGeometry(units.Map(5, 10, 125, 8));
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("password"));
  edit_->setGeometry(units.Map(5, 20, 125, 12));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(16);
  auto* ok = new QPushButton(tr("&OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setGeometry(units.Map(25, 40, 50, 15));
  ok->setDefault(true);
  auto* cancel = new QPushButton(tr("&Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  cancel->setGeometry(units.Map(80, 40, 50, 15));

  connect(edit_, &QLineEdit::textChanged, this,
          [this](const QString& text) { entry_.OnEditChange(text.toUtf8().toStdString()); });
  connect(ok, &QPushButton::clicked, this, &CPasswordDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CPasswordDlg::reject);
  edit_->setFocus();
}

void CPasswordDlg::accept() {
  entry_.OnOK(edit_->text().toUtf8().toStdString());
  QDialog::accept();
}

}  // namespace larkspool::gui
