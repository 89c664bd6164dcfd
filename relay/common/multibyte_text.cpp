#include "relay/common/multibyte_text.h"

#include <cwchar>

#include "settings/character_locale.h"

namespace dbrelay {

namespace {

// Length in bytes of the character that starts at text[i].
size_t CharLength(std::string_view text, size_t i, std::mbstate_t* state) {
  size_t n = std::mbrlen(text.data() + i, text.size() - i, state);
  if (n == 0) return 1;  // an embedded NUL is one character
  if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
    *state = std::mbstate_t{};
    return 1;
  }
  return n;
}

}  // namespace

size_t FindMultibyte(std::string_view haystack, std::string_view needle) {
  // In ASCII every byte is a character in every locale.
  if (settings::IsAscii(haystack)) return haystack.find(needle);
  settings::NeedCharacterLocale();
  std::mbstate_t state{};
  for (size_t i = 0; i <= haystack.size();) {
    if (haystack.compare(i, needle.size(), needle) == 0 && haystack.size() - i >= needle.size()) {
      return i;
    }
    if (i == haystack.size()) break;
    i += CharLength(haystack, i, &state);
  }
  return std::string_view::npos;
}

size_t FindLastCharMultibyte(std::string_view text, char c) {
  if (settings::IsAscii(text)) return text.rfind(c);
  settings::NeedCharacterLocale();
  std::mbstate_t state{};
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == c) found = i;
    i += CharLength(text, i, &state);
  }
  return found;
}

}  // namespace dbrelay
