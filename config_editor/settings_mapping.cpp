#include "config_editor/settings_mapping.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "config_editor/connection_string.h"
#include "config_editor/dialog_template.h"
#include "settings/ini_batch.h"
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

// The 25 writes of a save in their order. Each plain text write remembers its control, so a value
// that a line cannot hold names the field it came from.
class SaveWrites {
 public:
  explicit SaveWrites(const DialogItems& items) : items_(items) {}
  void Int(std::string_view key, int value) { Add(key, std::to_string(value), 0); }
  void Text(std::string_view key, int control) { Add(key, items_.GetItemText(control), control); }
  void Secret(std::string_view key, const std::string& plain) {
    Add(key, settings::EncodeSettingValue(plain), 0);
  }
  void Literal(std::string_view key, std::string value) { Add(key, std::move(value), 0); }
  const std::vector<settings::IniWrite>& writes() const { return writes_; }
  int control_of(size_t index) const { return controls_[index]; }

 private:
  void Add(std::string_view key, std::string value, int control) {
    writes_.push_back({std::string(key), std::move(value)});
    controls_.push_back(control);
  }
  const DialogItems& items_;
  std::vector<settings::IniWrite> writes_;
  std::vector<int> controls_;
};

// Every control whose text a save stores, in save order.
constexpr int kSavedTextControls[] = {
    id::kPriServer,  id::kPriDatabase,      id::kPriUser,           id::kPriPassword,
    id::kSecServer,  id::kSecDatabase,      id::kSecUser,           id::kSecPassword,
    id::kPriOtherConnStr, id::kSecOtherConnStr, id::kSecLocalTextFile, id::kAffectedLines,
    id::kSmtp,       id::kPort,             id::kEmailUser,         id::kEmailPassword,
    id::kFrom,       id::kTo,               id::kSubject,           id::kSignerPath,
    id::kCopyFilePath};

void CollectWrites(const DialogItems& items, SaveWrites& w) {
  auto state = [&](int control) { return items.IsButtonChecked(control); };
  w.Int("PriDBType", state(id::kPriOther) ? 2 : 1);
  w.Secret("PriConnectionString", ComposeFields(kPrimaryFields, items));
  w.Int("SecDBType", state(id::kSecLocalText) ? 3 : state(id::kSecOther) ? 2 : 1);
  w.Secret("SecConnectionString", ComposeFields(kSecondaryFields, items));
  w.Int("UseSecConn", state(id::kUseSecConn));
  w.Text("PriOtherConnStr", id::kPriOtherConnStr);
  w.Text("SecOtherConnStr", id::kSecOtherConnStr);
  w.Text("SecLocalTextFile", id::kSecLocalTextFile);
  w.Int("SecLocalTextFileTimestamp", state(id::kSecTimestamp));
  w.Int("MsgBoxOnError", state(id::kMsgBoxOnError));
  w.Int("DetailedLog", state(id::kDetailedLog));
  if (state(id::kRaiseError)) {
    w.Text("RaiseErrorIfAffectedLinesLessThen", id::kAffectedLines);
  } else {
    w.Literal("RaiseErrorIfAffectedLinesLessThen", "0");
  }
  w.Int("EmailOnError", state(id::kEmailOnError));
  w.Text("EmailSMTP", id::kSmtp);
  w.Text("EmailPort", id::kPort);
  w.Text("EmailUserName", id::kEmailUser);
  w.Secret("EmailPassword", items.GetItemText(id::kEmailPassword));
  w.Text("EmailFrom", id::kFrom);
  w.Text("EmailTo", id::kTo);
  w.Text("EmailSubject", id::kSubject);
  w.Int("EmailWhenBothDBFail", state(id::kEmailWhenBothFail));
  w.Int("DigitallySign", state(id::kDigitallySign));
  w.Text("PdfSignerPath", id::kSignerPath);
  w.Int("CopyFile", state(id::kCopyFile));
  w.Text("CopyFilePath", id::kCopyFilePath);
}

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
  for (int control : kSavedTextControls) {
    // The number field is stored only while its check box is ticked.
    if (control == id::kAffectedLines && !items.IsButtonChecked(id::kRaiseError)) continue;
    if (!items.ItemTextIsStorable(control)) {
      return {EINVAL, SaveRefusal::kNotStorable, control};
    }
  }
  result.error = CheckReplaceable(ini.path());
  if (result.error != 0) return result;

  SaveWrites w(items);
  CollectWrites(items, w);
  size_t refused = w.writes().size();
  result.error = settings::WriteIniBatch(ini.path(), kSection, w.writes(), &refused);
  if (result.error == EINVAL && refused < w.writes().size()) {
    result.refusal = SaveRefusal::kLineBreak;
    result.control = w.control_of(refused);
  }
  return result;
}

}  // namespace config_editor
