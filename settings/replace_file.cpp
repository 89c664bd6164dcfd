#include "settings/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace settings {

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

}  // namespace

int ReadWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      ::close(fd);
      return error;
    }
    if (n == 0) break;
    contents->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return 0;
}

int ReplaceFileAtomically(const std::string& path, std::string_view contents,
                          unsigned new_file_mode) {
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

}  // namespace settings
