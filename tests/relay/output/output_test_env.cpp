#include "tests/relay/output/output_test_env.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace output_test {

std::string HelperPath() { return testing_support::BinDir() + "/output_test_helper"; }

PipedProcess StartPiped(const std::vector<std::string>& argv) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  PipedProcess p;
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  p.pid = pid;
  p.out_fd = fds[0];
  return p;
}

std::string FinishPiped(PipedProcess* process) {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(process->out_fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(process->out_fd);
  int status = 0;
  ::waitpid(process->pid, &status, 0);
  return out;
}

}  // namespace output_test
