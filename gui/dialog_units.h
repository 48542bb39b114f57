// Dialog templates are laid out in dialog units, which scale with the dialog
// font: a horizontal unit is a quarter of the font's average character width,
// a vertical unit an eighth of its text height. Mapping them through the font
// keeps every window in its designed proportions.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace larkspool::gui {

// The font every window is designed for: Tahoma at 9 points, or the system's
// sans serif font when Tahoma is not installed.
QFont DialogFont();
// Registers Tahoma from the fonts shipped for Windows programs, when present.
// Call it before the first window is made: the dialog font is chosen once.
void LoadDialogFont();

class DialogUnits {
 public:
  // The base units of `font`. Horizontal: the average width of the 52 Latin
  // letters, rounded. Vertical: the full text height the font's designer set
  // for it (its Windows ascent and descent, each scaled to the pixel size and
  // rounded), not the toolkit's line height.
  explicit DialogUnits(const QFont& font);
  // The units of the dialog font, computed once.
  static const DialogUnits& OfDialogFont();

  int ToX(int units) const;
  int ToY(int units) const;
  QRect Map(int x, int y, int width, int height) const;
  QSize MapSize(int width, int height) const;

  int baseWidth() const { return baseWidth_; }
  int baseHeight() const { return baseHeight_; }

 private:
  int baseWidth_;
  int baseHeight_;
};

// Fixes a dialog's client area to a template size and gives it the font and
// the frame of a fixed dialog: a caption with the close box only.
void ApplyTemplate(QWidget& dialog, const DialogUnits& units, int width, int height);
// The window flags of a fixed-size dialog: caption, system menu, close box.
Qt::WindowFlags FixedDialogFlags();

}  // namespace larkspool::gui
