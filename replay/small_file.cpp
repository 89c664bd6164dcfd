#include "replay/small_file.h"

#include <cerrno>

#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"
#include "settings/file_path.h"

namespace dbrelay::replay {

Status ReadSmallFile(const std::string& path, std::string* text, bool* found) {
  text->clear();
  *found = false;
  Env* env = CurrentEnv();
  ScopedFd fd(env);
  Status s = env->OpenExistingFile(path, fd.Receive());
  if (s.code() == ENOENT) return Status::OK();
  if (!s.ok()) return s;
  if (s = env->ReadFileAt(fd.get(), 0, 4096, text); !s.ok()) return s;
  *found = true;
  return Status::OK();
}

Status WriteSmallFileDurably(const std::string& path, const std::string& text) {
  Env* env = CurrentEnv();
  std::string temp;
  if (Status s = env->CreateTempFileBeside(path, &temp); !s.ok()) return s;
  ScopedFd fd(env);
  Status s = env->OpenExistingFile(temp, fd.Receive());
  if (s.ok()) s = WriteAll(env, fd.get(), text);
  if (s.ok()) s = env->SyncFile(fd.get());
  fd.Reset();
  if (s.ok()) s = env->RenameFile(temp, path);
  if (!s.ok()) {
    (void)env->RemoveFile(temp);
    return s;
  }
  return env->SyncFolder(settings::FolderOf(path));
}

Status RemoveSmallFile(const std::string& path) {
  Status s = CurrentEnv()->RemoveFile(path);
  return s.code() == ENOENT ? Status::OK() : s;
}

}  // namespace dbrelay::replay
