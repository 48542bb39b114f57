#include "gui/dialog_units.h"

#include <QByteArray>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <QWidget>

namespace larkspool::gui {
namespace {

constexpr const char* kTahomaPath = "/usr/share/wine/fonts/tahoma.ttf";
constexpr int kPointSize = 9;
// Points become pixels at the 96 dots per inch the windows were drawn at.
constexpr int kPixelSize = (kPointSize * 96 + 36) / 72;

int Scale(int value, int numerator, int denominator) {
  // Rounds half away from zero: a dialog unit that falls on half a pixel
  // takes the larger pixel, so the layout lands where it was designed.
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) / denominator);
}

// Big-endian fields of a font table; zero when the table is too short.
int Unsigned16(const QByteArray& table, int offset) {
  if (table.size() < offset + 2) return 0;
  return (static_cast<unsigned char>(table[offset]) << 8) | static_cast<unsigned char>(table[offset + 1]);
}
int Signed16(const QByteArray& table, int offset) {
  const int value = Unsigned16(table, offset);
  return value >= 0x8000 ? value - 0x10000 : value;
}

// The font's text height in pixels: its ascent plus its descent, each scaled
// from font units to the pixel size and rounded. The OS/2 table's Windows
// ascent and descent (usWinAscent at 74, usWinDescent at 76) come first, then
// the hhea table's ascender and descender (at 4 and 6), then the toolkit's.
int TextHeight(const QFont& font) {
  const QRawFont raw = QRawFont::fromFont(font);
  const int unitsPerEm = raw.isValid() ? static_cast<int>(raw.unitsPerEm()) : 0;
  const int pixels = qRound(raw.pixelSize());
  if (unitsPerEm > 0 && pixels > 0) {
    const auto scaled = [&](int units) { return Scale(units, pixels, unitsPerEm); };
    const QByteArray os2 = raw.fontTable("OS/2");
    const int winAscent = Unsigned16(os2, 74);
    const int winDescent = Unsigned16(os2, 76);
    if (winAscent + winDescent > 0) return scaled(winAscent) + scaled(winDescent);
    const QByteArray hhea = raw.fontTable("hhea");
    const int ascender = Signed16(hhea, 4);
    const int descender = -Signed16(hhea, 6);
    if (ascender + descender > 0) return scaled(ascender) + scaled(descender);
  }
  const QFontMetrics metrics(font);
  return metrics.ascent() + metrics.descent();
}

// The width of the 52 letters, each at its own advance: a text extent that
// neither kerns nor shapes.
int LettersWidth(const QFont& font) {
  const QFontMetrics metrics(font);
  int width = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    width += metrics.horizontalAdvance(QLatin1Char(letter));
    width += metrics.horizontalAdvance(QLatin1Char(static_cast<char>(letter - 'A' + 'a')));
  }
  return width;
}

QFont ChooseDialogFont() {
  QFont font = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                   ? QFont(QStringLiteral("Tahoma"))
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(kPixelSize);
  return font;
}

}  // namespace

void LoadDialogFont() {
  if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    QFontDatabase::addApplicationFont(QString::fromLatin1(kTahomaPath));
  }
}

QFont DialogFont() {
  static const QFont font = ChooseDialogFont();
  return font;
}

DialogUnits::DialogUnits(const QFont& font)
    : baseWidth_((LettersWidth(font) / 26 + 1) / 2), baseHeight_(TextHeight(font)) {}

const DialogUnits& DialogUnits::OfDialogFont() {
  static const DialogUnits units(DialogFont());
  return units;
}

int DialogUnits::ToX(int units) const { return Scale(units, baseWidth_, 4); }
int DialogUnits::ToY(int units) const { return Scale(units, baseHeight_, 8); }

QRect DialogUnits::Map(int x, int y, int width, int height) const {
  return QRect(ToX(x), ToY(y), ToX(width), ToY(height));
}

QSize DialogUnits::MapSize(int width, int height) const { return QSize(ToX(width), ToY(height)); }

Qt::WindowFlags FixedDialogFlags() {
  return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
         Qt::WindowCloseButtonHint;
}

void ApplyTemplate(QWidget& dialog, const DialogUnits& units, int width, int height) {
  dialog.setWindowFlags(FixedDialogFlags());
  dialog.setFont(DialogFont());
  dialog.setFixedSize(units.MapSize(width, height));
}

}  // namespace larkspool::gui
