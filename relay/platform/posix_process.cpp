// Child processes of Env: started with posix_spawnp from an argv (no shell), waited for without a
// time-out.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "relay/platform/posix_env.h"

extern char** environ;

namespace dbrelay {

Status PosixEnv::StartProcess(const std::vector<std::string>& argv, int* pid) {
  if (argv.empty() || argv[0].empty()) return Status::FromErrno(ENOENT, "posix_spawnp");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) {
    return Status::FromErrno(rc, "posix_spawnp");
  }
  posix_spawnattr_t attr;
  if (int rc = ::posix_spawnattr_init(&attr); rc != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return Status::FromErrno(rc, "posix_spawnp");
  }
  // The child has no window: nothing to read, nothing shown. stderr stays ours, so a failing
  // program can still say why.
  int rc = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (rc == 0) {
    rc = ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  // The child starts with default signal handling and nothing blocked, whatever DbRelay inherited.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr, &none);
  if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr, &all);
  if (rc == 0)
    rc = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  if (rc == 0) rc = ::posix_spawnp(&child, args[0], &actions, &attr, args.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Status::FromErrno(rc, "posix_spawnp");
  *pid = child;
  return Status::OK();
}

Status PosixEnv::WaitForProcess(int pid, int* exit_code) {
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, 0);
    if (r == pid) break;
    if (r < 0 && errno == EINTR) continue;
    return Status::FromErrno(r < 0 ? errno : ECHILD, "waitpid");
  }
  if (WIFEXITED(status)) {
    *exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    *exit_code = 128 + WTERMSIG(status);
  } else {
    *exit_code = 128;  // cannot happen without WUNTRACED; never reads as success
  }
  return Status::OK();
}

}  // namespace dbrelay
