#pragma once
// DbRelayReplay's run, from the command line to the exit status.

namespace dbrelay::replay {

int ReplayMain(int argc, const char* const* argv);

}  // namespace dbrelay::replay
