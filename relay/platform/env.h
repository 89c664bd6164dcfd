#pragma once
// Env is DbRelay's seam to the operating system: everything the relay asks of the platform
// (its own path, the console, sleeping, processes, files, the clock, the message box) goes through
// here, and only the posix_*.cpp files beside this header include platform headers. The one
// exception is the settings file, which DbRelay shares with the editor: it is read through
// settings::SettingsFiles (settings/settings_files.h), a seam of its own with the same idiom.
//
// Code calls CurrentEnv(). Tests derive from EnvWrapper, override the one call they need to fail,
// and install it with ScopedEnvOverride.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "relay/common/status.h"

namespace dbrelay {

// A moment of the local clock (the time zone of the machine), to the millisecond.
struct LocalTime {
  int year = 0;
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60
  int millisecond = 0;  // 0-999
};

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env();

  // The environment backed by the operating system. Lives for the whole process.
  static Env* Default();

  // Process start-up (posix_env.cpp).

  // Readies the process for the state its starter left it in, before anything opens a file or a
  // socket: each of descriptors 0, 1 and 2 that is closed is opened on /dev/null, so that no file
  // or database connection opened later takes its number and receives the console output; and
  // SIGPIPE is ignored, so a console write to a pipe whose reader has gone fails (undetected, like
  // any console write) instead of ending the run. Returns ok or the errno of the failed step.
  virtual Status PrepareProcess() = 0;

  // Full path of the running executable as the system reported it on the first call, which the
  // program makes at start; empty when it could not be found. Later calls return the same path,
  // so a run whose file is replaced by an upgrade while it waits still finds its settings.
  virtual std::string ExecutablePath() = 0;

  // Writes text to standard output exactly as given (no formatting, no added line end) and
  // flushes it, so a caller reading the pipe sees each report before the pause that follows it.
  virtual void WriteConsole(std::string_view text) = 0;

  // Blocks the calling thread for at least ms milliseconds (0 or less returns at once).
  virtual void SleepForMilliseconds(int ms) = 0;

  // The value of an environment variable, or nullopt when it is not set.
  virtual std::optional<std::string> GetVariable(const char* name) = 0;

  // Shows text in a modal box captioned "DB Relay" with a single OK button and waits until it is
  // dismissed. Returns false, having shown nothing, when no box can be shown (no display, the GUI
  // module missing), so the caller can take the console path and no report is lost.
  virtual bool ShowNotice(const std::string& text) = 0;

  // Modules (posix_modules.cpp).

  // The address of symbol in the module file_name, loaded on first use from the folder of the
  // program, else from the folder the build put it in; nullptr when neither can be loaded. Large
  // libraries (Qt, libcurl) live in such modules so that a run which needs none of them does not
  // pay for loading them.
  virtual void* LoadModuleSymbol(const std::string& file_name, const char* symbol) = 0;

  // Clock (posix_clock.cpp).

  // The local time now.
  virtual LocalTime GetLocalTime() = 0;

  // Processes (posix_process.cpp). Every call returns ok or the errno of the failed system call.

  // Starts the program argv[0] with argv as its arguments, DbRelay's environment and current
  // folder, no shell, stdin and stdout on /dev/null, stderr shared. An absolute argv[0] is used as
  // it stands; a bare or relative one is looked for in the folder of DbRelay's own executable
  // first, then in each folder of PATH (the order in which Windows starts a program named without
  // a folder), never against the current folder alone. A program that cannot be started
  // (missing, not executable, empty name) fails here, not later.
  virtual Status StartProcess(const std::vector<std::string>& argv, int* pid) = 0;

  // Waits, without a time-out, until the process started by StartProcess ends. exit_code is its
  // exit status, or 128 + the signal number when a signal ended it.
  virtual Status WaitForProcess(int pid, int* exit_code) = 0;

  // Files (posix_files.cpp). Every call returns ok or the errno of the failed system call;
  // descriptors are never inherited by child processes.

  // Opens the regular file at path for reading and writing, every write going to the end of the
  // file. Creates it when it is missing, mode 0660 before the umask (created then tells that this
  // call made it), and never truncates it. Never writes through a symbolic link at the last
  // component of path and never waits in the open: ELOOP for a link there (dangling or not),
  // EISDIR for a folder, EINVAL for a FIFO, a device or a socket.
  virtual Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) = 0;

  // Opens the regular file at path as OpenOrCreateFile does, but never creates it: ENOENT when it
  // is missing.
  virtual Status OpenExistingFile(const std::string& path, int* fd) = 0;

  // Reads up to length bytes from offset into data; data is shorter only where the file ends.
  virtual Status ReadFileAt(int fd, uint64_t offset, size_t length, std::string* data) = 0;

  // Takes the exclusive advisory lock (flock) of the open file, waiting for up to timeout_ms while
  // another open file description holds it; EWOULDBLOCK when the wait runs out. Closing the
  // descriptor releases the lock.
  virtual Status LockFileExclusive(int fd, int timeout_ms) = 0;

  // Gives up the lock of LockFileExclusive while the descriptor stays open.
  virtual Status UnlockFile(int fd) = 0;

  // Whether path names the very file open at fd now (false when the file was removed or replaced).
  virtual Status IsFileAtPath(int fd, const std::string& path, bool* same) = 0;

  virtual Status GetFileSize(int fd, uint64_t* size) = 0;

  // One write call: written is set to what the system took, which may be less than data.
  virtual Status WriteFile(int fd, std::string_view data, size_t* written) = 0;

  // Makes the file's data and size durable (fsync).
  virtual Status SyncFile(int fd) = 0;

  virtual Status TruncateFile(int fd, uint64_t size) = 0;
  virtual Status CloseFile(int fd) = 0;

  // A mark kept with the open file itself (an extended attribute) that says an append is under way:
  // the size the file had before it and the size it has with the whole record. It outlives a
  // process killed in the middle of its write. ReadAppendMark sets present to false when there is
  // none; ENOTSUP (or EOPNOTSUPP) when the file system keeps no such marks.
  virtual Status ReadAppendMark(int fd, bool* present, uint64_t* from, uint64_t* to) = 0;
  virtual Status SetAppendMark(int fd, uint64_t from, uint64_t to) = 0;
  virtual Status ClearAppendMark(int fd) = 0;

  // A note kept with the open text file itself (an extended attribute, made durable by the file's
  // own fsync), which holds the lines of its boundaries file written since that file was last
  // synced, so that one fsync of the text file makes a record and its boundaries durable.
  // ReadBoundariesNote gives an empty note when there is none; ENOTSUP (or EOPNOTSUPP) where the
  // file system keeps no such notes. Setting an empty note removes it.
  virtual Status ReadBoundariesNote(int fd, std::string* note) = 0;
  virtual Status SetBoundariesNote(int fd, std::string_view note) = 0;

  // Makes the entries of folder durable, so a file created or renamed in it stays after a crash.
  virtual Status SyncFolder(const std::string& folder) = 0;

  // Creates a new empty file with a unique name in the folder of path, named after path, and
  // returns its name; the caller renames or removes it.
  virtual Status CreateTempFileBeside(const std::string& path, std::string* temp_path) = 0;

  // Replaces the contents of to with those of from, giving to the permissions of from.
  virtual Status CopyFileContents(const std::string& from, const std::string& to) = 0;

  // Atomically puts from in place of to, replacing a file already there.
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  virtual Status RemoveFile(const std::string& path) = 0;

  // The names in folder (not "." and ".."), in no particular order.
  virtual Status ListFolder(const std::string& folder, std::vector<std::string>* names) = 0;

  // System (posix_env.cpp).

  // count bytes from the system's random source, for identifiers no other host may make.
  virtual Status RandomBytes(size_t count, std::string* bytes) = 0;

  // The name of this machine.
  virtual Status GetHostName(std::string* name) = 0;
};

// Forwards every call to another Env; tests override single calls.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status PrepareProcess() override { return target_->PrepareProcess(); }
  std::string ExecutablePath() override { return target_->ExecutablePath(); }
  void WriteConsole(std::string_view text) override { target_->WriteConsole(text); }
  void SleepForMilliseconds(int ms) override { target_->SleepForMilliseconds(ms); }
  std::optional<std::string> GetVariable(const char* name) override {
    return target_->GetVariable(name);
  }
  bool ShowNotice(const std::string& text) override { return target_->ShowNotice(text); }
  void* LoadModuleSymbol(const std::string& file_name, const char* symbol) override {
    return target_->LoadModuleSymbol(file_name, symbol);
  }
  LocalTime GetLocalTime() override { return target_->GetLocalTime(); }
  Status StartProcess(const std::vector<std::string>& argv, int* pid) override {
    return target_->StartProcess(argv, pid);
  }
  Status WaitForProcess(int pid, int* exit_code) override {
    return target_->WaitForProcess(pid, exit_code);
  }
  Status OpenOrCreateFile(const std::string& path, int* fd, bool* created) override {
    return target_->OpenOrCreateFile(path, fd, created);
  }
  Status OpenExistingFile(const std::string& path, int* fd) override {
    return target_->OpenExistingFile(path, fd);
  }
  Status ReadFileAt(int fd, uint64_t offset, size_t length, std::string* data) override {
    return target_->ReadFileAt(fd, offset, length, data);
  }
  Status LockFileExclusive(int fd, int timeout_ms) override {
    return target_->LockFileExclusive(fd, timeout_ms);
  }
  Status UnlockFile(int fd) override { return target_->UnlockFile(fd); }
  Status IsFileAtPath(int fd, const std::string& path, bool* same) override {
    return target_->IsFileAtPath(fd, path, same);
  }
  Status GetFileSize(int fd, uint64_t* size) override { return target_->GetFileSize(fd, size); }
  Status WriteFile(int fd, std::string_view data, size_t* written) override {
    return target_->WriteFile(fd, data, written);
  }
  Status SyncFile(int fd) override { return target_->SyncFile(fd); }
  Status TruncateFile(int fd, uint64_t size) override { return target_->TruncateFile(fd, size); }
  Status CloseFile(int fd) override { return target_->CloseFile(fd); }
  Status ReadAppendMark(int fd, bool* present, uint64_t* from, uint64_t* to) override {
    return target_->ReadAppendMark(fd, present, from, to);
  }
  Status SetAppendMark(int fd, uint64_t from, uint64_t to) override {
    return target_->SetAppendMark(fd, from, to);
  }
  Status ClearAppendMark(int fd) override { return target_->ClearAppendMark(fd); }
  Status ReadBoundariesNote(int fd, std::string* note) override {
    return target_->ReadBoundariesNote(fd, note);
  }
  Status SetBoundariesNote(int fd, std::string_view note) override {
    return target_->SetBoundariesNote(fd, note);
  }
  Status SyncFolder(const std::string& folder) override { return target_->SyncFolder(folder); }
  Status CreateTempFileBeside(const std::string& path, std::string* temp_path) override {
    return target_->CreateTempFileBeside(path, temp_path);
  }
  Status CopyFileContents(const std::string& from, const std::string& to) override {
    return target_->CopyFileContents(from, to);
  }
  Status RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  Status RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }
  Status ListFolder(const std::string& folder, std::vector<std::string>* names) override {
    return target_->ListFolder(folder, names);
  }
  Status RandomBytes(size_t count, std::string* bytes) override {
    return target_->RandomBytes(count, bytes);
  }
  Status GetHostName(std::string* name) override { return target_->GetHostName(name); }

 private:
  Env* target_;
};

// The Env in use: Default() unless a test has installed another.
Env* CurrentEnv();

// Writes all of data at the file's position through env, going on after short writes; EIO when
// a write takes nothing.
[[nodiscard]] Status WriteAll(Env* env, int fd, std::string_view data);

// Installs env as CurrentEnv() for the lifetime of this object (tests only; single-threaded).
class ScopedEnvOverride {
 public:
  explicit ScopedEnvOverride(Env* env);
  ~ScopedEnvOverride();
  ScopedEnvOverride(const ScopedEnvOverride&) = delete;
  ScopedEnvOverride& operator=(const ScopedEnvOverride&) = delete;

 private:
  Env* previous_;
};

}  // namespace dbrelay
