#pragma once
// Every key of the settings file, once: its name, how it is stored, the default each program reads
// when the key (or the file) is missing, and how the editor shows and stores it. DbRelay's reads,
// the editor's load and save and the check of the manual page all come from here, so a key is named
// in this file only. Defaults are kept as text, one for each program: DbRelay reads EmailPort and
// RaiseErrorIfAffectedLinesLessThen as numbers (25, 0) where the editor shows them as text ("25",
// "0"); PdfSignerPath has a default only in DbRelay, and only the editor reads UseSecConn.

#include <cstdint>
#include <string_view>

namespace settings {

// The one section both programs read and write.
inline constexpr char kSettingsSection[] = "General";

enum class SettingType {
  kInteger,    // decimal text, read by the leading-number rule
  kString,     // stored as it stands
  kScrambled,  // the scrambled form of setting_codec.h
};

// How the editor shows a key and turns the controls back into the stored value.
enum class EditorForm {
  kRadioGroup,        // one radio button per choice 1, 2, 3; stored as the selected choice
  kConnectionFields,  // server, database, user and password fields composed into one string
  kCheckBox,          // 1 ticked, 0 cleared
  kText,              // a text field, stored as typed
  kSecretText,        // a text field whose value is stored scrambled
  kCheckedNumber,     // a check box (read as the integer) and a number field (read as the text);
                      // the field is stored while the box is ticked, "0" otherwise
};

struct SettingKey {
  std::string_view name;
  SettingType type;
  bool read_by_relay;
  std::string_view relay_default;   // as text; integers are read from it by the leading-number rule
  std::string_view editor_default;  // as text, what the editor's load shows for a missing key
  EditorForm editor_form;

  // relay_default as the number an integer read falls back on.
  constexpr int32_t relay_number() const { return ToNumber(relay_default); }
  constexpr int32_t editor_number() const { return ToNumber(editor_default); }

 private:
  static constexpr int32_t ToNumber(std::string_view digits) {
    int32_t value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
  }
};

// In the order the editor saves them.
// clang-format off
inline constexpr SettingKey kPriDBType{
    "PriDBType", SettingType::kInteger, true, "1", "1", EditorForm::kRadioGroup};
inline constexpr SettingKey kPriConnectionString{
    "PriConnectionString", SettingType::kScrambled, true, "", "", EditorForm::kConnectionFields};
inline constexpr SettingKey kSecDBType{
    "SecDBType", SettingType::kInteger, true, "1", "1", EditorForm::kRadioGroup};
inline constexpr SettingKey kSecConnectionString{
    "SecConnectionString", SettingType::kScrambled, true, "", "", EditorForm::kConnectionFields};
// Only the editor reads it: the tick enables the secondary connection's controls.
inline constexpr SettingKey kUseSecConn{
    "UseSecConn", SettingType::kInteger, false, "", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kPriOtherConnStr{
    "PriOtherConnStr", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kSecOtherConnStr{
    "SecOtherConnStr", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kSecLocalTextFile{
    "SecLocalTextFile", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kSecLocalTextFileTimestamp{
    "SecLocalTextFileTimestamp", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kMsgBoxOnError{
    "MsgBoxOnError", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kDetailedLog{
    "DetailedLog", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
// "Less then" is the system's own spelling; stored files and callers match it.
inline constexpr SettingKey kRaiseErrorIfAffectedLinesLessThen{
    "RaiseErrorIfAffectedLinesLessThen", SettingType::kInteger, true, "0", "0",
    EditorForm::kCheckedNumber};
inline constexpr SettingKey kEmailOnError{
    "EmailOnError", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kEmailSMTP{
    "EmailSMTP", SettingType::kString, true, "", "", EditorForm::kText};
// Typed in the editor as text; DbRelay takes it as the port of a server named without one.
inline constexpr SettingKey kEmailPort{
    "EmailPort", SettingType::kString, true, "25", "25", EditorForm::kText};
inline constexpr SettingKey kEmailUserName{
    "EmailUserName", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kEmailPassword{
    "EmailPassword", SettingType::kScrambled, true, "", "", EditorForm::kSecretText};
inline constexpr SettingKey kEmailFrom{
    "EmailFrom", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kEmailTo{
    "EmailTo", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kEmailSubject{
    "EmailSubject", SettingType::kString, true, "", "", EditorForm::kText};
inline constexpr SettingKey kEmailWhenBothDBFail{
    "EmailWhenBothDBFail", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kDigitallySign{
    "DigitallySign", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
// A file the editor saved with an empty field reads as empty, not as DocSealer.exe.
inline constexpr SettingKey kPdfSignerPath{
    "PdfSignerPath", SettingType::kString, true, "DocSealer.exe", "", EditorForm::kText};
inline constexpr SettingKey kCopyFile{
    "CopyFile", SettingType::kInteger, true, "0", "0", EditorForm::kCheckBox};
inline constexpr SettingKey kCopyFilePath{
    "CopyFilePath", SettingType::kString, true, "", "", EditorForm::kText};
// clang-format on

// Every key, in the order the editor saves them.
inline constexpr const SettingKey* kSettingKeys[] = {
    &kPriDBType, &kPriConnectionString, &kSecDBType, &kSecConnectionString, &kUseSecConn,
    &kPriOtherConnStr, &kSecOtherConnStr, &kSecLocalTextFile, &kSecLocalTextFileTimestamp,
    &kMsgBoxOnError, &kDetailedLog, &kRaiseErrorIfAffectedLinesLessThen, &kEmailOnError,
    &kEmailSMTP, &kEmailPort, &kEmailUserName, &kEmailPassword, &kEmailFrom, &kEmailTo,
    &kEmailSubject, &kEmailWhenBothDBFail, &kDigitallySign, &kPdfSignerPath, &kCopyFile,
    &kCopyFilePath,
};

}  // namespace settings
