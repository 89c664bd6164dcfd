#include "replay/replay_arguments.h"

#include <string_view>

namespace dbrelay::replay {

bool ParseReplayArguments(int argc, const char* const* argv, ReplayArguments* arguments,
                          std::string* error) {
  *arguments = ReplayArguments();
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    arguments->action = ReplayAction::kHelp;
    return true;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    arguments->action = ReplayAction::kVersion;
    return true;
  }
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (!options_done && argument == "--") {
      options_done = true;
    } else if (!options_done && argument == "--list") {
      if (arguments->action != ReplayAction::kReplay) {
        *error = "--list cannot be combined with --reject-first or given twice";
        return false;
      }
      arguments->action = ReplayAction::kList;
    } else if (!options_done && argument == "--reject-first") {
      if (arguments->action != ReplayAction::kReplay) {
        *error = "--reject-first cannot be combined with --list or given twice";
        return false;
      }
      if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
        *error = "--reject-first needs the FILE whose first pending record it moves";
        return false;
      }
      arguments->action = ReplayAction::kRejectFirst;
      arguments->reject_file = argv[++i];
    } else if (!options_done && argument.starts_with("-") && argument != "-") {
      *error = "unknown option " + std::string(argument);
      return false;
    } else if (argument.empty()) {
      *error = "an empty FILE name";
      return false;
    } else {
      arguments->files.emplace_back(argument);
    }
  }
  if (arguments->action == ReplayAction::kRejectFirst && !arguments->files.empty()) {
    *error = "--reject-first takes one FILE and no other";
    return false;
  }
  return true;
}

const std::string& ReplayUsageText() {
  static const std::string text =
      "Usage: DbRelayReplay [--list] [--reject-first FILE] [FILE ...]\n"
      "       DbRelayReplay --help | --version\n\n"
      "Runs the statements DbRelay parked in its local text file on the primary database, each\n"
      "exactly once and in order, and removes each file whose statements have all run.\n"
      "Without FILE: the configured SecLocalTextFile and, with SecLocalTextFileTimestamp on,\n"
      "every time-stamped file beside it, oldest first.\n\n"
      "  --list               print what is pending, file by file; change nothing\n"
      "  --reject-first FILE  move the first pending statement of FILE to FILE.rejected\n\n"
      "The settings file is DbRelay.ini beside the program; see DbRelayReplay(1).\n";
  return text;
}

const std::string& ReplayVersionText() {
  static const std::string text = std::string("DbRelayReplay ") + DBRELAY_VERSION + "\n";
  return text;
}

}  // namespace dbrelay::replay
