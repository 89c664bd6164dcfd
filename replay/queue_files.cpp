#include "replay/queue_files.h"

#include <algorithm>
#include <cerrno>

#include "relay/output/text_file.h"
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

Status ConfiguredQueueFiles(const std::string& configured_path, bool stamped,
                            std::vector<std::string>* files) {
  files->clear();
  if (configured_path.empty()) return Status::OK();
  Env* env = CurrentEnv();
  if (FileIsThere(env, configured_path)) files->push_back(configured_path);
  if (!stamped) return Status::OK();

  const TextFileNameParts parts = SplitConfiguredTextFile(configured_path);
  const std::string& folder = parts.folder;

  std::vector<std::string> names;
  Status s = env->ListFolder(folder.empty() ? "." : folder, &names);
  if (!s.ok()) return s.code() == ENOENT ? Status::OK() : s;
  std::vector<std::string> stamped_names;
  for (const std::string& name : names) {
    if (IsTimeStampedName(name, parts.extension)) stamped_names.push_back(name);
  }
  // The stamp's fields are fixed-width and most significant first: name order is time order.
  std::sort(stamped_names.begin(), stamped_names.end());
  for (const std::string& name : stamped_names) {
    if (folder + name != configured_path) files->push_back(folder + name);
  }
  return Status::OK();
}

}  // namespace dbrelay::replay
