#pragma once
// The one way tests start a program: ChildProcess, with its standard streams where the test wants
// them, killed and reaped when it goes out of scope. RunProcess, RelaySandbox::Run and the
// services are built on it.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  std::string out;     // everything the process wrote to stdout
  int exit_status = -1;  // exit status 0-255, or -1 when it did not exit normally
  int signal = 0;        // the signal that ended it, if any
  bool timed_out = false;
  double seconds = 0;    // wall-clock time of the run
};

struct RunOptions {
  std::map<std::string, std::string> env;  // added to (or replacing) the test's environment
  std::vector<std::string> unset_env;      // removed from it
  double timeout_seconds = 60;              // the process is killed after this
  std::optional<std::string> stdin_text;   // nothing (stdin at its end) when unset
  // Descriptors among 0, 1 and 2 the process starts without, as "program >&-" leaves them.
  std::vector<int> closed_descriptors;
  // stdout is a pipe whose reader has gone before the process starts: every write to it fails
  // with EPIPE and raises SIGPIPE. Nothing is captured then.
  bool stdout_reader_gone = false;
  std::optional<std::string> working_folder;  // the test's own when unset
};

// The test's environment with options' changes applied, as "NAME=value" entries for a child.
std::vector<std::string> ChildEnvironment(const RunOptions& options);

struct ChildOptions {
  RunOptions run;               // all but the time-out, which is the caller's
  bool search_path = false;     // argv[0] without "/" is looked for on PATH
  bool own_session = false;     // setsid: a daemon's signals to its group reach only its own
  enum class Out { kPipe, kNull, kFile } out = Out::kPipe;
  std::string out_file;         // kFile: created or truncated
  bool quiet_stderr = false;    // stderr on /dev/null instead of the test's
};

class ChildProcess {
 public:
  // Throws std::runtime_error when argv cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options);
  ~ChildProcess();  // kills and reaps a process still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  // The read end of stdout (Out::kPipe), or -1; the caller may read it, ReadOutput closes it.
  int out_fd() const { return out_fd_; }
  void Kill(int signal) const;
  // Whether the process has ended, without waiting (reaps it when it has).
  bool Ended();
  // Reads stdout to its end (Out::kPipe) and closes it; returns what was read.
  std::string ReadOutput();
  // Waits for the end: exit_status and signal of the result; out and seconds are the caller's.
  ProcessResult Wait();

 private:
  void Reaped(int status);

  int pid_ = -1;
  int out_fd_ = -1;
  bool reaped_ = false;
  ProcessResult result_;
};

// Starts argv (argv[0] is the path) with stdout captured; stderr is passed through to the test's
// stderr. Never hangs longer than the time-out.
ProcessResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace testing_support
