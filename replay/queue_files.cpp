#include "replay/queue_files.h"

#include <algorithm>
#include <cerrno>

#include "relay/common/multibyte_text.h"
#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"

namespace dbrelay::replay {

namespace {

bool FileIsThere(Env* env, const std::string& path) {
  ScopedFd fd(env);
  // Anything at the path but a missing file is taken, so that its problem is reported.
  return env->OpenExistingFile(path, fd.Receive()).code() != ENOENT;
}

}  // namespace

bool IsStampedName(const std::string& name, const std::string& extension) {
  constexpr std::string_view kPattern = "dddd-dd-dd-dd-dd-dd-dddd";
  if (name.size() != kPattern.size() + extension.size()) return false;
  for (size_t i = 0; i < kPattern.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : name[i] != '-') return false;
  }
  return name.compare(kPattern.size(), std::string::npos, extension) == 0;
}

Status ConfiguredQueueFiles(const std::string& configured_path, bool stamped,
                            std::vector<std::string>* files) {
  files->clear();
  if (configured_path.empty()) return Status::OK();
  Env* env = CurrentEnv();
  if (FileIsThere(env, configured_path)) files->push_back(configured_path);
  if (!stamped) return Status::OK();

  // The folder and extension as DbRelay takes them when it names a time-stamped file.
  const size_t slash = FindLastCharMultibyte(configured_path, '/');
  const size_t dot = FindLastCharMultibyte(configured_path, '.');
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string folder =
      slash == std::string::npos ? std::string() : configured_path.substr(0, slash + 1);
  const std::string extension = has_extension ? configured_path.substr(dot) : std::string();

  std::vector<std::string> names;
  Status s = env->ListFolder(folder.empty() ? "." : folder, &names);
  if (!s.ok()) return s.code() == ENOENT ? Status::OK() : s;
  std::vector<std::string> stamped_names;
  for (const std::string& name : names) {
    if (IsStampedName(name, extension)) stamped_names.push_back(name);
  }
  // The stamp's fields are fixed-width and most significant first: name order is time order.
  std::sort(stamped_names.begin(), stamped_names.end());
  for (const std::string& name : stamped_names) {
    if (folder + name != configured_path) files->push_back(folder + name);
  }
  return Status::OK();
}

}  // namespace dbrelay::replay
