#include "config_editor/settings_mapping.h"

#include <array>
#include <cerrno>
#include <iterator>
#include <string_view>
#include <vector>

#include "config_editor/connection_string.h"
#include "config_editor/dialog_template.h"
#include "settings/ini_batch.h"
#include "settings/setting_codec.h"
#include "settings/settings_files.h"

namespace config_editor {
namespace {

// The controls that show one key: for a radio group the buttons of choices 1, 2 and 3 (0 where
// there is none), for connection fields the server, database, user and password fields, for a
// checked number the check box and the number field, otherwise the one control.
struct KeyControls {
  const settings::SettingKey* key;
  std::array<int, 4> controls;
};

using settings::EditorForm;

// Every key of the file with its controls, in save order.
constexpr KeyControls kKeyControls[] = {
    {&settings::kPriDBType, {id::kPriSqlServer, id::kPriOther}},
    {&settings::kPriConnectionString,
     {id::kPriServer, id::kPriDatabase, id::kPriUser, id::kPriPassword}},
    {&settings::kSecDBType, {id::kSecSqlServer, id::kSecOther, id::kSecLocalText}},
    {&settings::kSecConnectionString,
     {id::kSecServer, id::kSecDatabase, id::kSecUser, id::kSecPassword}},
    {&settings::kUseSecConn, {id::kUseSecConn}},
    {&settings::kPriOtherConnStr, {id::kPriOtherConnStr}},
    {&settings::kSecOtherConnStr, {id::kSecOtherConnStr}},
    {&settings::kSecLocalTextFile, {id::kSecLocalTextFile}},
    {&settings::kSecLocalTextFileTimestamp, {id::kSecTimestamp}},
    {&settings::kMsgBoxOnError, {id::kMsgBoxOnError}},
    {&settings::kDetailedLog, {id::kDetailedLog}},
    {&settings::kRaiseErrorIfAffectedLinesLessThen, {id::kRaiseError, id::kAffectedLines}},
    {&settings::kEmailOnError, {id::kEmailOnError}},
    {&settings::kEmailSMTP, {id::kSmtp}},
    {&settings::kEmailPort, {id::kPort}},
    {&settings::kEmailUserName, {id::kEmailUser}},
    {&settings::kEmailPassword, {id::kEmailPassword}},
    {&settings::kEmailFrom, {id::kFrom}},
    {&settings::kEmailTo, {id::kTo}},
    {&settings::kEmailSubject, {id::kSubject}},
    {&settings::kEmailWhenBothDBFail, {id::kEmailWhenBothFail}},
    {&settings::kDigitallySign, {id::kDigitallySign}},
    {&settings::kPdfSignerPath, {id::kSignerPath}},
    {&settings::kCopyFile, {id::kCopyFile}},
    {&settings::kCopyFilePath, {id::kCopyFilePath}},
};

constexpr bool FollowsKeyTable() {
  if (std::size(kKeyControls) != std::size(settings::kSettingKeys)) return false;
  for (size_t i = 0; i < std::size(kKeyControls); ++i) {
    if (kKeyControls[i].key != settings::kSettingKeys[i]) return false;
  }
  return true;
}
static_assert(FollowsKeyTable(), "every key once, in the order of settings::kSettingKeys");

std::string ReadText(const settings::IniFile& ini, const settings::SettingKey& key) {
  return ini.ReadString(kSettingsSection, key.name, key.editor_default);
}

bool ReadSwitch(const settings::IniFile& ini, const settings::SettingKey& key) {
  return ini.ReadInt(kSettingsSection, key.name, key.editor_number()) != 0;
}

// The button of the stored choice; an unknown choice selects the first.
void LoadRadioGroup(const settings::IniFile& ini, const KeyControls& entry, DialogItems& items) {
  int32_t choice = ini.ReadInt(kSettingsSection, entry.key->name, entry.key->editor_number());
  bool known = choice >= 2 && choice <= 3 && entry.controls[static_cast<size_t>(choice - 1)] != 0;
  items.CheckButton(known ? entry.controls[static_cast<size_t>(choice - 1)] : entry.controls[0], 1);
}

void LoadFields(const settings::IniFile& ini, const KeyControls& entry, DialogItems& items) {
  std::string decoded = settings::DecodeSettingValue(ReadText(ini, *entry.key));
  items.SetItemText(entry.controls[0], GetConnectionValue(decoded, "server="));
  items.SetItemText(entry.controls[1], GetConnectionValue(decoded, "database="));
  items.SetItemText(entry.controls[2], GetConnectionValue(decoded, "uid="));
  items.SetItemText(entry.controls[3], GetConnectionValue(decoded, "pwd="));
}

// Every form but the radio groups and the connection fields, which a load fills first.
void LoadOther(const settings::IniFile& ini, const KeyControls& entry, DialogItems& items) {
  const int control = entry.controls[0];
  switch (entry.key->editor_form) {
    case EditorForm::kRadioGroup:
    case EditorForm::kConnectionFields:
      break;
    case EditorForm::kCheckBox:
      items.CheckButton(control, ReadSwitch(ini, *entry.key) ? 1 : 0);
      break;
    case EditorForm::kText:
      items.SetItemText(control, ReadText(ini, *entry.key));
      break;
    case EditorForm::kSecretText:
      items.SetItemText(control, settings::DecodeSettingValue(ReadText(ini, *entry.key)));
      break;
    case EditorForm::kCheckedNumber:
      items.CheckButton(control, ReadSwitch(ini, *entry.key) ? 1 : 0);
      items.SetItemText(entry.controls[1], ReadText(ini, *entry.key));
      break;
  }
}

std::string ComposeFields(const KeyControls& entry, const DialogItems& items) {
  const auto& fields = entry.controls;
  return ComposeConnectionString(items.GetItemText(fields[0]), items.GetItemText(fields[1]),
                                 items.GetItemText(fields[2]), items.GetItemText(fields[3]));
}

// The selected choice; the first when no later button is selected.
int SavedChoice(const KeyControls& entry, const DialogItems& items) {
  const auto& buttons = entry.controls;
  for (size_t i = buttons.size(); i-- > 1;) {
    if (buttons[i] != 0 && items.IsButtonChecked(buttons[i])) return static_cast<int>(i + 1);
  }
  return 1;
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

// The controls whose text key's write stores; the number field only while its box is ticked.
std::vector<int> SavedTextControls(const KeyControls& entry, const DialogItems& items) {
  switch (entry.key->editor_form) {
    case EditorForm::kConnectionFields:
      return {entry.controls.begin(), entry.controls.end()};
    case EditorForm::kText:
    case EditorForm::kSecretText:
      return {entry.controls[0]};
    case EditorForm::kCheckedNumber:
      if (items.IsButtonChecked(entry.controls[0])) return {entry.controls[1]};
      return {};
    case EditorForm::kRadioGroup:
    case EditorForm::kCheckBox:
      break;
  }
  return {};
}

void CollectWrite(const KeyControls& entry, const DialogItems& items, SaveWrites& w) {
  const std::string_view key = entry.key->name;
  const int control = entry.controls[0];
  switch (entry.key->editor_form) {
    case EditorForm::kRadioGroup:
      w.Int(key, SavedChoice(entry, items));
      break;
    case EditorForm::kConnectionFields:
      w.Secret(key, ComposeFields(entry, items));
      break;
    case EditorForm::kCheckBox:
      w.Int(key, items.IsButtonChecked(control));
      break;
    case EditorForm::kText:
      w.Text(key, control);
      break;
    case EditorForm::kSecretText:
      w.Secret(key, items.GetItemText(control));
      break;
    case EditorForm::kCheckedNumber:
      if (items.IsButtonChecked(control)) {
        w.Text(key, entry.controls[1]);
      } else {
        w.Literal(key, "0");
      }
      break;
  }
}

}  // namespace

void LoadConnectionFields(const settings::IniFile& ini, DialogItems& items) {
  for (const KeyControls& entry : kKeyControls) {
    if (entry.key->editor_form == EditorForm::kConnectionFields) LoadFields(ini, entry, items);
  }
}

void LoadSettings(const settings::IniFile& ini, DialogItems& items) {
  // The radio groups first, so the connection fields are filled under the kinds they belong to.
  for (const KeyControls& entry : kKeyControls) {
    if (entry.key->editor_form == EditorForm::kRadioGroup) LoadRadioGroup(ini, entry, items);
  }
  LoadConnectionFields(ini, items);
  for (const KeyControls& entry : kKeyControls) LoadOther(ini, entry, items);
}

SaveResult SaveSettings(const settings::IniFile& ini, const DialogItems& items) {
  SaveResult result;
  for (const KeyControls& entry : kKeyControls) {
    for (int control : SavedTextControls(entry, items)) {
      if (!items.ItemTextIsStorable(control)) return {EINVAL, SaveRefusal::kNotStorable, control};
    }
  }
  // A file the dialog could not show is never overwritten with defaults.
  result.error = settings::CurrentSettingsFiles()->CheckReadWrite(ini.path());
  if (result.error != 0) return result;

  SaveWrites w(items);
  for (const KeyControls& entry : kKeyControls) CollectWrite(entry, items, w);
  size_t refused = w.writes().size();
  result.error = settings::WriteIniBatch(ini.path(), kSettingsSection, w.writes(), &refused);
  if (result.error == EINVAL && refused < w.writes().size()) {
    result.refusal = SaveRefusal::kLineBreak;
    result.control = w.control_of(refused);
  }
  return result;
}

}  // namespace config_editor
