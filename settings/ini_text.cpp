#include "settings/ini_text.h"

#include "settings/character_locale.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <utility>

#include "settings/replace_file.h"

namespace settings {

namespace {

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// One iconv conversion descriptor, closed when the object goes.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in; EILSEQ for input that is broken, cut short, or holds a character the
  // target cannot hold exactly.
  int Convert(std::string_view in, std::string* out) {
    char* in_at = const_cast<char*>(in.data());
    size_t in_left = in.size();
    size_t used = 0;
    out->resize(in.size() * 2 + 16);
    for (bool flushed = false; !flushed;) {
      // The last call has no input: it lets a stateful target close its shift state.
      const bool flushing = in_left == 0;
      char* out_at = out->data() + used;
      size_t out_left = out->size() - used;
      size_t rc = flushing ? ::iconv(cd_, nullptr, nullptr, &out_at, &out_left)
                           : ::iconv(cd_, &in_at, &in_left, &out_at, &out_left);
      int error = rc == static_cast<size_t>(-1) ? errno : 0;
      used = out->size() - out_left;
      if (error == E2BIG) {
        out->resize(out->size() * 2);
        continue;
      }
      if (error != 0 || rc != 0) {  // rc > 0 counts characters replaced by a look-alike
        out->clear();
        return EILSEQ;
      }
      flushed = flushing;
    }
    out->resize(used);
    return 0;
  }

 private:
  iconv_t cd_;
};

const char* LocaleCodeset() {
  NeedCharacterLocale();
  return ::nl_langinfo(CODESET);
}

const char* Utf16Name(IniEncoding encoding) {
  return encoding == IniEncoding::kUtf16Le ? "UTF-16LE" : "UTF-16BE";
}

}  // namespace

bool HasUtf16ByteOrderMark(std::string_view bytes) {
  std::string_view mark = bytes.substr(0, 2);
  return mark == kUtf16LeMark || mark == kUtf16BeMark;
}

int DecodeIniBytes(std::string bytes, std::string* text, IniEncoding* encoding) {
  if (!HasUtf16ByteOrderMark(bytes)) {
    *encoding = IniEncoding::kLocale;
    *text = std::move(bytes);
    return 0;
  }
  *encoding = bytes.substr(0, 2) == kUtf16LeMark ? IniEncoding::kUtf16Le : IniEncoding::kUtf16Be;
  Converter converter(LocaleCodeset(), Utf16Name(*encoding));
  if (!converter.ok()) return EILSEQ;
  return converter.Convert(std::string_view(bytes).substr(2), text);
}

int EncodeIniText(std::string_view text, IniEncoding encoding, std::string* bytes) {
  if (encoding == IniEncoding::kLocale) {
    bytes->assign(text);
    return 0;
  }
  Converter converter(Utf16Name(encoding), LocaleCodeset());
  if (!converter.ok()) return EILSEQ;
  std::string body;
  if (int error = converter.Convert(text, &body); error != 0) return error;
  *bytes = std::string(encoding == IniEncoding::kUtf16Le ? kUtf16LeMark : kUtf16BeMark) + body;
  return 0;
}

int ReadIniText(const std::string& path, std::string* text, IniEncoding* encoding) {
  std::string bytes;
  *encoding = IniEncoding::kLocale;
  text->clear();
  if (int error = ReadSettingsBytes(path, &bytes); error != 0) return error;
  return DecodeIniBytes(std::move(bytes), text, encoding);
}

}  // namespace settings
