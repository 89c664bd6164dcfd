// A settings file that is there but cannot be read, provoked through the settings seam: DbRelay
// names it first with its error number, and the run goes on with the defaults.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "relay/run/run_modes.h"
#include "settings/settings_files.h"
#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::InProcessEnv;
using testing_support::TempDir;

// Fails every read of one file with error.
class UnreadableFile : public settings::SettingsFilesWrapper {
 public:
  UnreadableFile(std::string path, int error)
      : SettingsFilesWrapper(settings::PosixSettingsFiles()), path_(std::move(path)),
        error_(error) {}
  int ReadFile(const std::string& path, std::string* bytes) override {
    return path == path_ ? error_ : target()->ReadFile(path, bytes);
  }

 private:
  std::string path_;
  int error_;
};

class UnreadableSettingsSeamTest : public testing::TestWithParam<int> {};

TEST_P(UnreadableSettingsSeamTest, IsNamedFirstAndTheRunGoesOnWithTheDefaults) {
  TempDir dir;
  const std::string ini = dir.File("DbRelay.ini");
  testing_support::WriteFileBytes(
      ini, "[General]\r\nSecDBType=3\r\nSecLocalTextFile=" + dir.File("pending.sql") + "\r\n");
  InProcessEnv env(dir.path());
  dbrelay::ScopedEnvOverride env_installed(&env);
  UnreadableFile files(ini, GetParam());
  settings::ScopedSettingsFilesOverride files_installed(&files);

  const char* argv[] = {"DbRelay", "UPDATE Docs SET Signed=1 WHERE Id=7"};
  int exit_code = dbrelay::RelayMain(2, argv);

  const std::string first = "Unable to read settings file: " + ini +
                            "\n\nError returned = " + std::to_string(GetParam()) + "\n";
  EXPECT_EQ(env.console.substr(0, first.size()), first) << env.console;
  EXPECT_GT(env.console.size(), first.size());  // the failed delivery is reported after it
  EXPECT_EQ(exit_code & 0xFF, 255);
  // The defaults hold no text file: what the unreadable file names is never written.
  EXPECT_FALSE(testing_support::FileExists(dir.File("pending.sql")));
}

INSTANTIATE_TEST_SUITE_P(Errors, UnreadableSettingsSeamTest, testing::Values(EACCES, EIO, EPERM));

}  // namespace
