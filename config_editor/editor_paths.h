#pragma once
// Where the editor finds its settings file and DbRelay: always in the folder of its own executable.

#include <string>

namespace config_editor {

// The folder of the running executable (from /proc/self/exe), without a trailing "/"; empty when it
// cannot be determined.
std::string GetEditorFolder();

// folder + "/DbRelay.ini": the editor does not derive the name from its own executable's name.
std::string GetIniPath(const std::string& editor_folder);

// The full path of the running executable; empty when it cannot be determined.
std::string GetEditorExecutablePath();

}  // namespace config_editor
