#pragma once
// Whole-file replacement that never leaves a torn file behind, and the guarded whole-file read of
// a settings file.

#include <cstddef>
#include <string>
#include <string_view>

namespace settings {

// A settings file holds a few dozen short lines; anything larger is no settings file, and reading
// it at every decision would make every run slow.
inline constexpr size_t kMaxSettingsFileSize = 1024 * 1024;

// Writes contents to a temporary file in the folder of path, fsyncs it, renames it over path and
// fsyncs the folder. An existing file's mode (and, where permitted, owner) is kept; a new file gets
// new_file_mode. A symbolic link is written through: the file it finally names is replaced (or,
// when missing, created) in that file's folder, and the link itself is left as it is. Returns 0 or
// the errno of the failure; on failure path is untouched.
int ReplaceFileAtomically(const std::string& path, std::string_view contents,
                          unsigned new_file_mode);

// The bytes of the settings file at path (links followed). Only a regular file is read, and the
// open never waits: a FIFO, a device or a socket in its place is refused at once. Returns 0,
// ENOENT when there is no file, EISDIR for a folder, EINVAL for anything else that is no regular
// file, EFBIG for a file larger than kMaxSettingsFileSize, or the errno of the failed open or read.
int ReadSettingsBytes(const std::string& path, std::string* bytes);

// ReadSettingsBytes for a file whose bytes are its lines: a file in UTF-16 (byte-order mark first)
// is refused with EILSEQ, since its lines only appear once it is decoded (ReadIniText in
// ini_text.h), and an edit of its raw bytes would corrupt it.
int ReadWholeFile(const std::string& path, std::string* contents);

}  // namespace settings
