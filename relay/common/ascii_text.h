#pragma once
// Byte-wise text helpers for the ASCII parts of a text (keywords, blanks), which leave every other
// byte as it is, whatever the locale.

#include <string>
#include <string_view>

namespace dbrelay {

// text with A-Z turned into a-z.
inline std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// text without the characters of blanks at either end.
inline std::string TrimCharacters(std::string_view text, std::string_view blanks) {
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace dbrelay
