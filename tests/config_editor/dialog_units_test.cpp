#include "config_editor/dialog_units.h"

#include <gtest/gtest.h>

#include "tests/config_editor/qt_test_support.h"

namespace config_editor {
namespace {

TEST(DialogUnitsTest, MulDivRoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(7, 6, 4), 11);    // 10.5
  EXPECT_EQ(MulDiv(5, 13, 8), 8);    // 8.125
  EXPECT_EQ(MulDiv(611, 7, 4), 1069);  // 1069.25
  EXPECT_EQ(MulDiv(-7, 6, 4), -11);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(DialogUnitsTest, AverageWidthFollowsTheWindowsFormula) {
  // Tahoma 8 at 96 dpi: the alphabet is 286 pixels wide, the average width 6.
  EXPECT_EQ(AverageCharWidthFromAlphabetExtent(286), 6);
  EXPECT_EQ(AverageCharWidthFromAlphabetExtent(353), 7);  // 353 / 26 = 13 -> (13 + 1) / 2
  EXPECT_EQ(AverageCharWidthFromAlphabetExtent(337), 6);  // 12 -> 6
}

TEST(DialogUnitsTest, RectScalesByQuarterWidthAndEighthHeight) {
  DialogBaseUnits units{6, 13};
  EXPECT_EQ(MapDialogRect({7, 7, 299, 147}, units), QRect(11, 11, 449, 239));
  EXPECT_EQ(MapDialogSize(611, 359, units), QSize(917, 583));
}

TEST(DialogUnitsTest, BaseUnitsComeFromTheFont) {
  config_editor_test::EnsureQtApplication();
  QFont font = DialogFont(SettingsDialogTemplate());
  DialogBaseUnits small = BaseUnitsOfFont(font);
  font.setPointSize(16);
  DialogBaseUnits large = BaseUnitsOfFont(font);
  EXPECT_GT(small.average_width, 0);
  EXPECT_GT(large.average_width, small.average_width);
  EXPECT_GT(large.height, small.height);
}

}  // namespace
}  // namespace config_editor
