#include "settings/replace_file.h"

#include <cerrno>

#include "settings/ini_text.h"

namespace settings {

int ReplaceFileAtomically(const std::string& path, std::string_view contents,
                          unsigned new_file_mode) {
  return CurrentSettingsFiles()->ReplaceFile(path, contents, new_file_mode);
}

int ReadSettingsBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  return CurrentSettingsFiles()->ReadFile(path, bytes);
}

int ReadWholeFile(const std::string& path, std::string* contents) {
  int error = ReadSettingsBytes(path, contents);
  if (error == 0 && HasUtf16ByteOrderMark(*contents)) {
    contents->clear();
    return EILSEQ;
  }
  return error;
}

}  // namespace settings
