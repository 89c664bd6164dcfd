#include "replay/queue_snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "relay/output/text_file.h"
#include "relay/platform/env.h"
#include "settings/file_path.h"

namespace dbrelay::replay {

QueueSnapshot::QueueSnapshot() : fd_(CurrentEnv()) {}

uint64_t QueueSnapshot::whole_end() const {
  return boundaries_.has_torn_record ? boundaries_.torn_start : size_;
}

Status QueueSnapshot::ReadUnderLock(int fd, RecordBoundaries* boundaries, uint64_t* size,
                                    std::string* problem) {
  Env* env = CurrentEnv();
  if (Status s = env->GetFileSize(fd, size); !s.ok()) return s;
  *problem = std::string();
  if (*size == 0) {
    // An empty file holds no record, whatever lies beside it: a removal that stopped after
    // emptying the file leaves its old boundaries, and the next append starts them afresh.
    *boundaries = RecordBoundaries();
    return Status::OK();
  }
  std::string text;
  bool found = false;
  if (Status s = ReadDurableBoundaries(env, path_, fd, &text, &found); !s.ok()) return s;
  if (!found) {
    *boundaries = RecordBoundaries();
    *problem = "its boundaries file " + BoundariesPathOf(path_) + " is missing";
    return Status::OK();
  }
  *problem = ReadRecordBoundaries(text, *size, boundaries);
  return Status::OK();
}

Status QueueSnapshot::Take(const std::string& path) {
  path_ = path;
  Env* env = CurrentEnv();
  Status s = OpenAndLockTextFile(path, kTextFileLockWaitMilliseconds, &fd_);
  if (s.ok()) s = ReadUnderLock(fd_.get(), &boundaries_, &size_, &problem_);
  // The descriptor stays open to read the records; the appenders may go on.
  if (fd_.valid()) {
    Status unlock = env->UnlockFile(fd_.get());
    if (s.ok()) s = unlock;
  }
  return s;
}

Status QueueSnapshot::ReadStatements(size_t first, size_t end,
                                     std::vector<std::string>* statements, std::string* problem) {
  statements->clear();
  end = std::min(end, records().size());
  if (first >= end) return Status::OK();
  // The records follow each other (the boundaries were checked so), so one read takes them all.
  const uint64_t from = records()[first].start;
  const uint64_t length = records()[end - 1].end() - from;
  if (length > SIZE_MAX) return Status::FromErrno(EFBIG, "read");
  std::string bytes;
  if (Status s = CurrentEnv()->ReadFileAt(fd_.get(), from, static_cast<size_t>(length), &bytes);
      !s.ok()) {
    return s;
  }
  for (size_t i = first; i < end; ++i) {
    const RecordSpan& span = records()[i];
    const std::string_view record =
        span.end() - from <= bytes.size()
            ? std::string_view(bytes).substr(static_cast<size_t>(span.start - from),
                                             static_cast<size_t>(span.length))
            : std::string_view();
    if (record.size() != span.length || !RecordMatches(span, record)) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the record at byte %llu is not the one its boundaries line names (the file "
                    "was changed in place)",
                    static_cast<unsigned long long>(span.start));
      *problem = text;
      statements->clear();
      return Status::OK();
    }
    statements->emplace_back(record.substr(0, record.size() - 2));  // without its CR LF
  }
  return Status::OK();
}

Status QueueSnapshot::RemoveIfUnchanged(bool* removed, bool* grew) {
  *removed = false;
  *grew = false;
  Env* env = CurrentEnv();
  ScopedFd locked(env);
  Status s = OpenAndLockTextFile(path_, kTextFileLockWaitMilliseconds, &locked);
  if (s.code() == ENOENT) return Status::OK();
  if (!s.ok()) return s;
  bool same = false;
  if (s = env->IsFileAtPath(fd_.get(), path_, &same); !s.ok() || !same) return s;

  RecordBoundaries now;
  uint64_t size = 0;
  std::string problem;
  if (s = ReadUnderLock(locked.get(), &now, &size, &problem); !s.ok()) return s;
  const uint64_t now_end = now.has_torn_record ? now.torn_start : size;
  if (!problem.empty() || now.queue_id != queue_id() || now_end != whole_end()) {
    *grew = true;
    return Status::OK();
  }
  // Emptied first: should the removal stop half way, an empty file is no queue and its next
  // append starts afresh, where a whole one without its boundaries could not be replayed.
  s = env->TruncateFile(locked.get(), 0);
  if (s.ok()) s = env->SyncFile(locked.get());
  if (s.ok()) {
    Status bounds = env->RemoveFile(BoundariesPathOf(path_));
    if (!bounds.ok() && bounds.code() != ENOENT) s = bounds;
  }
  // The file goes last, while its lock is still held: an appender waiting for it opens the path
  // again and starts a new queue, boundaries and all.
  if (s.ok()) s = env->RemoveFile(path_);
  if (s.ok()) s = env->SyncFolder(settings::FolderOf(path_));
  if (s.ok()) *removed = true;
  return s;
}

}  // namespace dbrelay::replay
