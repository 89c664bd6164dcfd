#pragma once
// The base64 alphabet, for tests that decode what DbRelay sent (independently of how it encodes).

namespace testing_support {

// The 6-bit value of a base64 digit, or -1 for any other character ("=" included).
inline int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace testing_support
