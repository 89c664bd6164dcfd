#pragma once
// What the output tests share: the in-process Env, a fixture with its own settings file, and the
// helper program.

#include <string>

#include "relay/platform/env.h"
#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"

namespace output_test {

using testing_support::InProcessEnv;

// A temporary folder with its own settings file, installed as the Env of the test.
class SettingsFixtureBase {
 public:
  void WriteSettings(const std::string& lines) {
    testing_support::WriteFileBytes(dir_.File("DbRelay.ini"), "[General]\r\n" + lines);
  }

 protected:
  testing_support::TempDir dir_;
  InProcessEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
};

// The helper program beside the test binaries.
std::string HelperPath();

}  // namespace output_test
