#pragma once
// The local text file of undelivered statements: the last place a statement can go when no
// database takes it. Each record is the statement bytes followed by "\r\n"; records are only ever
// appended, whole, and an existing file is never rewritten. The only bytes ever taken off are the
// part of a record that an appender killed in the middle of its write left at the end.

#include <string>

#include "relay/common/status.h"
#include "relay/platform/scoped_fd.h"

namespace dbrelay {

// How long an append waits for another DbRelay that is appending to the same file.
inline constexpr int kTextFileLockWaitMilliseconds = 30000;

// The file to append to, from SecLocalTextFile (configured_path) and the optional forced base
// name (text_file_name). With SecLocalTextFileTimestamp off and no forced name the configured path
// is used unchanged. Otherwise the name is <folder>/<base>.<extension>: base is the forced name as
// given (it wins over the switch) or the local time as "YYYY-MM-DD-hh-mm-ss-mmmm", the folder is
// the configured path before its last "/", the extension the text after its last "."; both
// searches respect multibyte characters. A configured path without "/" gives a name without a
// folder (relative, like the path itself), one whose file name has no "." a name without an
// extension, and an empty configured path an empty name, which every append refuses.
std::string BuildTextFileName(const std::string& configured_path,
                              const std::string& text_file_name);

// The folder (up to and with its last "/"; empty for a path without one) and the extension (from
// its last "." on; empty when the file name has none) of a configured path, as BuildTextFileName
// takes them when it names a file beside it.
struct TextFileNameParts {
  std::string folder;
  std::string extension;
};
TextFileNameParts SplitConfiguredTextFile(const std::string& configured_path);

// Whether name, without folder, is a time stamp as BuildTextFileName makes it
// ("YYYY-MM-DD-hh-mm-ss-mmmm") followed by extension.
bool IsTimeStampedName(const std::string& name, const std::string& extension);

// Appends statement + "\r\n" to path as one record, creating the file when it is missing, for its
// owner and group only (mode 0660 before the umask: statements may hold personal data). Only a
// regular file is written, and never through a symbolic link at the last component of path, where
// another user may have planted one: a link (dangling too) is refused with ELOOP, a folder with
// EISDIR, a FIFO, a device or a socket with EINVAL, at once and with nothing written. Waits up
// to kTextFileLockWaitMilliseconds for other appenders (exclusive flock). Returns 0 only once the
// record is durable (file and, for a new file, its folder fsynced); otherwise the errno of the
// failed step, and the file holds no part of the record. While it writes, the file carries a mark
// (extended attribute "user.dbrelay.append": the sizes before and with the record), so that the
// next append takes off what a killed appender left; where the file system keeps no such marks the
// append goes on without.
//
// Each record's place is written first to the boundaries file beside it (record_boundaries.h) and
// made durable with the record, so that a replay never has to guess where a record that holds CR LF
// ends. Where that file cannot be written the record is still appended, and a replay reports the
// place.
int AppendStatementToTextFile(const std::string& path, const std::string& statement);

// The existing text file at path, open and under the lock appenders take, waiting up to
// timeout_ms: ENOENT when there is none, EWOULDBLOCK when the wait ran out. While fd holds the lock
// no record is being appended.
Status OpenAndLockTextFile(const std::string& path, int timeout_ms, ScopedFd* fd);

}  // namespace dbrelay
