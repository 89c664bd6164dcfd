#include "tests/support/relay_sandbox.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testing_support {

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
