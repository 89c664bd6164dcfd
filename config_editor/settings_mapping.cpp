#include "config_editor/settings_mapping.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "config_editor/connection_string.h"
#include "config_editor/dialog_template.h"
#include "settings/setting_codec.h"

namespace config_editor {
namespace {

struct ConnectionFields {
  std::string_view key;
  int server, database, user, password;
};

constexpr ConnectionFields kPrimaryFields{"PriConnectionString", id::kPriServer, id::kPriDatabase,
                                          id::kPriUser, id::kPriPassword};
constexpr ConnectionFields kSecondaryFields{"SecConnectionString", id::kSecServer,
                                            id::kSecDatabase, id::kSecUser, id::kSecPassword};

void LoadFields(const settings::IniFile& ini, const ConnectionFields& f, DialogItems& items) {
  std::string decoded = settings::DecodeSettingValue(ini.ReadString(kSection, f.key, ""));
  items.SetItemText(f.server, GetConnectionValue(decoded, "server="));
  items.SetItemText(f.database, GetConnectionValue(decoded, "database="));
  items.SetItemText(f.user, GetConnectionValue(decoded, "uid="));
  items.SetItemText(f.password, GetConnectionValue(decoded, "pwd="));
}

std::string ComposeFields(const ConnectionFields& f, const DialogItems& items) {
  return ComposeConnectionString(items.GetItemText(f.server), items.GetItemText(f.database),
                                 items.GetItemText(f.user), items.GetItemText(f.password));
}

void LoadCheck(const settings::IniFile& ini, std::string_view key, int control,
               DialogItems& items) {
  items.CheckButton(control, ini.ReadInt(kSection, key, 0) != 0 ? 1 : 0);
}

void LoadText(const settings::IniFile& ini, std::string_view key, std::string_view default_value,
              int control, DialogItems& items) {
  items.SetItemText(control, ini.ReadString(kSection, key, default_value));
}

// An existing file the user cannot (or chose not to let anyone) read and write.
int CheckReplaceable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (::access(path.c_str(), R_OK | W_OK) != 0) return errno;
  // access() grants everything to root; the mode bits still say the file is read-only.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  if ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) return EACCES;
  return 0;
}

// Collects the writes in order and stops at the first failure.
class SaveWriter {
 public:
  SaveWriter(const settings::IniFile& ini, SaveResult* result) : ini_(ini), result_(result) {}
  void String(std::string_view key, std::string_view value) {
    if (result_->error != 0) return;
    int rc = ini_.WriteString(kSection, key, value);
    if (rc != 0) {
      result_->error = rc;
      result_->key = std::string(key);
      return;
    }
    ++result_->keys_written;
  }
  void Int(std::string_view key, int value) { String(key, std::to_string(value)); }

 private:
  const settings::IniFile& ini_;
  SaveResult* result_;
};

}  // namespace

void LoadConnectionFields(const settings::IniFile& ini, DialogItems& items) {
  LoadFields(ini, kPrimaryFields, items);
  LoadFields(ini, kSecondaryFields, items);
}

void LoadSettings(const settings::IniFile& ini, DialogItems& items) {
  int pri_type = ini.ReadInt(kSection, "PriDBType", 1);
  items.CheckButton(pri_type == 2 ? id::kPriOther : id::kPriSqlServer, 1);
  int sec_type = ini.ReadInt(kSection, "SecDBType", 1);
  items.CheckButton(sec_type == 2   ? id::kSecOther
                    : sec_type == 3 ? id::kSecLocalText
                                    : id::kSecSqlServer,
                    1);
  LoadConnectionFields(ini, items);
  LoadCheck(ini, "UseSecConn", id::kUseSecConn, items);
  LoadText(ini, "PriOtherConnStr", "", id::kPriOtherConnStr, items);
  LoadText(ini, "SecOtherConnStr", "", id::kSecOtherConnStr, items);
  LoadText(ini, "SecLocalTextFile", "", id::kSecLocalTextFile, items);
  LoadCheck(ini, "SecLocalTextFileTimestamp", id::kSecTimestamp, items);
  LoadCheck(ini, "MsgBoxOnError", id::kMsgBoxOnError, items);
  LoadCheck(ini, "DetailedLog", id::kDetailedLog, items);
  LoadCheck(ini, "RaiseErrorIfAffectedLinesLessThen", id::kRaiseError, items);
  LoadText(ini, "RaiseErrorIfAffectedLinesLessThen", "0", id::kAffectedLines, items);
  LoadCheck(ini, "EmailOnError", id::kEmailOnError, items);
  LoadText(ini, "EmailSMTP", "", id::kSmtp, items);
  LoadText(ini, "EmailPort", "25", id::kPort, items);
  LoadText(ini, "EmailUserName", "", id::kEmailUser, items);
  items.SetItemText(id::kEmailPassword,
                    settings::DecodeSettingValue(ini.ReadString(kSection, "EmailPassword", "")));
  LoadText(ini, "EmailFrom", "", id::kFrom, items);
  LoadText(ini, "EmailTo", "", id::kTo, items);
  LoadText(ini, "EmailSubject", "", id::kSubject, items);
  LoadCheck(ini, "EmailWhenBothDBFail", id::kEmailWhenBothFail, items);
  LoadCheck(ini, "DigitallySign", id::kDigitallySign, items);
  LoadText(ini, "PdfSignerPath", "", id::kSignerPath, items);
  LoadCheck(ini, "CopyFile", id::kCopyFile, items);
  LoadText(ini, "CopyFilePath", "", id::kCopyFilePath, items);
}

SaveResult SaveSettings(const settings::IniFile& ini, const DialogItems& items) {
  SaveResult result;
  result.error = CheckReplaceable(ini.path());
  if (result.error != 0) return result;

  SaveWriter w(ini, &result);
  auto text = [&](int control) { return items.GetItemText(control); };
  auto state = [&](int control) { return items.IsButtonChecked(control); };

  w.Int("PriDBType", state(id::kPriOther) ? 2 : 1);
  w.String("PriConnectionString",
           settings::EncodeSettingValue(ComposeFields(kPrimaryFields, items)));
  w.Int("SecDBType", state(id::kSecLocalText) ? 3 : state(id::kSecOther) ? 2 : 1);
  w.String("SecConnectionString",
           settings::EncodeSettingValue(ComposeFields(kSecondaryFields, items)));
  w.Int("UseSecConn", state(id::kUseSecConn));
  w.String("PriOtherConnStr", text(id::kPriOtherConnStr));
  w.String("SecOtherConnStr", text(id::kSecOtherConnStr));
  w.String("SecLocalTextFile", text(id::kSecLocalTextFile));
  w.Int("SecLocalTextFileTimestamp", state(id::kSecTimestamp));
  w.Int("MsgBoxOnError", state(id::kMsgBoxOnError));
  w.Int("DetailedLog", state(id::kDetailedLog));
  w.String("RaiseErrorIfAffectedLinesLessThen",
           state(id::kRaiseError) ? text(id::kAffectedLines) : std::string("0"));
  w.Int("EmailOnError", state(id::kEmailOnError));
  w.String("EmailSMTP", text(id::kSmtp));
  w.String("EmailPort", text(id::kPort));
  w.String("EmailUserName", text(id::kEmailUser));
  w.String("EmailPassword", settings::EncodeSettingValue(text(id::kEmailPassword)));
  w.String("EmailFrom", text(id::kFrom));
  w.String("EmailTo", text(id::kTo));
  w.String("EmailSubject", text(id::kSubject));
  w.Int("EmailWhenBothDBFail", state(id::kEmailWhenBothFail));
  w.Int("DigitallySign", state(id::kDigitallySign));
  w.String("PdfSignerPath", text(id::kSignerPath));
  w.Int("CopyFile", state(id::kCopyFile));
  w.String("CopyFilePath", text(id::kCopyFilePath));
  return result;
}

}  // namespace config_editor
