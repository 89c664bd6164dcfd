#pragma once
// The folder part of a path, for both programs.

#include <string>

namespace settings {

// The folder that holds path: "." when path names no folder, "/" for a file in the root, else
// everything before the last "/". ('/' is never the second byte of a multibyte character in the
// encodings a locale may use, so a byte search finds it.)
std::string FolderOf(const std::string& path);

}  // namespace settings
