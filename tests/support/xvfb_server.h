#pragma once
// A private X server (Xvfb) for tests that need a real display. It listens on a local socket only
// and is stopped when the object goes.

#include <string>

#include "tests/support/service_process.h"

namespace testing_support {

class XvfbServer {
 public:
  XvfbServer();  // throws std::runtime_error when Xvfb cannot be started

  // The value for DISPLAY, such as ":3".
  const std::string& display() const { return display_; }

 private:
  // -displayfd makes the server pick a free display and write its number to our pipe.
  ServiceProcess process_{{"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                           "1280x1024x24", "-noreset"}};
  std::string display_;
};

}  // namespace testing_support
