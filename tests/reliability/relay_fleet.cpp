#include "tests/reliability/relay_fleet.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/odbc_config.h"

namespace reliability {

using testing_support::ProcessResult;
using testing_support::RunOptions;

std::vector<std::string> PrimaryDownToTextFile(const testing_support::RelaySandbox& relay,
                                               const std::string& text_file) {
  return {"PriDBType=2",
          "PriOtherConnStr=Driver=SQLite3;Database=" + relay.File("absent/none.db") + ";NoCreat=1",
          "SecDBType=3", "SecLocalTextFile=" + text_file};
}

RunOptions RelayOptions() {
  RunOptions options;
  options.env = testing_support::OdbcConfig::Get().Env();
  options.env["DBRELAY_REPORT_PAUSE_MS"] = "0";
  options.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  return options;
}

StartedProcess::StartedProcess(const std::vector<std::string>& argv, const RunOptions& options,
                               const std::string& stdout_path) {
  std::vector<std::string> env_strings = testing_support::ChildEnvironment(options);
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const std::string out = stdout_path.empty() ? "/dev/null" : stdout_path;
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  pid_ = pid;
}

StartedProcess::~StartedProcess() {
  if (!reaped_) {
    Kill(SIGKILL);
    Wait();
  }
}

void StartedProcess::Kill(int signal) const {
  if (!reaped_) ::kill(pid_, signal);  // a zombie keeps its pid until reaped: never another's
}

bool StartedProcess::Ended() {
  if (reaped_) return true;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done != pid_) return false;
  reaped_ = true;
  if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  return true;
}

ProcessResult StartedProcess::Wait() {
  if (!reaped_) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  }
  return result_;
}

bool SplitRecords(const std::string& content, std::vector<std::string>* records,
                  size_t* torn_at) {
  records->clear();
  for (size_t start = 0; start < content.size();) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      *torn_at = start;
      return false;
    }
    records->push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return true;
}

namespace {
char PaddingLetter(int number) { return static_cast<char>('a' + number % 26); }
size_t PaddingLength(int number, size_t padding) {
  return padding + static_cast<size_t>(number) * 7919 % 997;
}
}  // namespace

std::string MakeStatement(const std::string& tag, int number, size_t padding) {
  return "INSERT INTO Queue VALUES ('" + tag + "', " + std::to_string(number) + ", '" +
         std::string(PaddingLength(number, padding), PaddingLetter(number)) + "')";
}

bool ParseStatement(const std::string& record, std::string* tag, int* number) {
  static const std::string kHead = "INSERT INTO Queue VALUES ('";
  if (record.rfind(kHead, 0) != 0) return false;
  size_t tag_end = record.find("', ", kHead.size());
  if (tag_end == std::string::npos) return false;
  size_t number_end = record.find(", '", tag_end + 3);
  if (number_end == std::string::npos) return false;
  try {
    *number = std::stoi(record.substr(tag_end + 3, number_end - tag_end - 3));
  } catch (const std::exception&) {
    return false;
  }
  *tag = record.substr(kHead.size(), tag_end - kHead.size());
  // The padding's length is free (it carries the base padding); its letter and its end are not.
  std::string padding = record.substr(number_end + 3);
  if (padding.size() < 2 || padding.substr(padding.size() - 2) != "')") return false;
  padding.resize(padding.size() - 2);
  if (padding.empty()) return false;
  for (char c : padding) {
    if (c != PaddingLetter(*number)) return false;
  }
  return MakeStatement(*tag, *number, padding.size() - (PaddingLength(*number, 0))) == record;
}

}  // namespace reliability
