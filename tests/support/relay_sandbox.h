#pragma once
// Runs the real DbRelay as a process in a temporary folder of its own: the executable is copied
// there and its settings file is written beside it, as on a deployed machine.

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace testing_support {

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
