#pragma once
// The text of a settings file as the reader and the writer see it: 8-bit text in the locale's
// encoding. Most files hold exactly that, byte for byte. A file that Windows Notepad saved as
// "Unicode" is UTF-16 with a byte-order mark; the Windows profile functions read such a file as
// text, so it is decoded here to the locale's encoding, and written back in UTF-16 with the same
// byte order and mark. A conversion that would lose a character is refused instead (EILSEQ): no
// value is ever changed on its way through.

#include <string>
#include <string_view>

namespace settings {

enum class IniEncoding {
  kLocale,   // 8-bit text as it stands (a UTF-8 byte-order mark included)
  kUtf16Le,  // "\xFF\xFE" first
  kUtf16Be,  // "\xFE\xFF" first
};

// Whether bytes begin with a UTF-16 byte-order mark of either byte order.
bool HasUtf16ByteOrderMark(std::string_view bytes);

// The text held by the bytes of a settings file, and how to write it back. Returns 0, or EILSEQ
// for UTF-16 that is broken (a lone surrogate, an odd byte count) or holds a character the
// locale's encoding (LC_CTYPE) cannot hold.
int DecodeIniBytes(std::string bytes, std::string* text, IniEncoding* encoding);

// The bytes that hold text in encoding, byte-order mark included. Returns 0, or EILSEQ when text
// is not valid in the locale's encoding.
int EncodeIniText(std::string_view text, IniEncoding encoding, std::string* bytes);

// ReadSettingsBytes (replace_file.h) and DecodeIniBytes: ENOENT when there is no file, every error
// of either otherwise.
int ReadIniText(const std::string& path, std::string* text, IniEncoding* encoding);

}  // namespace settings
