#include "relay/run/run_modes.h"

#include <clocale>
#include <cstdint>

#include "relay/common/format_text.h"
#include "relay/common/multibyte_text.h"
#include "relay/platform/env.h"
#include "relay/report/report.h"
#include "relay/run/connection_tests.h"
#include "relay/run/run_statement.h"
#include "relay/settings/relay_ini.h"

namespace dbrelay {

namespace {

// The start-up the program cannot go on without: the character encoding of the environment's
// locale (so multibyte searches and the mail's charset follow it, falling back to "C" when that
// locale is not installed; the other categories are never used, so they are not loaded) and the
// program's own path, which locates the settings file.
bool InitializeFramework() {
  if (std::setlocale(LC_CTYPE, "") == nullptr) std::setlocale(LC_CTYPE, "C");
  return !CurrentEnv()->ExecutablePath().empty();
}

}  // namespace

const std::string& UsageText() {
  static const std::string text =
      "Wrong number of arguments, correct usage of software is:\n\n"
      "DbRelay.exe \"Query\" [FileName] [TextFileName]\n"
      "    [FileName] is used to digitally sign file if needed\n"
      "    [TextFileName] is used Force local Text file to specific name\n\n"
      "or:\n\n"
      "DbRelay.exe PriTest\n"
      "DbRelay.exe SecTest\n"
      "DbRelay.exe EmailTest\n"
      "just to test the connection to the database\n";
  return text;
}

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  for (int i = 1; i < argc; ++i) {
    line += ' ';
    line += argv[i];
  }
  return line;
}

RunMode ChooseRunMode(std::string_view first_argument) {
  if (FindMultibyte(first_argument, "PriTest") != std::string_view::npos) return RunMode::kPriTest;
  if (FindMultibyte(first_argument, "SecTest") != std::string_view::npos) return RunMode::kSecTest;
  if (FindMultibyte(first_argument, "EmailTest") != std::string_view::npos) {
    return RunMode::kEmailTest;
  }
  return RunMode::kStatement;
}

int RelayMain(int argc, const char* const* argv) {
  if (!InitializeFramework()) {
    ReportError("Fatal Error: MFC initialization failed\n", Mailing::kAllowed);
    return -1;
  }
  // A settings file that is there but cannot be read gives every key its default, and the failures
  // that follow would point elsewhere; the run goes on as before, with the cause shown first.
  if (int error = SettingsFileReadError(); error != 0) {
    ReportError(FormatText("Unable to read settings file: %s\n\nError returned = %d\n",
                           GetIniPath().c_str(), error),
                Mailing::kSuppressed);
  }
  LogDetail(JoinCommandLine(argc, argv));

  // One to three arguments after the program path; argc 1 wraps to a large number and fails too.
  if (static_cast<uint32_t>(argc - 2) > 2u) {
    ReportError(UsageText(), Mailing::kAllowed);
    return -1;
  }

  switch (ChooseRunMode(argv[1])) {
    case RunMode::kPriTest:
      return RunPrimaryTest();
    case RunMode::kSecTest:
      return RunSecondaryTest();
    case RunMode::kEmailTest:
      return RunEmailTest();
    case RunMode::kStatement:
      break;
  }
  return RunStatement(argc, argv);
}

}  // namespace dbrelay
