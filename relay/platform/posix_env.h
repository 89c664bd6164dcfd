#pragma once
// The Env of the real system. Its methods live in the posix_*.cpp files of this folder, one file
// per platform concern.

#include "relay/platform/env.h"

namespace dbrelay {

class PosixEnv final : public Env {
 public:
  std::string ExecutablePath() override;
  void WriteConsole(std::string_view text) override;
  void SleepForMilliseconds(int ms) override;
  std::optional<std::string> GetVariable(const char* name) override;
  bool ShowNotice(const std::string& text) override;  // posix_notice.cpp
};

}  // namespace dbrelay
