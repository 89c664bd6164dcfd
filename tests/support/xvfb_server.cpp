#include "tests/support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testing_support {

XvfbServer::XvfbServer() {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  // -displayfd lets the server pick a free display and tell us which.
  std::string fd_text = std::to_string(fds[1]);
  std::vector<std::string> argv = {"Xvfb", "-displayfd", fd_text, "-nolisten", "tcp",
                                   "-screen", "0", "1280x1024x24", "-noreset"};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw std::runtime_error("cannot start Xvfb");
  }
  pid_ = pid;
  std::string number;
  pollfd pfd{fds[0], POLLIN, 0};
  char c = 0;
  while (::poll(&pfd, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("Xvfb did not report a display");
  }
  display_ = ":" + number;
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

}  // namespace testing_support
