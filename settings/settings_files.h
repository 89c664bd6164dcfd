#pragma once
// SettingsFiles is the seam between the settings code and the file system: the reader, the writer
// and the editor's save reach files only through CurrentSettingsFiles(), and only
// posix_settings_files.cpp makes file-system calls. Both programs use the POSIX default; tests
// derive from SettingsFilesWrapper, override the one call they need to fail, and install it with
// ScopedSettingsFilesOverride.

#include <cstddef>
#include <string>
#include <string_view>

namespace settings {

// A settings file holds a few dozen short lines; anything larger is no settings file, and reading
// it at every decision would make every run slow.
inline constexpr size_t kMaxSettingsFileSize = 1024 * 1024;

class SettingsFiles {
 public:
  SettingsFiles() = default;
  SettingsFiles(const SettingsFiles&) = delete;
  SettingsFiles& operator=(const SettingsFiles&) = delete;
  virtual ~SettingsFiles() = default;

  // The bytes of the settings file at path (links followed). Only a regular file is read, and the
  // open never waits: a FIFO, a device or a socket in its place is refused at once. Returns 0,
  // ENOENT when there is no file, EISDIR for a folder, EINVAL for anything else that is no regular
  // file, EFBIG for a file larger than kMaxSettingsFileSize, or the errno of the failed open or
  // read; *bytes is then empty.
  virtual int ReadFile(const std::string& path, std::string* bytes) = 0;

  // Writes contents to a temporary file in the folder of path, fsyncs it, renames it over path and
  // fsyncs the folder. An existing file's mode (and, where permitted, owner) is kept; a new file
  // gets new_file_mode. A symbolic link is written through: the file it finally names is replaced
  // (or, when missing, created) in that file's folder, and the link itself is left as it is.
  // Returns 0 or the errno of the failure; on failure path is untouched.
  virtual int ReplaceFile(const std::string& path, std::string_view contents,
                          unsigned new_file_mode) = 0;

  // 0 when there is no file at path, or when the user may read and write it and its mode bits do
  // not make it read-only (root may write anything, but a file its owner made read-only is not
  // to be overwritten); EACCES or the errno of the check otherwise.
  virtual int CheckReadWrite(const std::string& path) = 0;

  // Full path of the running executable as the system reports it; empty when it cannot be found.
  virtual std::string ExecutablePath() = 0;
};

// Forwards every call to another SettingsFiles; tests override single calls.
class SettingsFilesWrapper : public SettingsFiles {
 public:
  explicit SettingsFilesWrapper(SettingsFiles* target) : target_(target) {}
  SettingsFiles* target() const { return target_; }

  int ReadFile(const std::string& path, std::string* bytes) override {
    return target_->ReadFile(path, bytes);
  }
  int ReplaceFile(const std::string& path, std::string_view contents,
                  unsigned new_file_mode) override {
    return target_->ReplaceFile(path, contents, new_file_mode);
  }
  int CheckReadWrite(const std::string& path) override { return target_->CheckReadWrite(path); }
  std::string ExecutablePath() override { return target_->ExecutablePath(); }

 private:
  SettingsFiles* target_;
};

// The POSIX implementation. Lives for the whole process.
SettingsFiles* PosixSettingsFiles();

// The SettingsFiles in use: PosixSettingsFiles() unless a test has installed another.
SettingsFiles* CurrentSettingsFiles();

// Installs files as CurrentSettingsFiles() for the lifetime of this object (tests only;
// single-threaded).
class ScopedSettingsFilesOverride {
 public:
  explicit ScopedSettingsFilesOverride(SettingsFiles* files);
  ~ScopedSettingsFilesOverride();
  ScopedSettingsFilesOverride(const ScopedSettingsFilesOverride&) = delete;
  ScopedSettingsFilesOverride& operator=(const ScopedSettingsFilesOverride&) = delete;

 private:
  SettingsFiles* previous_;
};

}  // namespace settings
