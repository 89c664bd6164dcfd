#include "relay/output/copy_file.h"

#include "relay/common/multibyte_text.h"
#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"
#include "relay/report/report.h"
#include "relay/settings/relay_ini.h"
#include "settings/ascii_text.h"
#include "settings/file_path.h"

namespace dbrelay {

namespace {

// Makes the data of the file at path durable.
[[nodiscard]] Status SyncFileAt(Env* env, const std::string& path) {
  ScopedFd fd(env);
  bool created = false;
  if (Status s = env->OpenOrCreateFile(path, fd.Receive(), &created); !s.ok()) return s;
  return env->SyncFile(fd.get());
}

// Copies from to to, replacing to in one rename; on failure no temporary file is left behind and
// to is as it was.
[[nodiscard]] Status CopyReplacing(Env* env, const std::string& from, const std::string& to) {
  std::string temp;
  if (Status s = env->CreateTempFileBeside(to, &temp); !s.ok()) return s;
  Status s = env->CopyFileContents(from, temp);
  if (s.ok()) s = SyncFileAt(env, temp);
  if (s.ok()) s = env->RenameFile(temp, to);
  if (!s.ok()) {
    (void)env->RemoveFile(temp);
    return s;
  }
  // The copy is in place; this only hardens it against a crash.
  (void)env->SyncFolder(settings::FolderOf(to));
  return Status::OK();
}

}  // namespace

int CopyFileToFolder(const std::string& file_name) {
  if (ReadIniInt(settings::kCopyFile) == 0) return 0;
  const std::string folder =
      std::string(settings::TrimBlanks(ReadIniString(settings::kCopyFilePath)));
  if (folder.empty()) return 0;

  size_t slash = FindLastCharMultibyte(file_name, '/');
  const std::string target =
      folder + (slash == std::string::npos ? file_name : file_name.substr(slash));
  Env* env = CurrentEnv();
  const int result = CopyReplacing(env, file_name, target).ok() ? 1 : 0;
  LogDetail("Trying to copy file: " + file_name + "\nTo file: " + target +
            "\nReturnValue = " + std::to_string(result) + "\n");
  return result;
}

}  // namespace dbrelay
