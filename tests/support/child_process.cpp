#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {

std::vector<std::string> ChildEnvironment(const RunOptions& options) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const std::string& name : options.unset_env) vars.erase(name);
  for (const auto& [name, value] : options.env) vars[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
  return out;
}

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Where the child's stdout goes; the pipe's write end is out_pipe[1].
void AddOutput(posix_spawn_file_actions_t* actions, const ChildOptions& options,
               const int out_pipe[2]) {
  if (options.out == ChildOptions::Out::kPipe) {
    posix_spawn_file_actions_adddup2(actions, out_pipe[1], STDOUT_FILENO);
  } else {
    const char* out =
        options.out == ChildOptions::Out::kFile ? options.out_file.c_str() : "/dev/null";
    posix_spawn_file_actions_addopen(actions, STDOUT_FILENO, out, O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
  int out_pipe[2] = {-1, -1};
  int in_pipe[2] = {-1, -1};
  if ((options.out == ChildOptions::Out::kPipe && ::pipe2(out_pipe, O_CLOEXEC) != 0) ||
      (options.run.stdin_text && ::pipe2(in_pipe, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.run.stdin_text) {
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  AddOutput(&actions, options, out_pipe);
  if (options.quiet_stderr) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  int gone_pipe[2] = {-1, -1};
  if (options.run.stdout_reader_gone) {
    if (::pipe2(gone_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    ::close(gone_pipe[0]);
    posix_spawn_file_actions_adddup2(&actions, gone_pipe[1], STDOUT_FILENO);
  }
  for (int fd : options.run.closed_descriptors) posix_spawn_file_actions_addclose(&actions, fd);
  if (options.run.working_folder) {
    posix_spawn_file_actions_addchdir_np(&actions, options.run.working_folder->c_str());
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (options.own_session) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  std::vector<std::string> arg_strings = argv;
  std::vector<std::string> env_strings = ChildEnvironment(options.run);
  std::vector<char*> args = Pointers(arg_strings);
  std::vector<char*> envp = Pointers(env_strings);
  auto spawn = options.search_path ? posix_spawnp : posix_spawn;
  pid_t pid = 0;
  int rc = spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (int fd : {out_pipe[1], in_pipe[0], gone_pipe[1]}) {
    if (fd >= 0) ::close(fd);
  }
  if (rc != 0) {
    for (int fd : {out_pipe[0], in_pipe[1]}) {
      if (fd >= 0) ::close(fd);
    }
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  pid_ = pid;
  out_fd_ = out_pipe[0];
  if (options.run.stdin_text) {
    // Small inputs only: written before reading, which is enough for the tests.
    (void)!::write(in_pipe[1], options.run.stdin_text->data(), options.run.stdin_text->size());
    ::close(in_pipe[1]);
  }
}

ChildProcess::~ChildProcess() {
  if (out_fd_ >= 0) ::close(out_fd_);
  if (!reaped_) {
    Kill(SIGKILL);
    Wait();
  }
}

void ChildProcess::Kill(int signal) const {
  if (!reaped_) ::kill(pid_, signal);  // a zombie keeps its pid until reaped: never another's
}

void ChildProcess::Reaped(int status) {
  reaped_ = true;
  if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
}

bool ChildProcess::Ended() {
  if (reaped_) return true;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
  Reaped(status);
  return true;
}

std::string ChildProcess::ReadOutput() {
  std::string out;
  char buffer[65536];
  while (out_fd_ >= 0) {
    ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(out_fd_);
      out_fd_ = -1;
    }
  }
  return out;
}

ProcessResult ChildProcess::Wait() {
  if (!reaped_) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    Reaped(status);
  }
  return result_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options) {
  auto start = std::chrono::steady_clock::now();
  ChildOptions child_options;
  child_options.run = options;
  ChildProcess child(argv, child_options);
  auto deadline = start + std::chrono::milliseconds(
                              static_cast<long long>(options.timeout_seconds * 1000));
  std::string out;
  bool timed_out = false;
  char buffer[65536];
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      timed_out = true;
      child.Kill(SIGKILL);
      break;
    }
    int wait_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
    pollfd pfd{child.out_fd(), POLLIN, 0};
    int ready = ::poll(&pfd, 1, wait_ms);
    if (ready <= 0) continue;
    ssize_t n = ::read(child.out_fd(), buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  // stdout may have closed long before the end (a process started without it): the time-out
  // still holds.
  while (!timed_out && !child.Ended()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      timed_out = true;
      child.Kill(SIGKILL);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ProcessResult result = child.Wait();
  result.out = std::move(out);
  result.timed_out = timed_out;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace testing_support
