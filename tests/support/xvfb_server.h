#pragma once
// A private X server (Xvfb) for tests that need a real display. It listens on a local socket only
// and is stopped when the object goes.

#include <string>

namespace testing_support {

class XvfbServer {
 public:
  XvfbServer();  // throws std::runtime_error when Xvfb cannot be started
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // The value for DISPLAY, such as ":3".
  const std::string& display() const { return display_; }

 private:
  int pid_ = -1;
  std::string display_;
};

}  // namespace testing_support
