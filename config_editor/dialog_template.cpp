#include "config_editor/dialog_template.h"

#include <array>

namespace config_editor {
namespace {

using K = ControlKind;

constexpr std::array<ControlTemplate, 63> kSettingsControls = {{
    {kStaticId, K::kGroupBox, "", {7, 7, 299, 147}},
    {kStaticId, K::kLabel, "Primary Connection:", {19, 18, 88, 8}},
    {id::kPriSqlServer, K::kRadioButton, "SQL Server:", {19, 32, 55, 10}},
    {id::kPriOther, K::kRadioButton, "Other Connection String:", {19, 94, 96, 10}},
    {id::kPriUserLabel, K::kLabel, "User Name:", {35, 47, 48, 8}},
    {id::kPriUser, K::kEdit, "", {89, 45, 71, 12}},
    {id::kPriPasswordLabel, K::kLabel, "Password:", {181, 47, 37, 8}},
    {id::kPriPassword, K::kPasswordEdit, "", {226, 45, 71, 12}},
    {id::kPriDatabaseLabel, K::kLabel, "Database Name:", {35, 64, 88, 8}},
    {id::kPriDatabase, K::kEdit, "", {129, 62, 168, 12}},
    {id::kPriServerLabel, K::kLabel, "Server and Instance:", {35, 80, 88, 8}},
    {id::kPriServer, K::kEdit, "", {129, 78, 168, 12}},
    {id::kPriOtherConnStr, K::kEdit, "", {35, 110, 262, 12}},
    {id::kPriTest, K::kPushButton, "Test", {247, 127, 50, 18}},
    {kStaticId, K::kGroupBox, "", {7, 149, 299, 181}},
    {id::kUseSecConn, K::kCheckBox, "Secondary Connection:", {19, 162, 91, 10}},
    {id::kSecSqlServer, K::kRadioButton, "SQL Server:", {35, 176, 55, 10}},
    {id::kSecOther, K::kRadioButton, "Other Connection String:", {35, 238, 96, 10}},
    {id::kSecLocalText, K::kRadioButton, "Local Text File with SQL commands:", {35, 272, 129, 10}},
    {id::kSecUserLabel, K::kLabel, "User Name:", {50, 191, 48, 8}},
    {id::kSecUser, K::kEdit, "", {101, 189, 71, 12}},
    {id::kSecPasswordLabel, K::kLabel, "Password:", {181, 191, 37, 8}},
    {id::kSecPassword, K::kPasswordEdit, "", {226, 189, 71, 12}},
    {id::kSecDatabaseLabel, K::kLabel, "Database Name:", {50, 207, 74, 8}},
    {id::kSecDatabase, K::kEdit, "", {129, 206, 168, 12}},
    {id::kSecServerLabel, K::kLabel, "Server and Instance:", {50, 223, 74, 8}},
    {id::kSecServer, K::kEdit, "", {129, 222, 168, 12}},
    {id::kSecOtherConnStr, K::kEdit, "", {51, 254, 246, 12}},
    {id::kSecLocalTextFile, K::kEdit, "", {51, 288, 246, 12}},
    {id::kSecTimestamp, K::kCheckBox, "Use Timestamp as file name", {51, 305, 104, 10}},
    {id::kSecTest, K::kPushButton, "Test", {247, 305, 50, 18}},
    {kStaticId, K::kGroupBox, "", {305, 7, 299, 202}},
    {id::kMsgBoxOnError, K::kCheckBox, "Show MessageBox on Errors (don't use unless debugging)",
     {317, 19, 201, 10}},
    {id::kDetailedLog, K::kCheckBox, "Show detailed log", {317, 35, 72, 10}},
    // "less then" is the dialog's own caption, kept as users and their documentation know it.
    {id::kRaiseError, K::kCheckBox, "Raise an error in case less then:", {317, 51, 119, 10}},
    {id::kAffectedLines, K::kEdit, "", {437, 50, 21, 12}},
    {kStaticId, K::kLabel, "lines are affected", {466, 52, 76, 8}},
    {id::kEmailOnError, K::kCheckBox, "Send Email on error:", {317, 67, 81, 10}},
    {id::kSmtpLabel, K::kLabel, "SMTP Server:", {332, 82, 48, 8}},
    {id::kSmtp, K::kEdit, "", {386, 80, 71, 12}},
    {id::kPortLabel, K::kLabel, "Port:", {477, 82, 37, 8}},
    {id::kPort, K::kEdit, "", {522, 80, 71, 12}},
    {id::kEmailUserLabel, K::kLabel, "User Name:", {332, 99, 48, 8}},
    {id::kEmailUser, K::kEdit, "", {386, 97, 71, 12}},
    {id::kEmailPasswordLabel, K::kLabel, "Password:", {477, 99, 37, 8}},
    {id::kEmailPassword, K::kPasswordEdit, "", {522, 97, 71, 12}},
    {id::kFromLabel, K::kLabel, "From Email:", {332, 116, 48, 8}},
    {id::kFrom, K::kEdit, "", {386, 114, 208, 12}},
    {id::kToLabel, K::kLabel, "To Email:", {332, 132, 48, 8}},
    {id::kTo, K::kEdit, "", {386, 130, 208, 12}},
    {id::kSubjectLabel, K::kLabel, "Email Subject:", {332, 148, 48, 8}},
    {id::kSubject, K::kEdit, "", {386, 146, 208, 12}},
    {id::kEmailWhenBothFail, K::kCheckBox,
     "Send Email only when both Primary and Secondary connections fail.", {332, 164, 231, 10}},
    {id::kEmailTest, K::kPushButton, "Test", {544, 181, 50, 18}},
    {kStaticId, K::kGroupBox, "", {305, 203, 299, 127}},
    {id::kDigitallySign, K::kCheckBox, "Digitally Sign File", {317, 215, 69, 10}},
    {id::kSignerPathLabel, K::kLabel, "PDF Signer Path:", {332, 229, 94, 8}},
    {id::kSignerPath, K::kEdit, "", {332, 241, 262, 12}},
    {id::kCopyFile, K::kCheckBox, "Duplicate File to another Folder", {317, 272, 116, 10}},
    {id::kCopyFilePath, K::kEdit, "", {332, 288, 262, 12}},
    {id::kAbout, K::kPushButton, "About...", {436, 334, 50, 18}},
    {id::kSave, K::kDefaultButton, "Save", {495, 334, 50, 18}},
    {id::kClose, K::kPushButton, "Close", {554, 334, 50, 18}},
}};

constexpr std::array<ControlTemplate, 5> kAboutControls = {{
    {kStaticId, K::kIcon, "", {11, 17, 20, 20}},
    {kStaticId, K::kLabel, "DB Relay Setup", {40, 10, 119, 8}},
    {kStaticId, K::kLabel, "Copyright (C) The DbRelay developers", {40, 25, 188, 8}},
    {id::kAboutOk, K::kDefaultButton, "OK", {178, 7, 50, 16}},
    {id::kAboutVersion, K::kLabel, "Version 2.20", {40, 40, 188, 8}},
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
