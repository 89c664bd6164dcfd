#include "config_editor/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <cstdint>

namespace config_editor {

int MulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(value) * numerator;
  int64_t half = (denominator > 0 ? denominator : -denominator) / 2;
  bool negative = (product < 0) != (denominator < 0);
  int64_t magnitude = (product < 0 ? -product : product) + half;
  int64_t quotient = magnitude / (denominator < 0 ? -static_cast<int64_t>(denominator) : denominator);
  return static_cast<int>(negative ? -quotient : quotient);
}

int AverageCharWidthFromAlphabetExtent(int extent_of_alphabet) {
  return (extent_of_alphabet / 26 + 1) / 2;
}

DialogBaseUnits BaseUnitsOfFont(const QFont& font) {
  QFontMetrics metrics(font);
  int extent = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {AverageCharWidthFromAlphabetExtent(extent), metrics.height()};
}

QRect MapDialogRect(const DialogRect& rect, const DialogBaseUnits& units) {
  return QRect(MulDiv(rect.x, units.average_width, 4), MulDiv(rect.y, units.height, 8),
               MulDiv(rect.width, units.average_width, 4), MulDiv(rect.height, units.height, 8));
}

QSize MapDialogSize(int width, int height, const DialogBaseUnits& units) {
  return QSize(MulDiv(width, units.average_width, 4), MulDiv(height, units.height, 8));
}

QFont DialogFont(const DialogTemplate& dialog_template) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(dialog_template.font_points);
  return font;
}

}  // namespace config_editor
