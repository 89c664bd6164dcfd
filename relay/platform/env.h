#pragma once
// Env is DbRelay's one seam to the operating system: everything the relay asks of the platform
// (its own path, the console, sleeping, processes, files, the clock, the message box) goes through
// here, and only the posix_*.cpp files beside this header include platform headers.
//
// Code calls CurrentEnv(). Tests derive from EnvWrapper, override the one call they need to fail,
// and install it with ScopedEnvOverride.

#include <optional>
#include <string>
#include <string_view>

namespace dbrelay {

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env();

  // The environment backed by the operating system. Lives for the whole process.
  static Env* Default();

  // Full path of the running executable as the system reports it; empty when it cannot be found.
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
};

// Forwards every call to another Env; tests override single calls.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  std::string ExecutablePath() override { return target_->ExecutablePath(); }
  void WriteConsole(std::string_view text) override { target_->WriteConsole(text); }
  void SleepForMilliseconds(int ms) override { target_->SleepForMilliseconds(ms); }
  std::optional<std::string> GetVariable(const char* name) override {
    return target_->GetVariable(name);
  }
  bool ShowNotice(const std::string& text) override { return target_->ShowNotice(text); }

 private:
  Env* target_;
};

// The Env in use: Default() unless a test has installed another.
Env* CurrentEnv();

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
