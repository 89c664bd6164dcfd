#include "settings/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace settings {

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

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

int ReplaceFileAtomically(const std::string& link_or_path, std::string_view contents,
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

}  // namespace settings
