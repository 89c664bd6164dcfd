#pragma once
// DbRelayReplay's command line.

#include <string>
#include <vector>

namespace dbrelay::replay {

enum class ReplayAction { kReplay, kList, kRejectFirst, kHelp, kVersion };

struct ReplayArguments {
  ReplayAction action = ReplayAction::kReplay;
  std::string reject_file;          // the FILE of --reject-first
  std::vector<std::string> files;   // empty: the configured text files
};

// Parses argv[1..]. Returns false with error set to a one-line reason on wrong arguments.
// --help and --version are answered only as the one argument; "--" ends the options, so a file
// whose name begins with "-" can be named.
bool ParseReplayArguments(int argc, const char* const* argv, ReplayArguments* arguments,
                          std::string* error);

const std::string& ReplayUsageText();
const std::string& ReplayVersionText();

}  // namespace dbrelay::replay
