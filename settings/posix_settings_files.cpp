#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "settings/file_path.h"
#include "settings/settings_files.h"

namespace settings {

namespace {

// Follows path through every symbolic link to the file a write must replace, so that a link (say
// DbRelay.ini beside the program pointing into /etc) stays a link and its target is replaced in
// the target's own folder. A relative link is taken relative to the link's folder; a dangling link
// resolves to the missing file it names, which a save then creates. Returns 0 or the errno (ELOOP
// for a cycle or a chain too long to follow).
int ResolveLinks(const std::string& path, std::string* target) {
  constexpr int kMaxLinks = 40;  // the kernel's own limit for a path lookup
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0) {
      if (errno == ENOENT) break;
      return errno;
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (hops == kMaxLinks) return ELOOP;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= link.size()) return ENAMETOOLONG;  // changed while being read
    link.resize(static_cast<size_t>(n));
    if (link.empty()) return ENOENT;
    current = link.front() == '/' ? link : FolderOf(current) + "/" + link;
  }
  *target = std::move(current);
  return 0;
}

// Reads fd to its end into *bytes, expected being the size fstat gave; EFBIG once it holds more
// than limit bytes (a file that grows while it is read).
int ReadUpTo(int fd, size_t limit, size_t expected, std::string* bytes) {
  // Room for one byte more than expected, so that a file that grew since is noticed and the
  // first read usually takes the whole file.
  bytes->resize(std::min(expected, limit) + 1);
  size_t used = 0;
  for (;;) {
    if (used == bytes->size()) {
      if (used > limit) return EFBIG;
      bytes->resize(std::min(used * 2, limit + 1));
    }
    ssize_t n = ::read(fd, bytes->data() + used, bytes->size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    const size_t asked = bytes->size() - used;
    used += static_cast<size_t>(n);
    // A short read that brings the size fstat gave is the end: spare the read that says so.
    if (used == expected && static_cast<size_t>(n) < asked) break;
  }
  bytes->resize(used);
  return used > limit ? EFBIG : 0;
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

class PosixFiles final : public SettingsFiles {
 public:
  int ReadFile(const std::string& path, std::string* bytes) override;
  int ReplaceFile(const std::string& path, std::string_view contents,
                  unsigned new_file_mode) override;
  int CheckReadWrite(const std::string& path) override;
  std::string ExecutablePath() override;
};

int PosixFiles::ReadFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a terminal is never adopted.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else if (static_cast<uint64_t>(st.st_size) > kMaxSettingsFileSize) {
    error = EFBIG;
  }
  // O_NONBLOCK stays set: Linux ignores it for a regular file.
  if (error == 0) {
    error = ReadUpTo(fd, kMaxSettingsFileSize, static_cast<size_t>(st.st_size), bytes);
  }
  ::close(fd);
  if (error != 0) bytes->clear();
  return error;
}

int PosixFiles::ReplaceFile(const std::string& link_or_path, std::string_view contents,
                                    unsigned new_file_mode) {
  std::string path;
  if (int error = ResolveLinks(link_or_path, &path); error != 0) return error;

  struct stat old_stat {};
  bool exists = ::stat(path.c_str(), &old_stat) == 0;
  if (exists && S_ISDIR(old_stat.st_mode)) return EISDIR;

  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return errno;

  int error = 0;
  mode_t mode = exists ? (old_stat.st_mode & 07777) : static_cast<mode_t>(new_file_mode);
  if (::fchmod(fd, mode) != 0) error = errno;
  if (error == 0 && exists) {
    // Keep the owner when an administrator saves someone else's file; best effort only.
    (void)!::fchown(fd, old_stat.st_uid, old_stat.st_gid);
  }
  if (error == 0) error = WriteAll(fd, contents);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return error;
  }

  // The rename is durable only once the folder entry is on disk.
  int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

int PosixFiles::CheckReadWrite(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (::access(path.c_str(), R_OK | W_OK) != 0) return errno;
  // access() grants everything to root; the mode bits still say the file is read-only.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  if ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) return EACCES;
  return 0;
}

std::string PosixFiles::ExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

SettingsFiles* g_current = nullptr;

}  // namespace

SettingsFiles* PosixSettingsFiles() {
  static PosixFiles* files = new PosixFiles;  // never destroyed: used until exit
  return files;
}

SettingsFiles* CurrentSettingsFiles() {
  return g_current != nullptr ? g_current : PosixSettingsFiles();
}

ScopedSettingsFilesOverride::ScopedSettingsFilesOverride(SettingsFiles* files)
    : previous_(g_current) {
  g_current = files;
}

ScopedSettingsFilesOverride::~ScopedSettingsFilesOverride() { g_current = previous_; }

}  // namespace settings
