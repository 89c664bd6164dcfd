#pragma once
// Runs relay code inside a test process as if it were DbRelay in a folder of its own: the settings
// file is <folder>/DbRelay.ini, the console is recorded, pauses are recorded instead of slept,
// message boxes are recorded (and shown only when the test says one can be), and the clock can be
// fixed. Everything else is the real system.

#include <optional>
#include <string>
#include <vector>

#include "relay/platform/env.h"

namespace testing_support {

class InProcessEnv : public dbrelay::EnvWrapper {
 public:
  explicit InProcessEnv(const std::string& folder)
      : EnvWrapper(dbrelay::Env::Default()), exe_(folder + "/DbRelay") {}

  std::string ExecutablePath() override { return exe_; }
  void WriteConsole(std::string_view text) override { console += text; }
  void SleepForMilliseconds(int ms) override { pauses.push_back(ms); }
  bool ShowNotice(const std::string& text) override {
    notices.push_back(text);
    return notice_can_show;
  }
  dbrelay::LocalTime GetLocalTime() override {
    return local_time ? *local_time : EnvWrapper::GetLocalTime();
  }

  std::string console;
  std::vector<int> pauses;
  std::vector<std::string> notices;
  bool notice_can_show = false;
  std::optional<dbrelay::LocalTime> local_time;

 private:
  std::string exe_;
};

}  // namespace testing_support
