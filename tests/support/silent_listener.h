#pragma once
// A TCP listener on a free loopback port that accepts every connection and never sends or reads a
// byte: the peer that hangs (a database or mail server stuck after accept). Connections stay open
// until the object goes.

#include <atomic>
#include <thread>
#include <vector>

namespace testing_support {

class SilentListener {
 public:
  SilentListener();  // throws std::runtime_error when the socket cannot be set up
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int port() const { return port_; }
  // How many connections it has accepted so far.
  int Connections() const { return accepted_.load(); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;  // owned by the accepting thread until it is joined
  std::thread thread_;
};

}  // namespace testing_support
