#pragma once
// Character searches that respect the multibyte encoding of the active locale (LC_CTYPE), so a byte
// inside a double-byte character is never taken for "/", ".", "<" or part of a word. Bytes that do
// not form a valid character count as one character each.

#include <string>
#include <string_view>

namespace dbrelay {

// Offset of the first occurrence of needle starting on a character boundary, or npos.
size_t FindMultibyte(std::string_view haystack, std::string_view needle);

// Offset of the last occurrence of the single-byte character c on a character boundary, or npos.
size_t FindLastCharMultibyte(std::string_view text, char c);

}  // namespace dbrelay
