#pragma once
// From process start to the choice of one run mode: framework start-up, the two information
// requests, the detailed log of the command line, the argument-count rule with its usage text, and
// the dispatch.

#include <string>
#include <string_view>

namespace dbrelay {

enum class RunMode { kPriTest, kSecTest, kEmailTest, kStatement };

// The text shown for a wrong number of arguments.
const std::string& UsageText();

// The texts of the two information requests: the usage with the options, and one line with the
// program's name and version.
const std::string& HelpText();
const std::string& VersionText();

// The text asked for when the one argument is exactly "--help" or "--version"; nullptr for every
// other command line, which keeps its meaning.
const std::string* InformationRequested(int argc, const char* const* argv);

// argv[0] followed by one space and each further argument; no quotes, no line end.
std::string JoinCommandLine(int argc, const char* const* argv);

// The mode named by the first argument: a case-sensitive, multibyte-aware search anywhere in it for
// "PriTest", then "SecTest", then "EmailTest"; anything else is a statement.
RunMode ChooseRunMode(std::string_view first_argument);

// The whole program: returns the exit code (0, -1, or a system error code).
int RelayMain(int argc, const char* const* argv);

}  // namespace dbrelay
