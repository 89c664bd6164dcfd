#include "replay/replay_main.h"

#include "relay/platform/env.h"

namespace dbrelay::replay {

int ReplayMain(int, const char* const*) {
  CurrentEnv()->WriteConsole("usage: DbRelayReplay [--list] [--reject-first FILE] [FILE ...]\n");
  return 64;
}

}  // namespace dbrelay::replay
