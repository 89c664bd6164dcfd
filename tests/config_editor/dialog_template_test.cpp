// The settings dialog's template against its layout as the program's resource script gives it:
// identifier and rectangle (dialog units) of every control in tab order, written out once more so
// that a wrong number in the template table fails here.

#include <gtest/gtest.h>

#include <array>

#include "config_editor/dialog_template.h"

namespace config_editor {
namespace {

struct ResourceControl {
  int id;  // -1 for a control no code addresses
  DialogRect rect;
};

constexpr std::array<ResourceControl, 63> kResourceLayout = {{
    {-1, {7, 7, 299, 147}},
    {-1, {19, 18, 88, 8}},
    {1044, {19, 32, 55, 10}},
    {1045, {19, 94, 96, 10}},
    {1046, {35, 47, 48, 8}},
    {1003, {89, 45, 71, 12}},
    {1047, {181, 47, 37, 8}},
    {1004, {226, 45, 71, 12}},
    {1017, {35, 64, 88, 8}},
    {1007, {129, 62, 168, 12}},
    {1015, {35, 80, 88, 8}},
    {1005, {129, 78, 168, 12}},
    {1006, {35, 110, 262, 12}},
    {1020, {247, 127, 50, 18}},
    {-1, {7, 149, 299, 181}},
    {1031, {19, 162, 91, 10}},
    {1048, {35, 176, 55, 10}},
    {1051, {35, 238, 96, 10}},
    {1059, {35, 272, 129, 10}},
    {1049, {50, 191, 48, 8}},
    {1008, {101, 189, 71, 12}},
    {1050, {181, 191, 37, 8}},
    {1009, {226, 189, 71, 12}},
    {1018, {50, 207, 74, 8}},
    {1010, {129, 206, 168, 12}},
    {1016, {50, 223, 74, 8}},
    {1012, {129, 222, 168, 12}},
    {1013, {51, 254, 246, 12}},
    {1032, {51, 288, 246, 12}},
    {1036, {51, 305, 104, 10}},
    {1022, {247, 305, 50, 18}},
    {-1, {305, 7, 299, 202}},
    {1011, {317, 19, 201, 10}},
    {1028, {317, 35, 72, 10}},
    {1034, {317, 51, 119, 10}},
    {1035, {437, 50, 21, 12}},
    {-1, {466, 52, 76, 8}},
    {1014, {317, 67, 81, 10}},
    {1052, {332, 82, 48, 8}},
    {1019, {386, 80, 71, 12}},
    {1054, {477, 82, 37, 8}},
    {1024, {522, 80, 71, 12}},
    {1056, {332, 99, 48, 8}},
    {1026, {386, 97, 71, 12}},
    {1057, {477, 99, 37, 8}},
    {1027, {522, 97, 71, 12}},
    {1055, {332, 116, 48, 8}},
    {1025, {386, 114, 208, 12}},
    {1053, {332, 132, 48, 8}},
    {1023, {386, 130, 208, 12}},
    {1058, {332, 148, 48, 8}},
    {1029, {386, 146, 208, 12}},
    {1033, {332, 164, 231, 10}},
    {1030, {544, 181, 50, 18}},
    {-1, {305, 203, 299, 127}},
    {1037, {317, 215, 69, 10}},
    {1060, {332, 229, 94, 8}},
    {1043, {332, 241, 262, 12}},
    {1038, {317, 272, 116, 10}},
    {1061, {332, 288, 262, 12}},
    {1021, {436, 334, 50, 18}},
    {1, {495, 334, 50, 18}},
    {2, {554, 334, 50, 18}},
}};

TEST(DialogTemplateTest, EveryControlHasItsResourceIdAndRectangleInTabOrder) {
  const DialogTemplate& dialog = SettingsDialogTemplate();
  ASSERT_EQ(dialog.controls.size(), kResourceLayout.size());
  for (size_t i = 0; i < kResourceLayout.size(); ++i) {
    const ControlTemplate& control = dialog.controls[i];
    const ResourceControl& expected = kResourceLayout[i];
    EXPECT_EQ(control.id, expected.id) << "control " << i << " (" << control.caption << ")";
    const DialogRect& r = control.rect;
    const DialogRect& e = expected.rect;
    EXPECT_TRUE(r.x == e.x && r.y == e.y && r.width == e.width && r.height == e.height)
        << "control " << i << " (" << control.caption << "): " << r.x << ", " << r.y << ", "
        << r.width << ", " << r.height << " instead of " << e.x << ", " << e.y << ", " << e.width
        << ", " << e.height;
  }
}

}  // namespace
}  // namespace config_editor
