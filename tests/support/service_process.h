#pragma once
// A background service a test starts (an SMTP server, Xvfb): started with its stdout on a pipe,
// it tells on its first line of output that it is ready (its port, its display number).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace testing_support {

class ServiceProcess {
 public:
  // Starts argv (argv[0] searched on PATH) with stdin and stderr on /dev/null and waits up to
  // timeout_seconds for its first line. Throws std::runtime_error, having killed the process, when
  // it cannot be started or says nothing.
  ServiceProcess(const std::vector<std::string>& argv, double timeout_seconds = 15);
  // For a daemon that says nothing when it is ready (Postfix's master, dovecot): starts argv in a
  // session of its own, so that a daemon which signals its process group on the way down reaches
  // only its own children, with stdin, stdout and stderr on /dev/null, and polls ready() until it
  // returns true. Throws std::runtime_error, having killed the process, when it cannot be started,
  // ends, or is not ready within timeout_seconds.
  ServiceProcess(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                 double timeout_seconds = 15);
  // SIGTERM, then SIGKILL after 5 s, so a tear-down never hangs.
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  const std::string& first_line() const { return first_line_; }

 private:
  std::unique_ptr<ChildProcess> child_;
  std::string first_line_;
};

// The full path of a program found on PATH, or name itself when it is not there.
std::string FindOnPath(const std::string& name);

}  // namespace testing_support
