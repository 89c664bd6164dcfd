#pragma once
// Moves every setting between the settings file and the dialog's controls, key by key of
// settings/setting_keys.h: the load (radio groups, then connection fields, then the rest) and the
// save (25 keys in table order, written as one replacement of the file).

#include <string>

#include "config_editor/dialog_items.h"
#include "settings/ini_file.h"
#include "settings/setting_keys.h"

namespace config_editor {

using settings::kSettingsSection;

// Fills the eight SQL Server fields from PriConnectionString and SecConnectionString (decoded),
// whatever the radio buttons show.
void LoadConnectionFields(const settings::IniFile& ini, DialogItems& items);

// Reads every key into its control. Radio buttons that the file does not name stay as they are
// (cleared, as the dialog creates them). A missing or unreadable file yields the defaults.
void LoadSettings(const settings::IniFile& ini, DialogItems& items);

// Why a save was refused before anything was written.
enum class SaveRefusal {
  kNone,
  kLineBreak,      // a settings line cannot hold a line break or a NUL
  kNotStorable,    // a character the locale's encoding has no form for
};

struct SaveResult {
  int error = 0;  // 0, EINVAL for a refused value, or the errno of the failure
  SaveRefusal refusal = SaveRefusal::kNone;
  int control = 0;  // the control whose text was refused
};

// Writes the 25 keys in their order as one change of the file: every value is checked first, the
// writes are applied to the file's content and the file is replaced once, so it ends exactly as 25
// single writes would leave it and a reader sees the old settings or the new ones, never a mixture.
// A value a line cannot hold refuses the whole save (EINVAL, naming the control); a file that
// exists but is read-only or unreadable is refused (EACCES), so a file the dialog could not show
// is never overwritten with defaults. On any failure the file is untouched.
SaveResult SaveSettings(const settings::IniFile& ini, const DialogItems& items);

}  // namespace config_editor
