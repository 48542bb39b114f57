// "File already exists. Overwrite?": Yes (the default), Yes to All or Cancel.
#pragma once

#include <QDialog>
#include <QString>

namespace larkspool::gui {

class COverwriteDlg : public QDialog {
  Q_OBJECT

 public:
  // The values the dialog ends with.
  enum Answer { kYes = 1, kCancel = 2, kYesToAll = 3 };

  explicit COverwriteDlg(const QString& fileName, QWidget* parent = nullptr);

  const QString m_strFileName;

 public slots:
  // Esc and the close box cancel, as the Cancel button does.
  void reject() override { done(kCancel); }
};

}  // namespace larkspool::gui
