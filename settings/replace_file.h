#pragma once
// Whole-file replacement that never leaves a torn file behind.

#include <string>
#include <string_view>

namespace settings {

// Writes contents to a temporary file in the folder of path, fsyncs it, renames it over path and
// fsyncs the folder. An existing file's mode (and, where permitted, owner) is kept; a new file gets
// new_file_mode. A symbolic link is written through: the file it finally names is replaced (or,
// when missing, created) in that file's folder, and the link itself is left as it is. Returns 0 or
// the errno of the failure; on failure path is untouched.
int ReplaceFileAtomically(const std::string& path, std::string_view contents,
                          unsigned new_file_mode);

// Reads a whole file. Returns 0, ENOENT when it does not exist, or another errno.
int ReadWholeFile(const std::string& path, std::string* contents);

}  // namespace settings
