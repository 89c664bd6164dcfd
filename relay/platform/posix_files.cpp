// Files of Env: descriptors opened close-on-exec, every failure returned as its errno value.

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "relay/platform/posix_env.h"

namespace dbrelay {

namespace {

int Errno() { return errno != 0 ? errno : EIO; }

// 0 when fd is a regular file, now in blocking mode; EISDIR for a folder, EINVAL for a FIFO, a
// device or a socket, which take no record.
int CheckRegularFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Errno();
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  return ::fcntl(fd, F_SETFL, O_APPEND) == 0 ? 0 : Errno();
}

// Opens the file already at path with flags; only a regular file is kept. O_NONBLOCK: the open of
// a FIFO or a device must not wait; O_NOCTTY: nor adopt a terminal.
Status OpenExistingRegular(const std::string& path, int flags, int* fd) {
  int f = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY);
  if (f < 0) return Status::FromErrno(Errno(), "open");
  int rc = CheckRegularFile(f);
  if (rc != 0) {
    ::close(f);
    return Status::FromErrno(rc, "open");
  }
  *fd = f;
  return Status::OK();
}

}  // namespace

Status PosixEnv::OpenOrCreateFile(const std::string& path, int* fd, bool* created) {
  if (path.empty()) return Status::FromErrno(ENOENT, "open");
  // O_NOFOLLOW: a link at the path, planted or dangling, is refused (ELOOP) and never written
  // through. Parked statements may hold personal data: a new file is for owner and group only.
  constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
  constexpr mode_t kNewFileMode = 0660;
  // O_EXCL first, so created tells the truth even while other processes race to create the file;
  // the loop covers a file removed between the two opens.
  for (int attempt = 0; attempt < 100; ++attempt) {
    int f = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kNewFileMode);
    if (f >= 0) {
      *fd = f;
      *created = true;
      return Status::OK();
    }
    if (errno == EINTR) continue;
    if (errno != EEXIST) return Status::FromErrno(Errno(), "open");
    Status s = OpenExistingRegular(path, kFlags, fd);
    if (s.code() == ENOENT || s.code() == EINTR) continue;
    if (s.ok()) *created = false;
    return s;
  }
  return Status::FromErrno(EAGAIN, "open");
}

Status PosixEnv::OpenExistingFile(const std::string& path, int* fd) {
  if (path.empty()) return Status::FromErrno(ENOENT, "open");
  for (;;) {
    Status s = OpenExistingRegular(path, O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW, fd);
    if (s.code() != EINTR) return s;
  }
}

Status PosixEnv::ReadFileAt(int fd, uint64_t offset, size_t length, std::string* data) {
  data->resize(length);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, data->data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      data->clear();
      return Status::FromErrno(Errno(), "read");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  data->resize(done);
  return Status::OK();
}

Status PosixEnv::LockFileExclusive(int fd, int timeout_ms) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Status::OK();
  if (errno != EWOULDBLOCK && errno != EINTR) return Status::FromErrno(Errno(), "flock");
  if (timeout_ms <= 0) return Status::FromErrno(EWOULDBLOCK, "flock");

  // flock has no time-out of its own. Polling it would let a steady stream of other appenders
  // starve this one, so block in it, and let a timer aimed at this thread interrupt the wait
  // every few milliseconds to look at the clock. The timer repeats, so a tick that comes before
  // the wait has begun cannot leave it blocked for ever.
  struct sigaction wake {}, old_action {};
  wake.sa_handler = [](int) {};
  sigemptyset(&wake.sa_mask);
  wake.sa_flags = 0;  // no SA_RESTART: the tick must end the blocked flock with EINTR
  if (::sigaction(SIGALRM, &wake, &old_action) != 0) return Status::FromErrno(Errno(), "flock");
  sigset_t alarm_only, old_mask;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  ::pthread_sigmask(SIG_UNBLOCK, &alarm_only, &old_mask);

  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = SIGALRM;
  event._sigev_un._tid = static_cast<pid_t>(::syscall(SYS_gettid));
  timer_t timer{};
  int result = 0;
  if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
    result = Errno();
  } else {
    itimerspec tick{};
    tick.it_value.tv_nsec = 20 * 1000 * 1000;
    tick.it_interval.tv_nsec = 20 * 1000 * 1000;
    ::timer_settime(timer, 0, &tick, nullptr);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (::flock(fd, LOCK_EX) == 0) break;
      if (errno != EINTR) {
        result = Errno();
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        // One last try, so a lock freed at the deadline is not given up.
        result = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : EWOULDBLOCK;
        break;
      }
    }
    ::timer_delete(timer);
  }
  // A last tick may still be pending; take it here rather than leave it to the old disposition.
  ::pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
  timespec no_wait{};
  while (::sigtimedwait(&alarm_only, nullptr, &no_wait) == SIGALRM) {
  }
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ::sigaction(SIGALRM, &old_action, nullptr);
  return result == 0 ? Status::OK() : Status::FromErrno(result, "flock");
}

Status PosixEnv::UnlockFile(int fd) {
  return ::flock(fd, LOCK_UN) == 0 ? Status::OK() : Status::FromErrno(Errno(), "flock");
}

Status PosixEnv::IsFileAtPath(int fd, const std::string& path, bool* same) {
  struct stat open_file {
  }, named{};
  if (::fstat(fd, &open_file) != 0) return Status::FromErrno(Errno(), "stat");
  if (::stat(path.c_str(), &named) != 0) {
    if (errno == ENOENT) {
      *same = false;
      return Status::OK();
    }
    return Status::FromErrno(Errno(), "stat");
  }
  *same = open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
  return Status::OK();
}

Status PosixEnv::GetFileSize(int fd, uint64_t* size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Status::FromErrno(Errno(), "fstat");
  *size = static_cast<uint64_t>(st.st_size);
  return Status::OK();
}

Status PosixEnv::WriteFile(int fd, std::string_view data, size_t* written) {
  for (;;) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n >= 0) {
      *written = static_cast<size_t>(n);
      return Status::OK();
    }
    if (errno != EINTR) {
      *written = 0;
      return Status::FromErrno(Errno(), "write");
    }
  }
}

Status PosixEnv::SyncFile(int fd) {
  return ::fsync(fd) == 0 ? Status::OK() : Status::FromErrno(Errno(), "fsync");
}

Status PosixEnv::TruncateFile(int fd, uint64_t size) {
  for (;;) {
    if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return Status::OK();
    if (errno != EINTR) return Status::FromErrno(Errno(), "ftruncate");
  }
}

namespace {
constexpr const char* kAppendMarkName = "user.dbrelay.append";
}  // namespace

Status PosixEnv::ReadAppendMark(int fd, bool* present, uint64_t* from, uint64_t* to) {
  *present = false;
  char text[64];
  ssize_t n = ::fgetxattr(fd, kAppendMarkName, text, sizeof text - 1);
  if (n < 0) {
    if (errno == ENODATA) return Status::OK();
    // A mark too long to be ours.
    return Status::FromErrno(errno == ERANGE ? EINVAL : Errno(), "fgetxattr");
  }
  text[n] = '\0';
  unsigned long long before = 0, after = 0;
  int consumed = 0;
  // A mark this program did not write names no sizes to act on.
  if (std::sscanf(text, "%llu %llu%n", &before, &after, &consumed) != 2 || consumed != n ||
      before > after) {
    return Status::FromErrno(EINVAL, "fgetxattr");
  }
  *present = true;
  *from = before;
  *to = after;
  return Status::OK();
}

Status PosixEnv::SetAppendMark(int fd, uint64_t from, uint64_t to) {
  std::string text = std::to_string(from) + " " + std::to_string(to);
  if (::fsetxattr(fd, kAppendMarkName, text.data(), text.size(), 0) == 0) return Status::OK();
  return Status::FromErrno(Errno(), "fsetxattr");
}

Status PosixEnv::ClearAppendMark(int fd) {
  if (::fremovexattr(fd, kAppendMarkName) == 0 || errno == ENODATA) return Status::OK();
  return Status::FromErrno(Errno(), "fremovexattr");
}

namespace {
constexpr const char* kBoundariesNoteName = "user.dbrelay.boundaries";
}  // namespace

Status PosixEnv::ReadBoundariesNote(int fd, std::string* note) {
  // A note is synced away before it passes about 1 KiB, so one call with room for that reads it;
  // only a larger one needs its size asked for.
  note->resize(2048);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = ::fgetxattr(fd, kBoundariesNoteName, note->data(), note->size());
    if (n >= 0) {
      note->resize(static_cast<size_t>(n));
      return Status::OK();
    }
    if (errno != ERANGE) {
      note->clear();
      if (errno == ENODATA) return Status::OK();
      return Status::FromErrno(Errno(), "fgetxattr");
    }
    ssize_t size = ::fgetxattr(fd, kBoundariesNoteName, nullptr, 0);
    if (size < 0) {
      note->clear();
      if (errno == ENODATA) return Status::OK();
      return Status::FromErrno(Errno(), "fgetxattr");
    }
    // One byte more, so that the call is never the size query; should it grow again meanwhile,
    // ERANGE once more.
    note->resize(static_cast<size_t>(size) + 1);
  }
  note->clear();
  return Status::FromErrno(EAGAIN, "fgetxattr");
}

Status PosixEnv::SetBoundariesNote(int fd, std::string_view note) {
  if (note.empty()) {
    if (::fremovexattr(fd, kBoundariesNoteName) == 0 || errno == ENODATA) return Status::OK();
    return Status::FromErrno(Errno(), "fremovexattr");
  }
  if (::fsetxattr(fd, kBoundariesNoteName, note.data(), note.size(), 0) == 0) return Status::OK();
  return Status::FromErrno(Errno(), "fsetxattr");
}

Status PosixEnv::CloseFile(int fd) {
  // Linux releases the descriptor even when close reports EINTR: never close twice.
  return ::close(fd) == 0 || errno == EINTR ? Status::OK() : Status::FromErrno(Errno(), "close");
}

Status PosixEnv::SyncFolder(const std::string& folder) {
  int f = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (f < 0) return Status::FromErrno(Errno(), "fsync folder");
  int rc = ::fsync(f) == 0 ? 0 : Errno();
  ::close(f);
  return rc == 0 ? Status::OK() : Status::FromErrno(rc, "fsync folder");
}

Status PosixEnv::CreateTempFileBeside(const std::string& path, std::string* temp_path) {
  std::string name = path + ".tmp-XXXXXX";
  int f = ::mkostemp(name.data(), O_CLOEXEC);
  if (f < 0) return Status::FromErrno(Errno(), "mkostemp");
  ::close(f);
  *temp_path = name;
  return Status::OK();
}

Status PosixEnv::CopyFileContents(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  if (!error) return Status::OK();
  const bool system_error =
      error.category() == std::generic_category() || error.category() == std::system_category();
  return Status::FromErrno(system_error ? error.value() : EIO, "copy_file");
}

Status PosixEnv::RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return Status::OK();
  return Status::FromErrno(Errno(), "rename");
}

Status PosixEnv::RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? Status::OK() : Status::FromErrno(Errno(), "unlink");
}

Status PosixEnv::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return Status::FromErrno(Errno(), "opendir");
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(std::move(name));
    errno = 0;
  }
  int rc = errno;
  ::closedir(dir);
  return rc == 0 ? Status::OK() : Status::FromErrno(rc, "readdir");
}

}  // namespace dbrelay
