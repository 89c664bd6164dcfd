#pragma once
// The settings dialog and the about box as data: every control with its identifier, kind, caption
// and rectangle in dialog units, in template order (which is also the tab order).

#include <span>
#include <string_view>

namespace config_editor {

// The identifier of controls that no code addresses (labels and group boxes without an ID).
inline constexpr int kStaticId = -1;

enum class ControlKind {
  kGroupBox,       // frame without caption
  kLabel,          // static text
  kIcon,           // static icon
  kEdit,           // single-line edit, border, auto-scroll, tab stop
  kPasswordEdit,   // the same with masked characters
  kCheckBox,       // automatic check box, tab stop
  kRadioButton,    // automatic radio button, no tab stop
  kPushButton,     // tab stop
  kDefaultButton,  // push button that answers Enter
};

struct DialogRect {
  int x, y, width, height;
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view caption;
  DialogRect rect;
};

struct DialogTemplate {
  std::string_view title;
  int width, height;  // client area in dialog units
  std::string_view font_family;
  int font_points;
  std::span<const ControlTemplate> controls;
};

// Template 102, "DB Relay Setup": 63 controls.
const DialogTemplate& SettingsDialogTemplate();
// Template 100, "About DB Relay Setup".
const DialogTemplate& AboutDialogTemplate();

// Control identifiers the program addresses.
namespace id {
inline constexpr int kSave = 1, kClose = 2;
inline constexpr int kPriSqlServer = 1044, kPriOther = 1045;
inline constexpr int kPriUserLabel = 1046, kPriUser = 1003, kPriPasswordLabel = 1047,
                     kPriPassword = 1004, kPriDatabaseLabel = 1017, kPriDatabase = 1007,
                     kPriServerLabel = 1015, kPriServer = 1005, kPriOtherConnStr = 1006,
                     kPriTest = 1020;
inline constexpr int kUseSecConn = 1031, kSecSqlServer = 1048, kSecOther = 1051,
                     kSecLocalText = 1059;
inline constexpr int kSecUserLabel = 1049, kSecUser = 1008, kSecPasswordLabel = 1050,
                     kSecPassword = 1009, kSecDatabaseLabel = 1018, kSecDatabase = 1010,
                     kSecServerLabel = 1016, kSecServer = 1012, kSecOtherConnStr = 1013,
                     kSecLocalTextFile = 1032, kSecTimestamp = 1036, kSecTest = 1022;
inline constexpr int kMsgBoxOnError = 1011, kDetailedLog = 1028, kRaiseError = 1034,
                     kAffectedLines = 1035;
inline constexpr int kEmailOnError = 1014, kSmtpLabel = 1052, kSmtp = 1019, kPortLabel = 1054,
                     kPort = 1024, kEmailUserLabel = 1056, kEmailUser = 1026,
                     kEmailPasswordLabel = 1057, kEmailPassword = 1027, kFromLabel = 1055,
                     kFrom = 1025, kToLabel = 1053, kTo = 1023, kSubjectLabel = 1058,
                     kSubject = 1029, kEmailWhenBothFail = 1033, kEmailTest = 1030;
inline constexpr int kDigitallySign = 1037, kSignerPathLabel = 1060, kSignerPath = 1043,
                     kCopyFile = 1038, kCopyFilePath = 1061;
inline constexpr int kAbout = 1021;
// About box.
inline constexpr int kAboutOk = 1, kAboutVersion = 1036;
}  // namespace id

}  // namespace config_editor
