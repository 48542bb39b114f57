// "password entry": asks for the mailbox password of a protected backup.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "desktop/front_end.h"

class QLineEdit;
class QPushButton;

namespace larkspool::gui {

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPasswordDlg(QWidget* parent = nullptr);

  // The text typed, in UTF-8, as the gate checks it once OK was pressed.
  std::string Password() const { return entry_.Password(); }

 public slots:
  void accept() override;

 private:
  QLineEdit* edit_;
  desktop::PasswordEntry entry_;
};

}  // namespace larkspool::gui
