#include "tests/support/relay_sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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

ProcessResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options) {
  ProcessResult result;
  int out_pipe[2];
  int in_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(in_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  int gone_pipe[2] = {-1, -1};
  if (options.stdout_reader_gone) {
    if (::pipe2(gone_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    ::close(gone_pipe[0]);
    posix_spawn_file_actions_adddup2(&actions, gone_pipe[1], STDOUT_FILENO);
  }
  for (int fd : options.closed_descriptors) posix_spawn_file_actions_addclose(&actions, fd);
  if (options.working_folder) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_folder->c_str());
  }

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_strings = ChildEnvironment(options);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (gone_pipe[1] >= 0) ::close(gone_pipe[1]);
  ::close(out_pipe[1]);
  ::close(in_pipe[0]);
  if (rc != 0) {
    ::close(out_pipe[0]);
    ::close(in_pipe[1]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  if (options.stdin_text) {
    // Small inputs only: written before reading, which is enough for the tests.
    (void)!::write(in_pipe[1], options.stdin_text->data(), options.stdin_text->size());
  }
  ::close(in_pipe[1]);

  auto deadline = start + std::chrono::milliseconds(
                              static_cast<long long>(options.timeout_seconds * 1000));
  char buffer[65536];
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    int wait_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
    pollfd pfd{out_pipe[0], POLLIN, 0};
    int ready = ::poll(&pfd, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    ssize_t n = ::read(out_pipe[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  ::close(out_pipe[0]);
  // stdout may have closed long before the end (a process started without it): the time-out
  // still holds.
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, result.timed_out ? 0 : WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) break;
    if (r == 0 && std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
    } else if (r == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dbrelay-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests make folders read-only to provoke errors; give the owner back the right to clean up.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string BinDir() { return DBRELAY_BIN_DIR; }

void DeployRelay(const std::string& folder, const std::string& program_name) {
  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(BinDir() + "/DbRelay", folder + "/" + program_name, overwrite);
  for (const char* module : {"libdbrelay_notice.so", "libdbrelay_mail.so"}) {
    std::filesystem::copy_file(BinDir() + "/" + module, folder + "/" + module, overwrite);
  }
}

RelaySandbox::RelaySandbox(const std::string& program_name) : program_name_(program_name) {
  DeployRelay(dir_.path(), program_name);
}

void RelaySandbox::WriteIni(const std::vector<std::string>& general_lines) const {
  std::string bytes = "[General]\r\n";
  for (const std::string& line : general_lines) bytes += line + "\r\n";
  WriteIniBytes(bytes);
}

ProcessResult RelaySandbox::Run(const std::vector<std::string>& args, RunOptions options) const {
  std::vector<std::string> argv = {program()};
  argv.insert(argv.end(), args.begin(), args.end());
  options.env.try_emplace("DBRELAY_REPORT_PAUSE_MS", "0");
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (!options.env.count(name)) options.unset_env.push_back(name);
  }
  return RunProcess(argv, options);
}

}  // namespace testing_support
