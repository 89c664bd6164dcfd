#pragma once
// Runs the real DbRelay as a process in a temporary folder of its own: the executable is copied
// there and its settings file is written beside it, as on a deployed machine.

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
  std::optional<std::string> stdin_text;   // nothing (stdin closed) when unset
  // Descriptors among 0, 1 and 2 the process starts without, as "program >&-" leaves them.
  std::vector<int> closed_descriptors;
  // stdout is a pipe whose reader has gone before the process starts: every write to it fails
  // with EPIPE and raises SIGPIPE. Nothing is captured then.
  bool stdout_reader_gone = false;
  std::optional<std::string> working_folder;  // the test's own when unset
};

// The test's environment with options' changes applied, as "NAME=value" entries for a child.
std::vector<std::string> ChildEnvironment(const RunOptions& options);

// Starts argv (argv[0] is the path) with stdout captured; stderr is passed through to the test's
// stderr. Never hangs longer than the time-out.
ProcessResult RunProcess(const std::vector<std::string>& argv, const RunOptions& options = {});

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);

// The folder of the built programs.
std::string BinDir();

// Deploys the built DbRelay into folder as program_name, with the modules it loads on demand
// beside it, the way it is installed.
void DeployRelay(const std::string& folder, const std::string& program_name = "DbRelay");

class RelaySandbox {
 public:
  // Copies build/bin/DbRelay into a new temporary folder under program_name.
  explicit RelaySandbox(const std::string& program_name = "DbRelay");

  const std::string& dir() const { return dir_.path(); }
  std::string program() const { return dir_.File(program_name_); }
  std::string ini_path() const { return dir_.File(program_name_ + ".ini"); }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Writes the settings file: "[General]\r\n" followed by each line and "\r\n".
  void WriteIni(const std::vector<std::string>& general_lines) const;
  void WriteIniBytes(const std::string& bytes) const { WriteFileBytes(ini_path(), bytes); }

  // Runs the copied program with args. The report pause is 0 unless options set it; no display is
  // offered unless options set one.
  ProcessResult Run(const std::vector<std::string>& args, RunOptions options = {}) const;

 private:
  TempDir dir_;
  std::string program_name_;
};

}  // namespace testing_support
