// Starts one command and prints what the benchmark needs of that run, on one line:
//   <wall microseconds> <cpu microseconds> <peak resident KiB> <exit status or 128+signal>
// A small launcher of its own, because a child forked from a large parent (Python) reports the
// parent's resident set as its peak.
// Usage: run_measured [--stdin FILE] -- COMMAND [ARGS...]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>

extern char** environ;

namespace {

long long Microseconds(const timespec& t) { return t.tv_sec * 1000000LL + t.tv_nsec / 1000; }
long long Microseconds(const timeval& t) { return t.tv_sec * 1000000LL + t.tv_usec; }

}  // namespace

int main(int argc, char** argv) {
  const char* stdin_path = "/dev/null";
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--stdin") == 0 && i + 1 < argc) stdin_path = argv[++i];
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: run_measured [--stdin FILE] -- COMMAND [ARGS...]\n");
    return 2;
  }
  char** command = argv + i + 1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdin_path, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, command[0], &actions, nullptr, command, environ);
  if (error != 0) {
    std::fprintf(stderr, "run_measured: cannot start %s: %s\n", command[0], std::strerror(error));
    return 2;
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("run_measured: wait4");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  int outcome = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%lld %lld %ld %d\n", Microseconds(end) - Microseconds(start),
              Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime), usage.ru_maxrss,
              outcome);
  return 0;
}
