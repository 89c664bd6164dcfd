#include "tests/support/service_process.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testing_support {

ServiceProcess::ServiceProcess(const std::vector<std::string>& argv, double timeout_seconds) {
  ChildOptions options;
  options.search_path = true;
  options.quiet_stderr = true;
  child_ = std::make_unique<ChildProcess>(argv, options);
  pollfd pfd{child_->out_fd(), POLLIN, 0};
  char c = 0;
  int wait_ms = static_cast<int>(timeout_seconds * 1000);
  while (::poll(&pfd, 1, wait_ms) > 0 && ::read(child_->out_fd(), &c, 1) == 1 && c != '\n') {
    first_line_ += c;
  }
  if (first_line_.empty()) {
    child_.reset();  // killed and reaped
    throw std::runtime_error(argv[0] + " did not say it was ready");
  }
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& argv,
                               const std::function<bool()>& ready, double timeout_seconds) {
  ChildOptions options;
  options.search_path = true;
  options.own_session = true;
  options.out = ChildOptions::Out::kNull;
  options.quiet_stderr = true;
  child_ = std::make_unique<ChildProcess>(argv, options);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(timeout_seconds * 1000));
  for (;;) {
    if (ready()) return;
    bool ended = child_->Ended();
    if (ended || std::chrono::steady_clock::now() >= deadline) {
      child_.reset();  // killed and reaped
      throw std::runtime_error(argv[0] + (ended ? " ended at start" : " did not become ready"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ServiceProcess::~ServiceProcess() {
  if (!child_) return;
  child_->Kill(SIGTERM);
  for (int i = 0; i < 250; ++i) {
    if (child_->Ended()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // ChildProcess kills what is left with SIGKILL and reaps it.
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

}  // namespace testing_support
