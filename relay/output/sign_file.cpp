#include "relay/output/sign_file.h"

#include "relay/platform/env.h"
#include "relay/settings/relay_ini.h"

namespace dbrelay {

int SignFile(const std::string& file_name) {
  const std::string signer = ReadIniString(settings::kPdfSignerPath);
  Env* env = CurrentEnv();
  int pid = 0;
  if (!env->StartProcess({signer, file_name}, &pid).ok()) return kSignerNotStarted;
  int exit_code = 0;
  // A signer whose end cannot be learned has not been seen to sign.
  if (!env->WaitForProcess(pid, &exit_code).ok()) return kSignerNotStarted;
  return exit_code;
}

}  // namespace dbrelay
