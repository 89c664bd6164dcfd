#pragma once
// The operations the load, save and enabling logic needs from the settings dialog, each addressed
// by control identifier. The Qt dialog implements them; nothing here knows about widgets.

#include <string>

namespace config_editor {

class DialogItems {
 public:
  virtual ~DialogItems() = default;
  virtual void SetItemText(int id, const std::string& text) = 0;
  // The whole text, no length limit.
  virtual std::string GetItemText(int id) const = 0;
  // 0 clears, any other value ticks (check box) or selects (radio button).
  virtual void CheckButton(int id, int state) = 0;
  // 1 when ticked or selected, otherwise 0.
  virtual int IsButtonChecked(int id) const = 0;
  virtual void EnableItem(int id, bool enable) = 0;
};

}  // namespace config_editor
