#include "relay/platform/env.h"

#include <cerrno>

namespace dbrelay {

namespace {
Env* g_override = nullptr;
}  // namespace

Env::~Env() = default;

Env* CurrentEnv() { return g_override != nullptr ? g_override : Env::Default(); }

Status WriteAll(Env* env, int fd, std::string_view data) {
  while (!data.empty()) {
    size_t written = 0;
    if (Status s = env->WriteFile(fd, data, &written); !s.ok()) return s;
    if (written == 0) return Status::FromErrno(EIO, "write");
    data.remove_prefix(written);
  }
  return Status::OK();
}

ScopedEnvOverride::ScopedEnvOverride(Env* env) : previous_(g_override) { g_override = env; }
ScopedEnvOverride::~ScopedEnvOverride() { g_override = previous_; }

}  // namespace dbrelay
