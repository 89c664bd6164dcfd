#include "config_editor/dialog_template.h"

#include <array>

namespace config_editor {
namespace {

using K = ControlKind;

constexpr std::array<ControlTemplate, 63> kSettingsControls = {{
    {kStaticId, K::kGroupBox, "", {7, 7, 299, 147}},
    {kStaticId, K::kLabel, "Primary Connection:", {19, 18, 88, 8}},
    {1044, K::kRadioButton, "SQL Server:", {19, 32, 55, 10}},
    {1045, K::kRadioButton, "Other Connection String:", {19, 94, 96, 10}},
    {1046, K::kLabel, "User Name:", {35, 47, 48, 8}},
    {1003, K::kEdit, "", {89, 45, 71, 12}},
    {1047, K::kLabel, "Password:", {181, 47, 37, 8}},
    {1004, K::kPasswordEdit, "", {226, 45, 71, 12}},
    {1017, K::kLabel, "Database Name:", {35, 64, 88, 8}},
    {1007, K::kEdit, "", {129, 62, 168, 12}},
    {1015, K::kLabel, "Server and Instance:", {35, 80, 88, 8}},
    {1005, K::kEdit, "", {129, 78, 168, 12}},
    {1006, K::kEdit, "", {35, 110, 262, 12}},
    {1020, K::kPushButton, "Test", {247, 127, 50, 18}},
    {kStaticId, K::kGroupBox, "", {7, 149, 299, 181}},
    {1031, K::kCheckBox, "Secondary Connection:", {19, 162, 91, 10}},
    {1048, K::kRadioButton, "SQL Server:", {35, 176, 55, 10}},
    {1051, K::kRadioButton, "Other Connection String:", {35, 238, 96, 10}},
    {1059, K::kRadioButton, "Local Text File with SQL commands:", {35, 272, 129, 10}},
    {1049, K::kLabel, "User Name:", {50, 191, 48, 8}},
    {1008, K::kEdit, "", {101, 189, 71, 12}},
    {1050, K::kLabel, "Password:", {181, 191, 37, 8}},
    {1009, K::kPasswordEdit, "", {226, 189, 71, 12}},
    {1018, K::kLabel, "Database Name:", {50, 207, 74, 8}},
    {1010, K::kEdit, "", {129, 206, 168, 12}},
    {1016, K::kLabel, "Server and Instance:", {50, 223, 74, 8}},
    {1012, K::kEdit, "", {129, 222, 168, 12}},
    {1013, K::kEdit, "", {51, 254, 246, 12}},
    {1032, K::kEdit, "", {51, 288, 246, 12}},
    {1036, K::kCheckBox, "Use Timestamp as file name", {51, 305, 104, 10}},
    {1022, K::kPushButton, "Test", {247, 305, 50, 18}},
    {kStaticId, K::kGroupBox, "", {305, 7, 299, 202}},
    {1011, K::kCheckBox, "Show MessageBox on Errors (don't use unless debugging)", {317, 19, 201, 10}},
    {1028, K::kCheckBox, "Show detailed log", {317, 35, 72, 10}},
    {1034, K::kCheckBox, "Raise an error in case less then:", {317, 51, 119, 10}},
    {1035, K::kEdit, "", {437, 50, 21, 12}},
    {kStaticId, K::kLabel, "lines are affected", {466, 52, 76, 8}},
    {1014, K::kCheckBox, "Send Email on error:", {317, 67, 81, 10}},
    {1052, K::kLabel, "SMTP Server:", {332, 82, 48, 8}},
    {1019, K::kEdit, "", {386, 80, 71, 12}},
    {1054, K::kLabel, "Port:", {477, 82, 37, 8}},
    {1024, K::kEdit, "", {522, 80, 71, 12}},
    {1056, K::kLabel, "User Name:", {332, 99, 48, 8}},
    {1026, K::kEdit, "", {386, 97, 71, 12}},
    {1057, K::kLabel, "Password:", {477, 99, 37, 8}},
    {1027, K::kPasswordEdit, "", {522, 97, 71, 12}},
    {1055, K::kLabel, "From Email:", {332, 116, 48, 8}},
    {1025, K::kEdit, "", {386, 114, 208, 12}},
    {1053, K::kLabel, "To Email:", {332, 132, 48, 8}},
    {1023, K::kEdit, "", {386, 130, 208, 12}},
    {1058, K::kLabel, "Email Subject:", {332, 148, 48, 8}},
    {1029, K::kEdit, "", {386, 146, 208, 12}},
    {1033, K::kCheckBox, "Send Email only when both Primary and Secondary connections fail.",
     {332, 164, 231, 10}},
    {1030, K::kPushButton, "Test", {544, 181, 50, 18}},
    {kStaticId, K::kGroupBox, "", {305, 203, 299, 127}},
    {1037, K::kCheckBox, "Digitally Sign File", {317, 215, 69, 10}},
    {1060, K::kLabel, "PDF Signer Path:", {332, 229, 94, 8}},
    {1043, K::kEdit, "", {332, 241, 262, 12}},
    {1038, K::kCheckBox, "Duplicate File to another Folder", {317, 272, 116, 10}},
    {1061, K::kEdit, "", {332, 288, 262, 12}},
    {1021, K::kPushButton, "About...", {436, 334, 50, 18}},
    {1, K::kDefaultButton, "Save", {495, 334, 50, 18}},
    {2, K::kPushButton, "Close", {554, 334, 50, 18}},
}};

constexpr std::array<ControlTemplate, 5> kAboutControls = {{
    {kStaticId, K::kIcon, "", {11, 17, 20, 20}},
    {kStaticId, K::kLabel, "DB Relay Setup", {40, 10, 119, 8}},
    {kStaticId, K::kLabel, "Copyright (C) The DbRelay developers", {40, 25, 188, 8}},
    {1, K::kDefaultButton, "OK", {178, 7, 50, 16}},
    {1036, K::kLabel, "Version 2.20", {40, 40, 188, 8}},
}};

}  // namespace

const DialogTemplate& SettingsDialogTemplate() {
  static const DialogTemplate kTemplate{"DB Relay Setup", 611, 359, "MS Shell Dlg", 8,
                                        kSettingsControls};
  return kTemplate;
}

const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate kTemplate{"About DB Relay Setup", 235, 68, "MS Shell Dlg", 8,
                                        kAboutControls};
  return kTemplate;
}

}  // namespace config_editor
