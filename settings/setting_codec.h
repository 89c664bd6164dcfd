#pragma once
// The keyless scrambled form of the secret settings values (the connection strings and the mail
// password): "TAVOK" followed by the hex text of the value, each hex character shifted by its
// position modulo 50. It hides secrets from a casual glance at the file; it is not encryption.
// "abc" is stored as "TAVOK6285:8".

#include <string>
#include <string_view>

namespace settings {

inline constexpr std::string_view kScrambleMarker = "TAVOK";

// The scrambled form of plain; "TAVOK" alone for an empty value.
std::string EncodeSettingValue(std::string_view plain);

// The plain value of a stored value. A value that does not begin with "TAVOK" (case-sensitive, at
// position 0) is returned unchanged, so secrets may also be written by hand in plain text. A damaged
// body still decodes: unknown characters count as the digit 0 and an odd last digit gets a low half
// of 0. Never fails.
std::string DecodeSettingValue(std::string_view stored);

// 1-9 for "1"-"9", 10-15 for "A"-"F" and "a"-"f", 0 for every other character.
int HexDigitValue(char c);

}  // namespace settings
