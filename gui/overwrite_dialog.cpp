#include "gui/overwrite_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "gui/dialog_units.h"

namespace larkspool::gui {

COverwriteDlg::COverwriteDlg(const QString& fileName, QWidget* parent)
    : QDialog(parent), m_strFileName(fileName) {
  setWindowTitle(QString::fromLatin1(desktop::kCaption));
  const DialogUnits& units = DialogUnits::OfDialogFont();
  ApplyTemplate(*this, units, 170, 59);

  struct Button {
    const char* name;
    QString text;
    int x;
    int answer;  // the value the dialog ends with
  };
  // Creation order is the tab order: Yes, Yes to All, Cancel.
  for (const Button& b : {Button{"yes", tr("&Yes"), 10, desktop::kOverwriteYes},
                          Button{"yesToAll", tr("Yes to &All"), 60, desktop::kOverwriteYesToAll},
                          Button{"cancel", tr("&Cancel"), 110, desktop::kOverwriteCancel}}) {
    auto* button = new QPushButton(b.text, this);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setGeometry(units.Map(b.x, 35, 45, 15));
    button->setDefault(b.answer == desktop::kOverwriteYes);
    if (b.answer == desktop::kOverwriteYes) button->setFocus();
    connect(button, &QPushButton::clicked, this, [this, answer = b.answer] { done(answer); });
  }
  auto* name = new QLabel(m_strFileName, this);
  name->setObjectName(QStringLiteral("fileName"));
  name->setTextFormat(Qt::PlainText);
  name->setGeometry(units.Map(10, 10, 160, 8));
  // A stored name can be wider than the line: its middle gives way, and the
  // whole name is in the tool tip.
  const QString shown = name->fontMetrics().elidedText(m_strFileName, Qt::ElideMiddle, name->width());
  if (shown != m_strFileName) {
    name->setText(shown);
    name->setToolTip(m_strFileName);
  }
  auto* question = new QLabel(tr("File already exists. Overwrite?"), this);
  question->setGeometry(units.Map(10, 20, 160, 8));
}

}  // namespace larkspool::gui
