// The operating-system side of Env. Each concern has its own posix_*.cpp file; this one holds the
// process-wide object and the basic services.

#include "relay/platform/posix_env.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace dbrelay {

std::string PosixEnv::ExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
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
