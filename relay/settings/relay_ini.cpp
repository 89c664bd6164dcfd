#include "relay/settings/relay_ini.h"

#include <cerrno>

#include "relay/platform/env.h"
#include "settings/ini_file.h"
#include "settings/ini_text.h"

namespace dbrelay {

namespace {
std::string& SharedFileName() {
  static std::string name;  // empty: the file named after the program
  return name;
}
}  // namespace

void UseSettingsFileBesideProgram(const std::string& file_name) { SharedFileName() = file_name; }

std::string GetIniPath() {
  std::string path = CurrentEnv()->ExecutablePath();
  if (!SharedFileName().empty()) {
    size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           SharedFileName();
  }
  size_t slash = path.rfind('/');
  size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= name_start) path.resize(dot);  // never cut in a folder name
  return path + ".ini";
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& default_value) {
  return settings::IniFile(GetIniPath()).ReadString(section, key, default_value);
}

int32_t ReadIniInt(const std::string& section, const std::string& key, int32_t default_value) {
  return settings::IniFile(GetIniPath()).ReadInt(section, key, default_value);
}

std::string ReadIniString(const settings::SettingKey& key) {
  return ReadIniString(kSettingsSection, std::string(key.name), std::string(key.relay_default));
}

int32_t ReadIniInt(const settings::SettingKey& key) {
  return ReadIniInt(kSettingsSection, std::string(key.name), key.relay_number());
}

int SettingsFileReadError() {
  std::string text;
  settings::IniEncoding encoding;
  int error = settings::ReadIniText(GetIniPath(), &text, &encoding);
  return error == ENOENT ? 0 : error;
}

}  // namespace dbrelay
