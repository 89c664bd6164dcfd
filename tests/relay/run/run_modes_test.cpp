#include "relay/run/run_modes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using dbrelay::ChooseRunMode;
using dbrelay::RunMode;
using testing_support::RelaySandbox;

struct ModeCase {
  const char* name;
  std::string first_argument;
  RunMode mode;
};

class RunModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(RunModeTest, ChoosesByCaseSensitiveSubstring) {
  EXPECT_EQ(ChooseRunMode(GetParam().first_argument), GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunModeTest,
    testing::Values(
        ModeCase{"pri", "PriTest", RunMode::kPriTest},
        ModeCase{"sec", "SecTest", RunMode::kSecTest},
        ModeCase{"email", "EmailTest", RunMode::kEmailTest},
        ModeCase{"small_letters_are_a_statement", "pritest", RunMode::kStatement},
        ModeCase{"word_inside_a_statement", "UPDATE T SET c='EmailTest'", RunMode::kEmailTest},
        ModeCase{"pri_wins_over_sec", "SecTest then PriTest", RunMode::kPriTest},
        ModeCase{"sec_wins_over_email", "EmailTest SecTest", RunMode::kSecTest},
        ModeCase{"empty_is_a_statement", "", RunMode::kStatement},
        ModeCase{"statement", "UPDATE Docs SET Signed=1 WHERE Id=7", RunMode::kStatement},
        ModeCase{"invalid_utf8_bytes", "\xff\xfePriTest\x80", RunMode::kPriTest}),
    [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST(JoinCommandLineTest, JoinsWithSingleSpacesAndNoQuotes) {
  const char* argv[] = {"/opt/DbRelay", "UPDATE a SET b=1", "", "name"};
  EXPECT_EQ(dbrelay::JoinCommandLine(4, argv), "/opt/DbRelay UPDATE a SET b=1  name");
  EXPECT_EQ(dbrelay::JoinCommandLine(1, argv), "/opt/DbRelay");
}

// A program that cannot find its own path cannot find its settings either: it stops at start-up.
class NoExecutablePath : public testing_support::InProcessEnv {
 public:
  using InProcessEnv::InProcessEnv;
  std::string ExecutablePath() override { return ""; }
};

TEST(StartUpTest, MissingOwnPathIsAFatalStartUpError) {
  testing_support::TempDir dir;
  NoExecutablePath env(dir.path());
  dbrelay::ScopedEnvOverride use(&env);
  const char* argv[] = {"DbRelay", "PriTest"};
  EXPECT_EQ(dbrelay::RelayMain(2, argv), -1);
  EXPECT_EQ(env.console, "Fatal Error: MFC initialization failed\n");
}

// Descriptors that cannot be made safe (no /dev/null to open them on) end the run before anything
// could write the log into a connection.
class UnpreparedProcess : public testing_support::InProcessEnv {
 public:
  using InProcessEnv::InProcessEnv;
  dbrelay::Status PrepareProcess() override {
    return dbrelay::Status::FromErrno(ENOENT, "open /dev/null");
  }
};

TEST(StartUpTest, ProcessThatCannotBePreparedStopsAtStartUp) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir.File("DbRelay.ini"),
                                  "[General]\r\nSecDBType=3\r\nSecLocalTextFile=" +
                                      dir.File("pending.sql") + "\r\n");
  UnpreparedProcess env(dir.path());
  dbrelay::ScopedEnvOverride use(&env);
  const char* argv[] = {"DbRelay", "UPDATE Docs SET Signed=1 WHERE Id=7"};
  EXPECT_EQ(dbrelay::RelayMain(2, argv), -1);
  EXPECT_EQ(env.console, "Fatal Error: MFC initialization failed\n");
  EXPECT_FALSE(testing_support::FileExists(dir.File("pending.sql")));
}

// The whole program as a caller sees it.
class RelayProcessTest : public testing::Test {
 protected:
  RelaySandbox relay_;
};

TEST_F(RelayProcessTest, WrongArgumentCountShowsUsageAndExits255) {
  const std::string usage =
      "Wrong number of arguments, correct usage of software is:\n\n"
      "DbRelay.exe \"Query\" [FileName] [TextFileName]\n"
      "    [FileName] is used to digitally sign file if needed\n"
      "    [TextFileName] is used Force local Text file to specific name\n\n"
      "or:\n\n"
      "DbRelay.exe PriTest\n"
      "DbRelay.exe SecTest\n"
      "DbRelay.exe EmailTest\n"
      "just to test the connection to the database\n";
  for (const auto& args : {std::vector<std::string>{},
                           std::vector<std::string>{"PriTest", "a", "b", "c"}}) {
    auto result = relay_.Run(args);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.exit_status, 255);
  }
}

TEST_F(RelayProcessTest, DetailedLogShowsTheJoinedCommandLineFirst) {
  relay_.WriteIni({"DetailedLog=2"});
  auto none = relay_.Run({});
  EXPECT_EQ(none.out.substr(0, relay_.program().size() + 1), relay_.program() + "W");

  auto four = relay_.Run({"x y", "", "\xff", "4"});
  std::string joined = relay_.program() + " x y  \xff 4";
  EXPECT_EQ(four.out.substr(0, joined.size() + 1), joined + "W");
}

TEST_F(RelayProcessTest, NoDetailedLogMeansOnlyTheUsage) {
  relay_.WriteIni({"DetailedLog=0"});
  auto result = relay_.Run({});
  EXPECT_EQ(result.out.rfind("Wrong number of arguments", 0), 0u);
}

TEST_F(RelayProcessTest, UnknownLocaleFallsBackInsteadOfFailing) {
  testing_support::RunOptions options;
  options.env["LC_ALL"] = "xx_NOPE.UTF-8";
  auto result = relay_.Run({}, options);
  EXPECT_EQ(result.out.rfind("Wrong number of arguments", 0), 0u);
  EXPECT_EQ(result.exit_status, 255);
}

TEST(RelayProcessNameTest, ReadsTheSettingsFileNamedAfterItself) {
  RelaySandbox other("Relay2");
  testing_support::WriteFileBytes(other.File("DbRelay.ini"), "[General]\r\nDetailedLog=1\r\n");
  EXPECT_EQ(other.Run({}).out.rfind("Wrong number", 0), 0u);  // DbRelay.ini is not its file
  other.WriteIni({"DetailedLog=1"});
  EXPECT_EQ(other.Run({}).out.rfind(other.program(), 0), 0u);
}

// A folder in place of the settings file is named with its errno before anything else; the run
// then goes on with the defaults, which can deliver nothing, so it still fails. (A file that
// cannot be read is provoked through the settings seam: settings_read_seam_test.)
TEST(UnreadableSettingsTest, AFolderIsNamedFirstAndTheRunStillFails) {
  RelaySandbox relay;
  std::filesystem::create_directory(relay.ini_path());
  testing_support::RunOptions options;
  options.env["DBRELAY_REPORT_PAUSE_MS"] = "0";
  auto result = testing_support::RunProcess(
      {relay.program(), "UPDATE Docs SET Signed=1 WHERE Id=7"}, options);
  const std::string first =
      "Unable to read settings file: " + relay.ini_path() + "\n\nError returned = 21\n";
  EXPECT_EQ(result.out.substr(0, first.size()), first) << result.out;
  EXPECT_GT(result.out.size(), first.size());  // the failed delivery is reported after it
  EXPECT_EQ(result.exit_status, 255);
}

}  // namespace
