#include "relay/output/text_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "relay/common/multibyte_text.h"
#include "relay/output/record_boundaries.h"
#include "relay/platform/env.h"
#include "relay/platform/scoped_fd.h"
#include "relay/settings/relay_ini.h"
#include "settings/file_path.h"

namespace dbrelay {

namespace {

std::string FormatStamp(const LocalTime& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d-%02d-%02d-%04d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return stamp;
}

// The file at path, open and under its exclusive lock. A file removed or renamed while this call
// waited for its lock is no longer the file at path: open again, so the record lands where readers
// look for it. created is nullptr when the file must already be there.
[[nodiscard]] Status OpenAndLock(Env* env, const std::string& path, int timeout_ms, ScopedFd* fd,
                                 bool* created) {
  for (int attempt = 0;; ++attempt) {
    Status s = created != nullptr ? env->OpenOrCreateFile(path, fd->Receive(), created)
                                  : env->OpenExistingFile(path, fd->Receive());
    if (s.ok()) s = env->LockFileExclusive(fd->get(), timeout_ms);
    bool same = false;
    if (s.ok()) s = env->IsFileAtPath(fd->get(), path, &same);
    if (!s.ok() || same || attempt == 10) return s;
  }
}

// A run killed in the middle of its write left part of its record behind: takes it off, so the
// file keeps whole records only. The mark names the sizes before and with that record; a file that
// is shorter or longer than such a part was changed by others and is left alone. size is the
// file's length afterwards; marks_kept tells whether the file system keeps append marks.
[[nodiscard]] Status CutTornTail(Env* env, int fd, uint64_t* size, bool* marks_kept) {
  if (Status s = env->GetFileSize(fd, size); !s.ok()) return s;
  bool marked = false;
  uint64_t from = 0;
  uint64_t to = 0;
  Status mark = env->ReadAppendMark(fd, &marked, &from, &to);
  // A mark this program did not write (EINVAL) is replaced by the next one.
  *marks_kept = mark.ok() || mark.code() == EINVAL;
  if (!mark.ok() || !marked || *size < from || *size >= to) return Status::OK();
  Status s = env->TruncateFile(fd, from);
  if (s.ok()) s = env->SyncFile(fd);
  if (s.ok()) *size = from;
  return s;
}

// Writes record at the end of the file, old_size long, and makes it durable (for a new file its
// folder too). A failure cuts the file back to old_size, so it holds no part of the record.
[[nodiscard]] Status WriteAndSync(Env* env, int fd, const std::string& path, bool created,
                                  uint64_t old_size, bool marks_kept, std::string_view record) {
  // Without marks (a file system that keeps none) the append goes on unmarked.
  const bool marked =
      marks_kept && env->SetAppendMark(fd, old_size, old_size + record.size()).ok();
  // One write takes the whole record unless the disk fills; a short write is continued only to
  // learn the system's reason.
  Status s = WriteAll(env, fd, record);
  if (s.ok()) s = env->SyncFile(fd);
  if (s.ok() && created) s = env->SyncFolder(settings::FolderOf(path));
  if (!s.ok()) {
    if (env->TruncateFile(fd, old_size).ok()) (void)env->SyncFile(fd);
    return s;
  }
  // A mark left behind names a whole record, which the next append keeps: clearing it may fail.
  if (marked) (void)env->ClearAppendMark(fd);
  return Status::OK();
}

}  // namespace

TextFileNameParts SplitConfiguredTextFile(const std::string& configured_path) {
  const size_t slash = FindLastCharMultibyte(configured_path, '/');
  const size_t dot = FindLastCharMultibyte(configured_path, '.');
  // A dot in a folder name is no extension: "/my.dir/q" must not turn into "<base>.dir/q".
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash);
  TextFileNameParts parts;
  if (slash != std::string::npos) parts.folder.assign(configured_path, 0, slash + 1);
  if (has_extension) parts.extension.assign(configured_path, dot);
  return parts;
}

bool IsTimeStampedName(const std::string& name, const std::string& extension) {
  constexpr std::string_view kPattern = "dddd-dd-dd-dd-dd-dd-dddd";
  if (name.size() != kPattern.size() + extension.size()) return false;
  for (size_t i = 0; i < kPattern.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : name[i] != '-') return false;
  }
  return name.compare(kPattern.size(), std::string::npos, extension) == 0;
}

std::string BuildTextFileName(const std::string& configured_path,
                              const std::string& text_file_name) {
  const bool stamped = ReadIniInt(settings::kSecLocalTextFileTimestamp) != 0;
  if (configured_path.empty()) return std::string();
  if (!stamped && text_file_name.empty()) return configured_path;

  const TextFileNameParts parts = SplitConfiguredTextFile(configured_path);
  // Appended piece by piece: GCC 12 warns (-Wrestrict) about "." + std::string at -O2.
  std::string name = parts.folder;
  name += text_file_name.empty() ? FormatStamp(CurrentEnv()->GetLocalTime()) : text_file_name;
  name += parts.extension;
  return name;
}

Status OpenAndLockTextFile(const std::string& path, int timeout_ms, ScopedFd* fd) {
  return OpenAndLock(CurrentEnv(), path, timeout_ms, fd, nullptr);
}

int AppendStatementToTextFile(const std::string& path, const std::string& statement) {
  Env* env = CurrentEnv();
  ScopedFd fd(env);
  bool created = false;
  uint64_t size = 0;
  bool marks_kept = false;
  Status s = OpenAndLock(env, path, kTextFileLockWaitMilliseconds, &fd, &created);
  if (s.ok()) s = CutTornTail(env, fd.get(), &size, &marks_kept);
  if (!s.ok()) return s.code();
  const std::string record = statement + "\r\n";
  // The record's boundaries line is written before the record and made durable with it. A text
  // file whose boundaries cannot be kept (a folder where only the text file may be written) still
  // takes the record: it is saved, and a replay names the place it cannot tell apart instead of
  // guessing.
  BoundariesAppend boundaries(env);
  const bool bounded = boundaries.Begin(path, fd.get(), created, &size).ok() &&
                       boundaries.Add(size, record).ok();
  s = WriteAndSync(env, fd.get(), path, created, size, marks_kept, record);
  if (!s.ok()) {
    if (bounded) boundaries.Undo();
    return s.code();
  }
  return 0;
}

}  // namespace dbrelay
