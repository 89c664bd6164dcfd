// The message box. Qt is large and a run that shows no box must not pay for it, so the box lives in
// a separate module (libdbrelay_notice.so) that is loaded only on the first box of a run.

#include <dlfcn.h>

#include <string>

#include "relay/platform/posix_env.h"
#include "relay/report/notice_module.h"

namespace dbrelay {

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

ShowNoticeFunction LoadNoticeModule(Env* env) {
  static ShowNoticeFunction loaded = nullptr;
  static bool tried = false;
  if (tried) return loaded;
  tried = true;
  // Beside the program first (how it is deployed), then where the build put it.
  std::string candidates[] = {FolderOf(env->ExecutablePath()) + "/" + kNoticeModuleFileName,
                              std::string(DBRELAY_MODULE_DIR) + "/" + kNoticeModuleFileName};
  for (const std::string& candidate : candidates) {
    void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    loaded = reinterpret_cast<ShowNoticeFunction>(::dlsym(handle, kShowNoticeSymbol));
    if (loaded != nullptr) break;
  }
  return loaded;
}

bool HasDisplay(Env* env) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    std::optional<std::string> value = env->GetVariable(name);
    if (value && !value->empty()) return true;
  }
  return false;
}

}  // namespace

bool PosixEnv::ShowNotice(const std::string& text) {
  if (!HasDisplay(this)) return false;
  ShowNoticeFunction show = LoadNoticeModule(this);
  return show != nullptr && show(text.data(), text.size()) != 0;
}

}  // namespace dbrelay
