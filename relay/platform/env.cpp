#include "relay/platform/env.h"

namespace dbrelay {

namespace {
Env* g_override = nullptr;
}  // namespace

Env::~Env() = default;

Env* CurrentEnv() { return g_override != nullptr ? g_override : Env::Default(); }

ScopedEnvOverride::ScopedEnvOverride(Env* env) : previous_(g_override) { g_override = env; }
ScopedEnvOverride::~ScopedEnvOverride() { g_override = previous_; }

}  // namespace dbrelay
