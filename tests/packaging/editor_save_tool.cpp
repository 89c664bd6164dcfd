// editor_save_tool PATH: opens the settings file as DbRelayConfig does and saves it unchanged,
// through the editor's own load and save tables (everything of a Save but the widgets), for tests
// that must save as another user. Exits with the save's errno, 0 when it worked.
#include <cstdio>
#include <map>
#include <string>

#include "config_editor/dialog_items.h"
#include "config_editor/settings_mapping.h"
#include "settings/ini_file.h"

namespace {

// The dialog's controls as plain values.
class ControlValues : public config_editor::DialogItems {
 public:
  void SetItemText(int id, const std::string& text) override { texts_[id] = text; }
  std::string GetItemText(int id) const override {
    auto found = texts_.find(id);
    return found == texts_.end() ? std::string() : found->second;
  }
  void CheckButton(int id, int state) override { checks_[id] = state != 0 ? 1 : 0; }
  int IsButtonChecked(int id) const override {
    auto found = checks_.find(id);
    return found == checks_.end() ? 0 : found->second;
  }
  void EnableItem(int, bool) override {}

 private:
  std::map<int, std::string> texts_;
  std::map<int, int> checks_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: editor_save_tool PATH\n", stderr);
    return 64;
  }
  settings::IniFile ini(argv[1]);
  ControlValues controls;
  config_editor::LoadSettings(ini, controls);
  return config_editor::SaveSettings(ini, controls).error;
}
