#include "config_editor/locale_text.h"

#include <gtest/gtest.h>

namespace config_editor {
namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  const char* encoding;
  const char* shown;  // UTF-8
  bool faithful;
};

class DecodeSettingBytesTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeSettingBytesTest, ShowsTheLocaleTextThenWindows1252) {
  ShownText shown = DecodeSettingBytes(GetParam().bytes, GetParam().encoding);
  EXPECT_EQ(shown.text, QString::fromUtf8(GetParam().shown));
  EXPECT_EQ(shown.faithful, GetParam().faithful);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeSettingBytesTest,
    ::testing::Values(
        DecodeCase{"utf8", "Gr\xC3\xBC\xC3\x9F" "e", "UTF-8", "Grüße", true},
        DecodeCase{"windows_bytes_in_utf8_locale", "Caf\xE9 \x80", "UTF-8", "Café €", true},
        DecodeCase{"latin1_locale", "Caf\xE9", "ISO-8859-1", "Café", true},
        DecodeCase{"undefined_in_windows_1252", "a\x81", "UTF-8", "a\xEF\xBF\xBD", false},
        DecodeCase{"cut_utf8_sequence", "a\xC3", "UTF-8", "aÃ", true},
        DecodeCase{"empty", "", "UTF-8", "", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeSettingTextTest, WritesTheLocaleEncodingAndRefusesWhatItCannotHold) {
  std::string bytes = "unchanged";
  EXPECT_TRUE(EncodeSettingText(QString::fromUtf8("Grüße"), &bytes, "ISO-8859-1"));
  EXPECT_EQ(bytes, "Gr\xFC\xDF" "e");
  EXPECT_TRUE(EncodeSettingText(QString::fromUtf8("€"), &bytes, "UTF-8"));
  EXPECT_EQ(bytes, "\xE2\x82\xAC");
  bytes = "unchanged";
  EXPECT_FALSE(EncodeSettingText(QString::fromUtf8("€"), &bytes, "ISO-8859-1"));
  EXPECT_EQ(bytes, "unchanged");
  EXPECT_FALSE(EncodeSettingText("x", &bytes, "NO-SUCH-ENCODING"));
}

}  // namespace
}  // namespace config_editor
