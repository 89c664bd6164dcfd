#include "config_editor/locale_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <optional>

namespace config_editor {
namespace {

constexpr char kWindowsEncoding[] = "WINDOWS-1252";

// A strict conversion: nullopt when the input holds a sequence that from cannot read or that to
// cannot write, or when iconv does not know one of the encodings.
std::optional<std::string> Convert(std::string_view input, const std::string& from,
                                   const std::string& to) {
  iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string output;
  char buffer[1024];
  char* in = const_cast<char*>(input.data());
  size_t in_left = input.size();
  bool ok = true;
  for (bool flushing = false;;) {
    char* out = buffer;
    size_t out_left = sizeof buffer;
    size_t rc = flushing ? ::iconv(cd, nullptr, nullptr, &out, &out_left)
                         : ::iconv(cd, &in, &in_left, &out, &out_left);
    output.append(buffer, sizeof buffer - out_left);
    if (rc == static_cast<size_t>(-1) && errno == E2BIG) continue;
    if (rc == static_cast<size_t>(-1)) {
      ok = false;  // EILSEQ or a sequence cut off at the end (EINVAL)
      break;
    }
    if (flushing) break;
    flushing = true;  // the shift state back to the initial one, for stateful encodings
  }
  ::iconv_close(cd);
  if (!ok) return std::nullopt;
  return output;
}

}  // namespace

std::string LocaleEncoding() {
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && *codeset != '\0' ? codeset : "UTF-8";
}

ShownText DecodeSettingBytes(std::string_view bytes, const std::string& encoding) {
  const std::string from = encoding.empty() ? LocaleEncoding() : encoding;
  for (const std::string& candidate : {from, std::string(kWindowsEncoding)}) {
    if (std::optional<std::string> utf8 = Convert(bytes, candidate, "UTF-8")) {
      return {QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size())), true};
    }
  }
  return {QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())), false};
}

bool EncodeSettingText(const QString& text, std::string* bytes, const std::string& encoding) {
  const QByteArray utf8 = text.toUtf8();
  std::optional<std::string> encoded =
      Convert(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), "UTF-8",
              encoding.empty() ? LocaleEncoding() : encoding);
  if (!encoded) return false;
  *bytes = std::move(*encoded);
  return true;
}

}  // namespace config_editor
