#pragma once
// Conversion of dialog units to pixels the way Windows lays out a dialog template: the base units
// are the dialog font's average character width and its height; x and widths scale by
// average width / 4, y and heights by height / 8, each rounded like MulDiv.

#include <QFont>
#include <QRect>
#include <QSize>
#include <string_view>

#include "config_editor/dialog_template.h"

namespace config_editor {

struct DialogBaseUnits {
  int average_width;  // pixels
  int height;         // pixels
};

// MulDiv: value * numerator / denominator, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator);

// The average width as Windows computes it: the extent of "A".."Z" "a".."z" in pixels, w, gives
// (w / 26 + 1) / 2 in integer arithmetic. extent_of_alphabet is that extent.
int AverageCharWidthFromAlphabetExtent(int extent_of_alphabet);

// The base units of font (its alphabet extent and its height, ascent + descent).
DialogBaseUnits BaseUnitsOfFont(const QFont& font);

QRect MapDialogRect(const DialogRect& rect, const DialogBaseUnits& units);
QSize MapDialogSize(int width, int height, const DialogBaseUnits& units);

// The dialog font of a template on this desktop: the desktop's general font at the template's point
// size (the template's "MS Shell Dlg" is Windows' alias for its own desktop font).
QFont DialogFont(const DialogTemplate& dialog_template);

}  // namespace config_editor
