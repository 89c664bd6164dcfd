#pragma once
// DialogItems without a dialog: texts and button states kept by control number, every call
// recorded in order, so the load, save and enabling tables run without building a Qt dialog.

#include <map>
#include <string>
#include <vector>

#include "config_editor/dialog_items.h"

namespace testing_support {

class FakeDialogItems : public config_editor::DialogItems {
 public:
  void SetItemText(int id, const std::string& text) override {
    calls.push_back("SetItemText " + std::to_string(id));
    texts[id] = text;
  }
  std::string GetItemText(int id) const override {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  }
  bool ItemTextIsStorable(int id) const override { return unstorable.count(id) == 0; }
  void CheckButton(int id, int state) override {
    calls.push_back("CheckButton " + std::to_string(id) + " " + std::to_string(state));
    checked[id] = state != 0 ? 1 : 0;
  }
  int IsButtonChecked(int id) const override {
    auto it = checked.find(id);
    return it == checked.end() ? 0 : it->second;
  }
  void EnableItem(int id, bool enable) override { enabled[id] = enable; }

  std::map<int, std::string> texts;
  std::map<int, int> checked;
  std::map<int, bool> enabled;
  std::map<int, bool> unstorable;  // controls whose text the locale cannot store
  std::vector<std::string> calls;
};

}  // namespace testing_support
