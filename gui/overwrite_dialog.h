// "File already exists. Overwrite?": Yes (the default), Yes to All or Cancel.
#pragma once

#include <QDialog>
#include <QString>

#include "desktop/front_end.h"

namespace larkspool::gui {

class COverwriteDlg : public QDialog {
  Q_OBJECT

 public:
  explicit COverwriteDlg(const QString& fileName, QWidget* parent = nullptr);

  const QString m_strFileName;

 public slots:
  // Esc and the close box cancel, as the Cancel button does.
  void reject() override { done(desktop::kOverwriteCancel); }
};

}  // namespace larkspool::gui
