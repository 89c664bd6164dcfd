#pragma once
// The small text jobs both programs do on 8-bit settings text. Only ASCII letters and blanks are
// touched, so every other byte, a multibyte sequence of the locale's character set included,
// keeps its value and its position.

#include <string>
#include <string_view>

namespace settings {

// text without the characters of blanks at either end.
std::string_view TrimCharacters(std::string_view text, std::string_view blanks);

// Whitespace as the profile functions trim it: blanks, tabs and the line-end characters.
std::string_view TrimBlanks(std::string_view text);

// 'A'-'Z' lower-cased, every other byte as it is.
char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view text);

// ASCII case-insensitive equality; section and key names match this way.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace settings
