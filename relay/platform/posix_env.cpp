// The operating-system side of Env. Each concern has its own posix_*.cpp file; this one holds the
// process-wide object and the basic services.

#include "relay/platform/posix_env.h"
#include "settings/settings_files.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace dbrelay {

// One reader of /proc/self/exe for both programs.
std::string PosixEnv::ExecutablePath() {
  return settings::PosixSettingsFiles()->ExecutablePath();
}

void PosixEnv::WriteConsole(std::string_view text) {
  // Straight to the descriptor: no stdio buffer can hold a report back or reorder it.
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed or broken stdout is not detected, like the console it stands in for
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void PosixEnv::SleepForMilliseconds(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<std::string> PosixEnv::GetVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: reports may run during exit
  return env;
}

}  // namespace dbrelay
