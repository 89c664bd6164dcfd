#pragma once
// One text file of parked statements as a replay sees it. Its size and boundaries are read under
// the lock appenders take, which is then let go at once: appenders never wait for the statements to
// run. Whole records are never changed once written, so they are read afterwards without the lock,
// through the descriptor opened then, which keeps reading the same file even if it is renamed or
// removed meanwhile.

#include <cstdint>
#include <string>
#include <vector>

#include "relay/common/status.h"
#include "relay/output/record_boundaries.h"
#include "relay/platform/scoped_fd.h"

namespace dbrelay::replay {

class QueueSnapshot {
 public:
  QueueSnapshot();

  // Opens the text file at path and reads what it holds now. ENOENT when there is no file; other
  // errors are the errno of the failed step. A file whose records cannot be told apart is taken
  // too: problem() then says where.
  Status Take(const std::string& path);

  const std::string& path() const { return path_; }
  // Empty when the boundaries agree with the file; otherwise where they do not.
  const std::string& problem() const { return problem_; }
  const RecordBoundaries& boundaries() const { return boundaries_; }
  const std::string& queue_id() const { return boundaries_.queue_id; }
  const std::vector<RecordSpan>& records() const { return boundaries_.records; }
  // Where the whole records end: the file's size, unless a killed append left part of a record.
  uint64_t whole_end() const;

  // The statements of records [first, end), each checked against its boundaries line. A record
  // that does not match sets problem (its byte and the reason) and gives nothing.
  Status ReadStatements(size_t first, size_t end, std::vector<std::string>* statements,
                        std::string* problem);

  // Under the lock again: when the file at path is still this one and no record was added since,
  // empties it, removes it and its boundaries file, and sets removed. When records were added it
  // sets grew and changes nothing; when the file is gone or another, it changes nothing either.
  Status RemoveIfUnchanged(bool* removed, bool* grew);

 private:
  // Reads size and boundaries from fd, which holds the lock.
  Status ReadUnderLock(int fd, RecordBoundaries* boundaries, uint64_t* size, std::string* problem);

  std::string path_;
  ScopedFd fd_;
  uint64_t size_ = 0;
  RecordBoundaries boundaries_;
  std::string problem_;
};

}  // namespace dbrelay::replay
