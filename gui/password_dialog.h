// "password entry": asks for the mailbox password of a protected backup.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace larkspool::gui {

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPasswordDlg(QWidget* parent = nullptr);

  // The edit's text, kept equal to it on every change.
  QString m_strPassword;
  // The byte length of the password when OK was pressed.
  int m_nPasswordLength = 0;

 public slots:
  void accept() override;

 private:
  QLineEdit* edit_;
};

}  // namespace larkspool::gui
