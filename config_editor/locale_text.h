#pragma once
// Between the settings' 8-bit strings and the text the dialog shows. The settings file holds bytes
// in the locale's encoding, or Windows-1252 when a Windows program wrote it; the conversions go
// through iconv and never pass a value through a lossy step unnoticed.

#include <QString>
#include <string>
#include <string_view>

namespace config_editor {

// What a field shows for stored bytes. faithful is false when neither the locale's encoding nor
// Windows-1252 can read the bytes: the text then carries replacement characters, so the field
// must keep the bytes themselves until the user edits it.
struct ShownText {
  QString text;
  bool faithful = true;
};

// The locale's character encoding (nl_langinfo(CODESET)), e.g. "UTF-8" or "ISO-8859-1".
std::string LocaleEncoding();

// Decodes bytes in encoding (the locale's when empty), then as Windows-1252.
ShownText DecodeSettingBytes(std::string_view bytes, const std::string& encoding = {});

// Encodes text in encoding (the locale's when empty). Returns false when a character of text has
// no form there; *bytes is then unchanged.
bool EncodeSettingText(const QString& text, std::string* bytes, const std::string& encoding = {});

}  // namespace config_editor
