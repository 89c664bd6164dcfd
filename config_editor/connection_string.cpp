#include "config_editor/connection_string.h"

#include "settings/ascii_text.h"

namespace config_editor {

std::string ComposeConnectionString(std::string_view server, std::string_view database,
                                    std::string_view user, std::string_view password) {
  std::string s = "Provider=SQLOLEDB.1;Server=";
  s += server;
  s += ";Database=";
  s += database;
  s += ";Uid=";
  s += user;
  s += ";Pwd=";
  s += password;
  s += ";";
  return s;
}

std::string GetConnectionValue(std::string_view s, std::string_view key) {
  if (key.empty()) return {};
  std::string lower_s = settings::AsciiLowerCopy(s);
  std::string lower_key = settings::AsciiLowerCopy(key);
  size_t match = lower_s.find(lower_key);
  if (match == std::string::npos) return {};
  size_t start = match + lower_key.size();
  size_t end = s.find(';', start);
  if (end == std::string_view::npos) end = s.size();
  return std::string(s.substr(start, end - start));
}

}  // namespace config_editor
