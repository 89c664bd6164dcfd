// The scrambled-value codec on arbitrary bytes. Properties:
//  - every value comes back from encode and decode unchanged, zero bytes and high bytes included;
//  - the encoded form is the marker and two printable characters per byte;
//  - any stored text decodes without failing: text without the marker at position 0 passes
//    unchanged, a marked body gives one byte per two characters (an odd last one included).

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/setting_codec.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string encoded = settings::EncodeSettingValue(bytes);
  FUZZ_CHECK(encoded.size() == settings::kScrambleMarker.size() + 2 * bytes.size());
  FUZZ_CHECK(encoded.compare(0, settings::kScrambleMarker.size(), settings::kScrambleMarker) == 0);
  for (size_t i = settings::kScrambleMarker.size(); i < encoded.size(); ++i) {
    FUZZ_CHECK(encoded[i] >= 0x30 && encoded[i] <= 0x77);
  }
  FUZZ_CHECK(settings::DecodeSettingValue(encoded) == bytes);

  // The input itself as a stored value, as a hand-edited file could hold it.
  const std::string decoded = settings::DecodeSettingValue(bytes);
  if (bytes.substr(0, settings::kScrambleMarker.size()) != settings::kScrambleMarker) {
    FUZZ_CHECK(decoded == bytes);
  } else {
    const size_t body = bytes.size() - settings::kScrambleMarker.size();
    FUZZ_CHECK(decoded.size() == (body + 1) / 2);
  }
  for (unsigned char c : bytes) {
    int v = settings::HexDigitValue(static_cast<char>(c));
    FUZZ_CHECK(v >= 0 && v <= 15);
  }
  return 0;
}
