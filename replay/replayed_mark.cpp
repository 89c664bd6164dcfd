#include "replay/replayed_mark.h"

#include <cerrno>

#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"
#include "settings/file_path.h"

namespace dbrelay::replay {

namespace {

std::string MarkText(const std::string& queue_id) {
  return "DbRelay replayed 1 " + queue_id + "\n";
}

}  // namespace

std::string ReplayedMarkPathOf(const std::string& text_path) { return text_path + ".replayed"; }

Status ReadReplayedMark(const std::string& text_path, const std::string& queue_id, bool* marked) {
  *marked = false;
  Env* env = CurrentEnv();
  ScopedFd fd(env);
  Status s = env->OpenExistingFile(ReplayedMarkPathOf(text_path), fd.Receive());
  if (s.code() == ENOENT) return Status::OK();
  if (!s.ok()) return s;
  std::string text;
  if (s = env->ReadFileAt(fd.get(), 0, 256, &text); !s.ok()) return s;
  *marked = text == MarkText(queue_id);
  return Status::OK();
}

Status WriteReplayedMark(const std::string& text_path, const std::string& queue_id) {
  Env* env = CurrentEnv();
  const std::string path = ReplayedMarkPathOf(text_path);
  std::string temp;
  if (Status s = env->CreateTempFileBeside(path, &temp); !s.ok()) return s;
  ScopedFd fd(env);
  Status s = env->OpenExistingFile(temp, fd.Receive());
  const std::string text = MarkText(queue_id);
  size_t written = 0;
  if (s.ok()) s = env->WriteFile(fd.get(), text, &written);
  if (s.ok() && written != text.size()) s = Status::FromErrno(EIO, "write");
  if (s.ok()) s = env->SyncFile(fd.get());
  fd.Reset();
  if (s.ok()) s = env->RenameFile(temp, path);
  if (!s.ok()) {
    (void)env->RemoveFile(temp);
    return s;
  }
  return env->SyncFolder(settings::FolderOf(path));
}

Status RemoveReplayedMark(const std::string& text_path) {
  Status s = CurrentEnv()->RemoveFile(ReplayedMarkPathOf(text_path));
  return s.code() == ENOENT ? Status::OK() : s;
}

}  // namespace dbrelay::replay
