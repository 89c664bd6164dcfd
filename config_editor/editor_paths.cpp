#include "config_editor/editor_paths.h"

#include <unistd.h>

#include <vector>

namespace config_editor {

std::string GetEditorExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetEditorFolder() {
  std::string path = GetEditorExecutablePath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash);
}

std::string GetIniPath(const std::string& editor_folder) { return editor_folder + "/DbRelay.ini"; }

}  // namespace config_editor
