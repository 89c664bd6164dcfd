#pragma once
// The Env of the real system. Its methods live in the posix_*.cpp files of this folder, one file
// per platform concern.

#include "relay/platform/env.h"

namespace dbrelay {

class PosixEnv final : public Env {
 public:
  Status PrepareProcess() override;
  std::string ExecutablePath() override;
  void WriteConsole(std::string_view text) override;
  void SleepForMilliseconds(int ms) override;
  std::optional<std::string> GetVariable(const char* name) override;
  bool ShowNotice(const std::string& text) override;  // posix_notice.cpp
  void* LoadModuleSymbol(const std::string& file_name, const char* symbol) override;  // posix_modules.cpp

  LocalTime GetLocalTime() override;  // posix_clock.cpp

  // posix_process.cpp
  Status StartProcess(const std::vector<std::string>& argv, int* pid) override;
  Status WaitForProcess(int pid, int* exit_code) override;

  // posix_files.cpp
  Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) override;
  Status OpenExistingFile(const std::string& path, int* fd) override;
  Status ReadFileAt(int fd, uint64_t offset, size_t length, std::string* data) override;
  Status LockFileExclusive(int fd, int timeout_ms) override;
  Status UnlockFile(int fd) override;
  Status IsFileAtPath(int fd, const std::string& path, bool* same) override;
  Status GetFileSize(int fd, uint64_t* size) override;
  Status WriteFile(int fd, std::string_view data, size_t* written) override;
  Status SyncFile(int fd) override;
  Status TruncateFile(int fd, uint64_t size) override;
  Status ReadAppendMark(int fd, bool* present, uint64_t* from, uint64_t* to) override;
  Status SetAppendMark(int fd, uint64_t from, uint64_t to) override;
  Status ClearAppendMark(int fd) override;
  Status ReadBoundariesNote(int fd, std::string* note) override;
  Status SetBoundariesNote(int fd, std::string_view note) override;
  Status CloseFile(int fd) override;
  Status SyncFolder(const std::string& folder) override;
  Status CreateTempFileBeside(const std::string& path, std::string* temp_path) override;
  Status CopyFileContents(const std::string& from, const std::string& to) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status ListFolder(const std::string& folder, std::vector<std::string>* names) override;

  // posix_env.cpp
  Status RandomBytes(size_t count, std::string* bytes) override;
  Status GetHostName(std::string* name) override;

 private:
  std::optional<std::string> executable_path_;  // resolved once, on the first call
};

}  // namespace dbrelay
