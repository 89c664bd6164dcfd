// Splitting connection strings. Properties:
//  - for any text and key, the value is the stretch of the text right behind the first
//    case-insensitive occurrence of the key, up to the next ";" or the end, in its stored case;
//  - four fields without ";" or "=" come back exactly from the composed form.
// Input: the text and the key, or the four fields (FuzzedDataProvider layout).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "config_editor/connection_string.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool MatchesAt(std::string_view s, size_t at, std::string_view key) {
  if (s.size() - at < key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (AsciiLower(s[at + i]) != AsciiLower(key[i])) return false;
  }
  return true;
}

void CheckAnyText(std::string_view s, std::string_view key) {
  const std::string value = config_editor::GetConnectionValue(s, key);
  size_t at = 0;
  while (at < s.size() && !MatchesAt(s, at, key)) ++at;
  if (key.empty() || at >= s.size()) {
    FUZZ_CHECK(value.empty());
    return;
  }
  const size_t start = at + key.size();
  FUZZ_CHECK(s.substr(start, value.size()) == value);
  FUZZ_CHECK(value.find(';') == std::string::npos);
  FUZZ_CHECK(start + value.size() == s.size() || s[start + value.size()] == ';');
}

bool FitsTheForm(std::string_view field) { return field.find_first_of(";=") == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    static const char* const kKeys[] = {"server=", "database=", "uid=", "pwd="};
    std::string key = input.ConsumeBool() ? kKeys[input.ConsumeIntegralInRange<size_t>(0, 3)]
                                          : input.ConsumeRandomLengthString(16);
    CheckAnyText(input.ConsumeRemainingBytesAsString(), key);
    return 0;
  }
  const std::string server = input.ConsumeRandomLengthString(256);
  const std::string database = input.ConsumeRandomLengthString(256);
  const std::string user = input.ConsumeRandomLengthString(256);
  const std::string password = input.ConsumeRemainingBytesAsString();
  const std::string composed =
      config_editor::ComposeConnectionString(server, database, user, password);
  for (const char* key : {"server=", "database=", "uid=", "pwd="}) CheckAnyText(composed, key);
  if (!FitsTheForm(server) || !FitsTheForm(database) || !FitsTheForm(user) ||
      !FitsTheForm(password)) {
    return 0;
  }
  FUZZ_CHECK(config_editor::GetConnectionValue(composed, "server=") == server);
  FUZZ_CHECK(config_editor::GetConnectionValue(composed, "database=") == database);
  FUZZ_CHECK(config_editor::GetConnectionValue(composed, "uid=") == user);
  FUZZ_CHECK(config_editor::GetConnectionValue(composed, "pwd=") == password);
  return 0;
}
