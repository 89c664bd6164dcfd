#pragma once
// A save of many keys as one change of the file: the writes are applied in their order to the
// file's content, exactly as that many single writes would leave it, and the file is replaced
// once. A reader sees the old settings or the new ones, never a mixture, and a write that a line
// could not hold refuses the whole batch before anything is written.

#include <string>
#include <string_view>
#include <vector>

namespace settings {

struct IniWrite {
  std::string key;
  std::string value;
};

// 0 when section, key and value fit in one "key=value" line of the file, EINVAL otherwise (a line
// break anywhere, a NUL in the value, "=" or nothing in the key, a key that would read as a comment
// or a section, "]" in the section). The rule of IniFile::WriteString.
int CheckIniWrite(std::string_view section, std::string_view key, std::string_view value);

// Applies writes, in order, to contents as IniFile::WriteString applies one: an existing key is
// updated in place, a new key is appended to its section, a new section to the end; every other line
// is kept byte for byte and new lines end in CRLF. Returns 0 and sets *result, or EINVAL and sets
// *refused to the index of the first write that CheckIniWrite refuses; then *result is unchanged.
int ApplyIniWrites(std::string_view contents, std::string_view section,
                   const std::vector<IniWrite>& writes, std::string* result,
                   size_t* refused = nullptr);

// Reads the file at path (a missing file is empty), applies writes and replaces the file once
// (ReplaceFileAtomically): a new file gets mode 0600, an existing one keeps its mode. Returns 0
// or the errno of the failure (EINVAL for a refused write, with *refused set); on failure the
// file is untouched.
int WriteIniBatch(const std::string& path, std::string_view section,
                  const std::vector<IniWrite>& writes, size_t* refused = nullptr);

}  // namespace settings
