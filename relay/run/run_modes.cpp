#include "relay/run/run_modes.h"

#include <cstdint>

#include "relay/common/format_text.h"
#include "relay/common/multibyte_text.h"
#include "relay/platform/env.h"
#include "relay/report/report.h"
#include "relay/run/connection_tests.h"
#include "relay/run/run_statement.h"
#include "relay/settings/relay_ini.h"
#include "settings/character_locale.h"

namespace dbrelay {

namespace {

// The start-up the program cannot go on without: the character encoding of the environment's
// locale (so multibyte searches and the mail's charset follow it, falling back to "C" when that
// locale is not installed; the other categories are never used, so they are not loaded), loaded
// the first time a text holds a byte outside ASCII, and the program's own path, which locates the
// settings file.
bool InitializeFramework() {
  settings::DeferEnvironmentCharacterLocale();
  return !CurrentEnv()->ExecutablePath().empty();
}

// The usage proper, shared by the usage text and the help text.
constexpr char kUsageLines[] =
    "DbRelay.exe \"Query\" [FileName] [TextFileName]\n"
    "    [FileName] is used to digitally sign file if needed\n"
    "    [TextFileName] is used Force local Text file to specific name\n\n"
    "or:\n\n"
    "DbRelay.exe PriTest\n"
    "DbRelay.exe SecTest\n"
    "DbRelay.exe EmailTest\n"
    "just to test the connection to the database\n";

}  // namespace

const std::string& UsageText() {
  static const std::string text =
      std::string("Wrong number of arguments, correct usage of software is:\n\n") + kUsageLines;
  return text;
}

const std::string& HelpText() {
  static const std::string text =
      std::string("DbRelay delivers one SQL statement to a database, with fail-over so that it is "
                  "never lost.\nUsage:\n\n") +
      kUsageLines +
      "\nor:\n\n"
      "DbRelay.exe --help     shows this text\n"
      "DbRelay.exe --version  shows the version\n\n"
      "The settings file is the program's own path with the extension \".ini\"; see DbRelay(1).\n";
  return text;
}

const std::string& VersionText() {
  static const std::string text = std::string("DbRelay ") + DBRELAY_VERSION + "\n";
  return text;
}

const std::string* InformationRequested(int argc, const char* const* argv) {
  if (argc != 2) return nullptr;
  std::string_view argument = argv[1];
  if (argument == "--help") return &HelpText();
  if (argument == "--version") return &VersionText();
  return nullptr;
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
  // First of all, before anything opens a file or a socket.
  if (!CurrentEnv()->PrepareProcess().ok() || !InitializeFramework()) {
    ReportError("Fatal Error: MFC initialization failed\n", Mailing::kAllowed);
    return -1;
  }
  // Answered before any setting is read: nothing is shown but the text, nothing is touched.
  if (const std::string* text = InformationRequested(argc, argv)) {
    CurrentEnv()->WriteConsole(*text);
    return 0;
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
