// Child processes of Env: found as StartProcess says, started with posix_spawn from an argv (no
// shell), waited for without a time-out.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "relay/platform/posix_env.h"

extern char** environ;

namespace dbrelay {

namespace {

// 0 when path is a regular file this process may execute, else why not.
int CheckExecutable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EACCES;
  return ::access(path.c_str(), X_OK) == 0 ? 0 : errno;
}

// The file to execute for name: see StartProcess. 0 and *found, or ENOENT when no candidate
// exists, EACCES when one exists but cannot be executed.
int FindProgram(const std::string& name, const std::string& own_path, std::string* found) {
  if (name.front() == '/') {
    *found = name;
    return CheckExecutable(name);
  }
  std::vector<std::string> folders;
  size_t slash = own_path.rfind('/');
  if (slash != std::string::npos) folders.push_back(own_path.substr(0, slash));
  const char* path_variable = std::getenv("PATH");
  std::string search = path_variable != nullptr ? path_variable : "/bin:/usr/bin";
  for (size_t start = 0;;) {
    size_t colon = search.find(':', start);
    std::string folder = search.substr(start, colon - start);
    folders.push_back(folder.empty() ? "." : folder);  // an empty entry means ".", as for execvp
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  int result = ENOENT;
  for (const std::string& folder : folders) {
    std::string candidate = folder + "/" + name;
    int rc = CheckExecutable(candidate);
    if (rc == 0) {
      *found = candidate;
      return 0;
    }
    if (rc != ENOENT && rc != ENOTDIR) result = rc;
  }
  return result;
}

}  // namespace

Status PosixEnv::StartProcess(const std::vector<std::string>& argv, int* pid) {
  if (argv.empty() || argv[0].empty()) return Status::FromErrno(ENOENT, "posix_spawn");
  std::string program;
  if (int rc = FindProgram(argv[0], ExecutablePath(), &program); rc != 0) {
    return Status::FromErrno(rc, "posix_spawn");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) {
    return Status::FromErrno(rc, "posix_spawn");
  }
  posix_spawnattr_t attr;
  if (int rc = ::posix_spawnattr_init(&attr); rc != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return Status::FromErrno(rc, "posix_spawn");
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
  if (rc == 0) rc = ::posix_spawn(&child, program.c_str(), &actions, &attr, args.data(), environ);
  ::posix_spawnattr_destroy(&attr);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Status::FromErrno(rc, "posix_spawn");
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
