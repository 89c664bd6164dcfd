#pragma once
// The operations the load, save and enabling logic needs from the settings dialog, each addressed
// by control identifier. The Qt dialog implements them; nothing here knows about widgets. Texts are
// the settings' 8-bit strings: what SetItemText was given comes back from GetItemText byte for byte
// while the user has not edited it.

#include <string>

namespace config_editor {

class DialogItems {
 public:
  virtual ~DialogItems() = default;
  virtual void SetItemText(int id, const std::string& text) = 0;
  // The whole text as the bytes a setting stores, no length limit.
  virtual std::string GetItemText(int id) const = 0;
  // False when the text holds a character that a setting cannot store (one the locale's encoding
  // has no form for); a save then refuses before its first write. Holders of plain bytes never
  // fail.
  virtual bool ItemTextIsStorable(int /*id*/) const { return true; }
  // 0 clears, any other value ticks (check box) or selects (radio button).
  virtual void CheckButton(int id, int state) = 0;
  // 1 when ticked or selected, otherwise 0.
  virtual int IsButtonChecked(int id) const = 0;
  virtual void EnableItem(int id, bool enable) = 0;
};

}  // namespace config_editor
