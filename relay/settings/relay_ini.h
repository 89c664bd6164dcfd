#pragma once
// DbRelay's view of its settings file: <its own executable path without extension>.ini, so the
// program DbRelay reads DbRelay.ini beside it and a copy called Relay2 reads Relay2.ini. The path is
// computed and the file read anew on every call; nothing is cached.

#include <cstdint>
#include <string>

#include "settings/setting_keys.h"

namespace dbrelay {

// The section every key of DbRelay lives in.
using settings::kSettingsSection;

std::string GetIniPath();

// Makes GetIniPath() the file file_name in the folder of the running program, for the programs
// that share DbRelay's settings file rather than have one named after themselves.
void UseSettingsFileBesideProgram(const std::string& file_name);
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& default_value);
int32_t ReadIniInt(const std::string& section, const std::string& key, int32_t default_value);

// The reads of one key of the table, with DbRelay's default for it.
std::string ReadIniString(const settings::SettingKey& key);
int32_t ReadIniInt(const settings::SettingKey& key);

// 0 when the settings file can be read or does not exist (every key then has its default), else
// the errno that keeps it from being read, since every read would silently give the defaults:
// EISDIR for a folder, EINVAL for a FIFO, device or socket, EFBIG for a file larger than
// settings::kMaxSettingsFileSize, EILSEQ for UTF-16 that does not decode to the locale's encoding,
// or the errno of the failed open or read. Never waits on what it finds at the path.
int SettingsFileReadError();

}  // namespace dbrelay
