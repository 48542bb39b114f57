#include "gui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>

namespace larkspool::gui {
namespace {

constexpr const char* kTahomaPath = "/usr/share/wine/fonts/tahoma.ttf";
constexpr int kPointSize = 9;
// Points become pixels at the 96 dots per inch the windows were drawn at.
constexpr int kPixelSize = (kPointSize * 96 + 36) / 72;

int Scale(int value, int numerator, int denominator) {
  // Rounds half away from zero, as the original unit conversion does.
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) / denominator);
}

}  // namespace

void LoadDialogFont() {
  if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    QFontDatabase::addApplicationFont(QString::fromLatin1(kTahomaPath));
  }
}

QFont DialogFont() {
  QFont font = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                   ? QFont(QStringLiteral("Tahoma"))
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(kPixelSize);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded, as the template's designer
  // measured it.
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseWidth_ = (letters / 26 + 1) / 2;
  baseHeight_ = metrics.height();
}

int DialogUnits::ToX(int units) const { return Scale(units, baseWidth_, 4); }
int DialogUnits::ToY(int units) const { return Scale(units, baseHeight_, 8); }

QRect DialogUnits::Map(int x, int y, int width, int height) const {
  return QRect(ToX(x), ToY(y), ToX(width), ToY(height));
}

QSize DialogUnits::MapSize(int width, int height) const { return QSize(ToX(width), ToY(height)); }

void ApplyTemplate(QWidget& dialog, const DialogUnits& units, int width, int height) {
  dialog.setFont(DialogFont());
  dialog.setFixedSize(units.MapSize(width, height));
}

}  // namespace larkspool::gui
