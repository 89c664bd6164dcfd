#include "settings/setting_keys.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace settings {
namespace {

// The keys the manual page's SETTINGS section lists, each with the default it states: every
// ".TP" entry whose first line is ".BR Key ..." or ".BR Key1 \", \" Key2 ..." ending in
// "(default X)".
std::map<std::string, std::string> ManualPageDefaults() {
  std::ifstream in(std::string(DBRELAY_SOURCE_DIR) + "/packaging/man/DbRelay.1");
  std::map<std::string, std::string> keys;
  const std::regex entry(R"re(^\.BR (\w+)(?: ", " (\w+))? " \(default (.*)\)"$)re");
  bool in_settings = false, after_tp = false;
  for (std::string line; std::getline(in, line); after_tp = line == ".TP") {
    if (line.rfind(".SH ", 0) == 0) in_settings = line == ".SH SETTINGS";
    std::smatch m;
    if (!in_settings || !after_tp || !std::regex_match(line, m, entry)) continue;
    const std::string value = m[3] == "empty" ? "" : std::string(m[3]);
    keys[m[1]] = value;
    if (m[2].matched) keys[m[2]] = value;
  }
  return keys;
}

TEST(SettingKeysTest, ManualPageListsEveryKeyWithTheDefaultItsReaderUses) {
  std::map<std::string, std::string> manual = ManualPageDefaults();
  std::map<std::string, std::string> table;
  for (const SettingKey* key : kSettingKeys) {
    // A key only the editor reads is documented with the editor's default.
    table[std::string(key->name)] =
        std::string(key->read_by_relay ? key->relay_default : key->editor_default);
  }
  EXPECT_EQ(manual, table);
}

}  // namespace
}  // namespace settings
