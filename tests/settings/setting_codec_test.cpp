#include "settings/setting_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using settings::DecodeSettingValue;
using settings::EncodeSettingValue;
using settings::HexDigitValue;

TEST(SettingCodecTest, KnownForm) {
  EXPECT_EQ(EncodeSettingValue("abc"), "TAVOK6285:8");
  EXPECT_EQ(DecodeSettingValue("TAVOK6285:8"), "abc");
  EXPECT_EQ(EncodeSettingValue(""), "TAVOK");
}

TEST(SettingCodecTest, RoundTripOfEveryLengthPastTheWrap) {
  for (size_t n = 0; n <= 80; ++n) {  // the shift wraps at body position 50, byte 25
    std::string plain;
    for (size_t i = 0; i < n; ++i) plain += static_cast<char>('!' + (i * 7) % 90);
    std::string stored = EncodeSettingValue(plain);
    ASSERT_EQ(stored.size(), 5 + 2 * n);
    for (char c : stored.substr(5)) {
      ASSERT_GE(c, '0');
      ASSERT_LE(c, 'w');
    }
    ASSERT_EQ(DecodeSettingValue(stored), plain) << "length " << n;
  }
}

TEST(SettingCodecTest, HighBytesTakeTwoDigitsEach) {
  std::string plain;
  for (int b = 0x80; b <= 0xFF; ++b) plain += static_cast<char>(b);
  std::string stored = EncodeSettingValue(plain);
  EXPECT_EQ(stored.size(), 5 + 2 * plain.size());
  EXPECT_EQ(DecodeSettingValue(stored), plain);
}

TEST(SettingCodecTest, LongestValueThatSurvivesTheReadCut) {
  std::string plain(2045, 'p');
  EXPECT_EQ(EncodeSettingValue(plain).size(), 4095u);
  EXPECT_EQ(DecodeSettingValue(EncodeSettingValue(plain).substr(0, 4095)), plain);
  std::string longer(2046, 'p');
  EXPECT_EQ(DecodeSettingValue(EncodeSettingValue(longer).substr(0, 4095)).substr(0, 2045),
            plain);
}

struct DecodeCase {
  const char* name;
  std::string stored;
  std::string plain;
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Decodes) { EXPECT_EQ(DecodeSettingValue(GetParam().stored), GetParam().plain); }

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTest,
    testing::Values(DecodeCase{"marker_alone", "TAVOK", ""},
                    DecodeCase{"empty", "", ""},
                    DecodeCase{"odd_body", "TAVOK6285:", "\x61\x62\x60"},
                    DecodeCase{"lower_case_marker_passes", "tavok6285:8", "tavok6285:8"},
                    DecodeCase{"marker_not_at_start_passes", "xTAVOK6285:8", "xTAVOK6285:8"},
                    DecodeCase{"plain_passes", "Driver=SQLite3;Database=a.db",
                               "Driver=SQLite3;Database=a.db"},
                    DecodeCase{"hand_written_marker_is_decoded", "TAVOKzz", std::string("\x00", 1)},
                    DecodeCase{"lower_case_digits", "TAVOK6b", std::string("\x6a", 1)},
                    DecodeCase{"damaged_body", "TAVOK~~~~", std::string("\x00\x00", 2)},
                    DecodeCase{"zero_pair_puts_a_nul", "TAVOK01", std::string("\x00", 1)}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(SettingCodecTest, HexDigitValueTable) {
  const std::string digits = "123456789";
  for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), int(i) + 1);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(HexDigitValue(static_cast<char>('A' + i)), 10 + i);
    EXPECT_EQ(HexDigitValue(static_cast<char>('a' + i)), 10 + i);
  }
  for (char c : std::string("0GgZ z/:@`\x80\xff", 13)) EXPECT_EQ(HexDigitValue(c), 0) << int(c);
}

}  // namespace
