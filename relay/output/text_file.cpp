#include "relay/output/text_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "relay/common/multibyte_text.h"
#include "relay/platform/env.h"
#include "relay/settings/relay_ini.h"

namespace dbrelay {

namespace {

std::string FormatStamp(const LocalTime& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d-%02d-%02d-%04d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return stamp;
}

// The folder that holds path, for syncing its entries: "." when path names no folder.
std::string FolderOf(const std::string& path) {
  size_t slash = FindLastCharMultibyte(path, '/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Cuts the file back to old_size and closes it, so a failed append leaves no part of its record.
// Returns error, the cause the caller reports.
int CutBackAndFail(Env* env, int fd, uint64_t old_size, int error) {
  if (env->TruncateFile(fd, old_size) == 0) env->SyncFile(fd);
  env->CloseFile(fd);
  return error;
}

}  // namespace

std::string BuildTextFileName(const std::string& configured_path,
                              const std::string& text_file_name) {
  const bool stamped = ReadIniInt(settings::kSecLocalTextFileTimestamp) != 0;
  if (configured_path.empty()) return std::string();
  if (!stamped && text_file_name.empty()) return configured_path;

  size_t slash = FindLastCharMultibyte(configured_path, '/');
  size_t dot = FindLastCharMultibyte(configured_path, '.');
  // A dot in a folder name is no extension: "/my.dir/q" must not turn into "<base>.dir/q".
  bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);

  std::string name;
  if (slash != std::string::npos) name = configured_path.substr(0, slash) + "/";
  name += text_file_name.empty() ? FormatStamp(CurrentEnv()->GetLocalTime()) : text_file_name;
  if (has_extension) name += "." + configured_path.substr(dot + 1);
  return name;
}

int AppendStatementToTextFile(const std::string& path, const std::string& statement) {
  Env* env = CurrentEnv();
  const std::string record = statement + "\r\n";

  int fd = -1;
  bool created = false;
  // A file removed or renamed while this call waited for its lock is no longer the file at path:
  // open again, so the record lands where readers look for it.
  for (int attempt = 0;; ++attempt) {
    if (int rc = env->OpenOrCreateFile(path, &fd, &created); rc != 0) return rc;
    if (int rc = env->LockFileExclusive(fd, kTextFileLockWaitMilliseconds); rc != 0) {
      env->CloseFile(fd);
      return rc;
    }
    bool same = false;
    if (int rc = env->IsFileAtPath(fd, path, &same); rc != 0) {
      env->CloseFile(fd);
      return rc;
    }
    if (same || attempt == 10) break;
    env->CloseFile(fd);
  }

  uint64_t old_size = 0;
  if (int rc = env->GetFileSize(fd, &old_size); rc != 0) {
    env->CloseFile(fd);
    return rc;
  }

  // A run killed in the middle of its write left part of its record behind: take it off first, so
  // the file keeps whole records only. The mark names the sizes before and with that record; a
  // file that is shorter or longer than such a part was changed by others and is left alone.
  bool marked_before = false;
  uint64_t from = 0;
  uint64_t to = 0;
  int mark_rc = env->ReadAppendMark(fd, &marked_before, &from, &to);
  if (mark_rc == 0 && marked_before && old_size >= from && old_size < to) {
    int rc = env->TruncateFile(fd, from);
    if (rc == 0) rc = env->SyncFile(fd);
    if (rc != 0) {
      env->CloseFile(fd);
      return rc;
    }
    old_size = from;
  }
  // Without marks (a file system that keeps none) the append goes on unmarked.
  const bool marked = (mark_rc == 0 || mark_rc == EINVAL) &&
                      env->SetAppendMark(fd, old_size, old_size + record.size()) == 0;

  // One write takes the whole record unless the disk fills; a short write is continued only to
  // learn the system's reason, and any failure takes the partial record off again.
  std::string_view rest = record;
  while (!rest.empty()) {
    size_t written = 0;
    int rc = env->WriteFile(fd, rest, &written);
    if (rc == 0 && written == 0) rc = EIO;
    if (rc != 0) return CutBackAndFail(env, fd, old_size, rc);
    rest.remove_prefix(written);
  }
  if (int rc = env->SyncFile(fd); rc != 0) return CutBackAndFail(env, fd, old_size, rc);
  if (created) {
    if (int rc = env->SyncFolder(FolderOf(path)); rc != 0) {
      return CutBackAndFail(env, fd, old_size, rc);
    }
  }
  // A mark left behind names a whole record, which the next append keeps: clearing it may fail.
  if (marked) env->ClearAppendMark(fd);
  env->CloseFile(fd);  // the record is durable; a late close error changes nothing
  return 0;
}

}  // namespace dbrelay
