#pragma once
// Whole-file replacement that never leaves a torn file behind, and the guarded whole-file read of
// a settings file, both through CurrentSettingsFiles() (settings_files.h, which has their
// contracts).

#include <string>
#include <string_view>

#include "settings/settings_files.h"

namespace settings {

// CurrentSettingsFiles()->ReplaceFile.
int ReplaceFileAtomically(const std::string& path, std::string_view contents,
                          unsigned new_file_mode);

// CurrentSettingsFiles()->ReadFile.
int ReadSettingsBytes(const std::string& path, std::string* bytes);

// ReadSettingsBytes for a file whose bytes are its lines: a file in UTF-16 (byte-order mark first)
// is refused with EILSEQ, since its lines only appear once it is decoded (ReadIniText in
// ini_text.h), and an edit of its raw bytes would corrupt it.
int ReadWholeFile(const std::string& path, std::string* contents);

}  // namespace settings
