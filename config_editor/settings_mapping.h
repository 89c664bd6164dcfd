#pragma once
// Moves every setting between the settings file and the dialog's controls: the load table (25
// steps, section "General") and the save table (25 keys, each with a write of its own).

#include <string>

#include "config_editor/dialog_items.h"
#include "settings/ini_file.h"

namespace config_editor {

inline constexpr char kSection[] = "General";

// Fills the eight SQL Server fields from PriConnectionString and SecConnectionString (decoded),
// whatever the radio buttons show.
void LoadConnectionFields(const settings::IniFile& ini, DialogItems& items);

// Reads every key into its control. Radio buttons that the file does not name stay as they are
// (cleared, as the dialog creates them). A missing or unreadable file yields the defaults.
void LoadSettings(const settings::IniFile& ini, DialogItems& items);

struct SaveResult {
  int error = 0;          // 0, or the errno of the first write that failed
  std::string key;        // the key whose write failed; empty for a refusal before the first write
  int keys_written = 0;   // writes that succeeded before the failure
};

// Writes the 25 keys in their order, each through its own atomic replacement of the file. A file
// that exists but is read-only or unreadable is refused (EACCES) before any write, so a file the
// dialog could not show is never overwritten with defaults and a read-only file stays untouched.
// The first failing write stops the save: the file keeps every earlier key and is never torn.
SaveResult SaveSettings(const settings::IniFile& ini, const DialogItems& items);

}  // namespace config_editor
