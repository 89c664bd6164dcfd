// Modules loaded on demand (the message box, the mail engine).

#include <dlfcn.h>

#include <map>
#include <string>

#include "relay/platform/posix_env.h"
#include "settings/file_path.h"

namespace dbrelay {

void* PosixEnv::LoadModuleSymbol(const std::string& file_name, const char* symbol) {
  // A module stays loaded for the rest of the process: what it returned may still be in use.
  static std::map<std::string, void*> handles;
  auto found = handles.find(file_name);
  if (found == handles.end()) {
    // Only ever beside the program: a module is code run with the caller's rights, so it comes
    // from the folder the program was deployed into and from nowhere else.
    void* handle =
        ::dlopen((settings::FolderOf(ExecutablePath()) + "/" + file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
    found = handles.emplace(file_name, handle).first;
  }
  return found->second == nullptr ? nullptr : ::dlsym(found->second, symbol);
}

}  // namespace dbrelay
