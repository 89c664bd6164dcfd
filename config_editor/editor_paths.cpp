#include "config_editor/editor_paths.h"

#include "settings/settings_files.h"

namespace config_editor {

std::string GetEditorExecutablePath() {
  return settings::CurrentSettingsFiles()->ExecutablePath();
}

std::string GetEditorFolder() {
  std::string path = GetEditorExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash);
}

std::string GetIniPath(const std::string& editor_folder) { return editor_folder + "/DbRelay.ini"; }

}  // namespace config_editor
