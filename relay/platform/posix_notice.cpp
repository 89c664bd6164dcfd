// The message box. Qt is large and a run that shows no box must not pay for it, so the box lives in
// a separate module (libdbrelay_notice.so) that is loaded only on the first box of a run.

#include <string>

#include "relay/platform/posix_env.h"
#include "relay/report/notice_module.h"

namespace dbrelay {

namespace {

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
  auto show = reinterpret_cast<ShowNoticeFunction>(
      LoadModuleSymbol(kNoticeModuleFileName, kShowNoticeSymbol));
  return show != nullptr && show(text.data(), text.size()) != 0;
}

}  // namespace dbrelay
