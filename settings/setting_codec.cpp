#include "settings/setting_codec.h"

namespace settings {

namespace {
constexpr int kShiftPeriod = 50;
constexpr char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

std::string EncodeSettingValue(std::string_view plain) {
  std::string out(kScrambleMarker);
  out.reserve(kScrambleMarker.size() + 2 * plain.size());
  size_t j = 0;
  for (unsigned char byte : plain) {
    for (char digit : {kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]}) {
      out += static_cast<char>(digit + static_cast<int>(j % kShiftPeriod));
      ++j;
    }
  }
  return out;
}

std::string DecodeSettingValue(std::string_view stored) {
  if (stored.substr(0, kScrambleMarker.size()) != kScrambleMarker) return std::string(stored);
  std::string_view body = stored.substr(kScrambleMarker.size());
  std::string hex(body.size(), '\0');
  for (size_t i = 0; i < body.size(); ++i) {
    hex[i] = static_cast<char>(static_cast<unsigned char>(body[i]) - (i % kShiftPeriod));
  }
  std::string out;
  out.reserve(hex.size() / 2 + 1);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigitValue(hex[i]);
    int lo = i + 1 < hex.size() ? HexDigitValue(hex[i + 1]) : 0;  // one past the end reads as NUL
    out += static_cast<char>((hi * 16 + lo) & 0xFF);
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace settings
