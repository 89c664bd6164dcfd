#pragma once
// What the output tests share: an Env that reads its settings from a temporary folder, records
// the console and skips the report pause, and a way to start the helper program with its output
// on a pipe.

#include <optional>
#include <string>
#include <vector>

#include "relay/platform/env.h"
#include "tests/support/relay_sandbox.h"

namespace output_test {

class SettingsEnv : public dbrelay::EnvWrapper {
 public:
  // Settings are read from dir/DbRelay.ini.
  explicit SettingsEnv(const std::string& dir)
      : EnvWrapper(dbrelay::Env::Default()), exe_(dir + "/DbRelay") {}
  std::string ExecutablePath() override { return exe_; }
  void WriteConsole(std::string_view text) override { console += text; }
  void SleepForMilliseconds(int) override {}
  dbrelay::LocalTime GetLocalTime() override {
    return local_time ? *local_time : EnvWrapper::GetLocalTime();
  }

  std::string console;
  std::optional<dbrelay::LocalTime> local_time;

 private:
  std::string exe_;
};

// A temporary folder with its own settings file, installed as the Env of the test.
class SettingsFixtureBase {
 public:
  void WriteSettings(const std::string& lines) {
    testing_support::WriteFileBytes(dir_.File("DbRelay.ini"), "[General]\r\n" + lines);
  }

 protected:
  testing_support::TempDir dir_;
  SettingsEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
};

// The helper program beside the test binaries.
std::string HelperPath();

// A started process whose stdout is read through a pipe.
struct PipedProcess {
  int pid = -1;
  int out_fd = -1;
};
PipedProcess StartPiped(const std::vector<std::string>& argv);
// Reads stdout to its end and reaps the process; returns what it wrote.
std::string FinishPiped(PipedProcess* process);

}  // namespace output_test
