#pragma once
// Duplication of the caller's file into the folder CopyFilePath, when CopyFile is not 0.

#include <string>

namespace dbrelay {

// Copies file_name to CopyFilePath (trimmed) followed by the file name's tail from its last "/"
// on (the whole name when it holds none); no separator is added or removed, so a folder written
// with a trailing "/" gives "//". An existing target is replaced. The copy is made under a
// temporary name beside the target and renamed over it, so the target is always either the old
// file or the whole new one. Logs the attempt through LogDetail. Returns 1 when the file was
// copied, 0 when the copy failed or was not attempted (switch off, no folder).
int CopyFileToFolder(const std::string& file_name);

}  // namespace dbrelay
