// The operating-system side of Env. Each concern has its own posix_*.cpp file; this one holds the
// process-wide object and the basic services.

#include "relay/platform/posix_env.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "settings/settings_files.h"

namespace dbrelay {

namespace {

// Opens fd on /dev/null when it is closed; an open descriptor is left as it is.
int OpenWhenClosed(int fd) {
  if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) return 0;
  int opened = ::open("/dev/null", (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_NOCTTY);
  if (opened < 0) return errno;
  if (opened == fd) return 0;  // the usual case: the lowest free number is fd itself
  int rc = ::dup2(opened, fd) < 0 ? errno : 0;
  ::close(opened);
  return rc;
}

}  // namespace

Status PosixEnv::PrepareProcess() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (int rc = OpenWhenClosed(fd); rc != 0) return Status::FromErrno(rc, "open /dev/null");
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  // A child starts with default dispositions again (StartProcess resets them).
  if (::sigaction(SIGPIPE, &ignore, nullptr) == 0) return Status::OK();
  return Status::FromErrno(errno, "sigaction");
}

std::string PosixEnv::ExecutablePath() {
  // Once: after an upgrade has replaced the file, /proc/self/exe names "<path> (deleted)".
  if (!executable_path_) executable_path_ = settings::PosixSettingsFiles()->ExecutablePath();
  return *executable_path_;
}

void PosixEnv::WriteConsole(std::string_view text) {
  // Straight to the descriptor: no stdio buffer can hold a report back or reorder it.
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed or broken stdout is not detected, like the console it stands in for
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void PosixEnv::SleepForMilliseconds(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<std::string> PosixEnv::GetVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: reports may run during exit
  return env;
}

Status PosixEnv::RandomBytes(size_t count, std::string* bytes) {
  bytes->resize(count);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::getrandom(bytes->data() + done, count - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::FromErrno(errno != 0 ? errno : EIO, "getrandom");
    }
    done += static_cast<size_t>(n);
  }
  return Status::OK();
}

Status PosixEnv::GetHostName(std::string* name) {
  char buffer[HOST_NAME_MAX + 1] = {0};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) {
    return Status::FromErrno(errno != 0 ? errno : EIO, "gethostname");
  }
  *name = buffer;
  return Status::OK();
}

}  // namespace dbrelay
