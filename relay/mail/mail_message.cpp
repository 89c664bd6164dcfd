#include "relay/mail/mail_message.h"

#include <charconv>
#include <cctype>
#include <cstdint>
#include <cwchar>

#include "relay/common/multibyte_text.h"
#include "settings/character_locale.h"

namespace dbrelay {

namespace {

// SMTP limits a line to 1000 octets with its CRLF.
constexpr size_t kMaxLineOctets = 998;
// Input bytes per RFC 2047 encoded word: 45 bytes make 60 base64 characters, so one word with its
// charset stays within a 76-character header line.
constexpr size_t kEncodedWordBytes = 45;

bool BadHostChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7f || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\' ||
         c == '[' || c == ']' || c == '%';
}

std::optional<int> ParsePort(std::string_view text) {
  int port = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

void AppendBase64(std::string_view bytes, std::string* out) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                 uint8_t(bytes[i + 2]);
    *out += kDigits[v >> 18];
    *out += kDigits[(v >> 12) & 63];
    *out += kDigits[(v >> 6) & 63];
    *out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    *out += kDigits[v >> 18];
    *out += kDigits[(v >> 12) & 63];
    *out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    *out += '=';
  }
}

bool IsPlainHeaderText(std::string_view text) {
  if (text.size() > kMaxLineOctets - 10) return false;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7e) return false;
  }
  // "=?" could be read as the start of an encoded word.
  return text.find("=?") == std::string_view::npos;
}

// Subject as encoded words, each holding whole characters of the locale's encoding, folded.
std::string EncodeHeaderText(std::string_view text, const std::string& charset) {
  std::string out;
  std::mbstate_t state{};
  size_t start = 0;
  size_t i = 0;
  auto flush = [&](size_t end) {
    if (!out.empty()) out += "\r\n ";
    out += "=?" + charset + "?B?";
    AppendBase64(text.substr(start, end - start), &out);
    out += "?=";
    start = end;
  };
  while (i < text.size()) {
    size_t n = std::mbrlen(text.data() + i, text.size() - i, &state);
    if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      state = std::mbstate_t{};
      n = 1;
    }
    if (i + n - start > kEncodedWordBytes && i > start) flush(i);
    i += n;
  }
  if (i > start || out.empty()) flush(i);
  return out;
}

// Whether body must be encoded to travel: a byte above 0x7F, a NUL, or a line SMTP cannot carry.
bool NeedsEncoding(std::string_view body) {
  size_t line = 0;
  for (char c : body) {
    auto u = static_cast<unsigned char>(c);
    if (u == 0 || u > 0x7f) return true;
    if (c == '\r' || c == '\n') {
      line = 0;
    } else if (++line > kMaxLineOctets) {
      return true;
    }
  }
  return false;
}

bool IsLabelChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }

}  // namespace

bool MailServerNamesPort(std::string_view server) {
  if (!server.empty() && server.front() == '[') {
    size_t close = server.find(']');
    return close != std::string_view::npos && close + 1 < server.size() &&
           server[close + 1] == ':';
  }
  size_t colon = server.find(':');
  return colon != std::string_view::npos && server.find(':', colon + 1) == std::string_view::npos;
}

std::optional<MailServer> ParseMailServer(std::string_view server, int default_port) {
  MailServer result;
  std::string_view host = server;
  std::string_view port;
  if (!server.empty() && server.front() == '[') {
    size_t close = server.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = server.substr(1, close - 1);
    std::string_view rest = server.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
    for (char c : host) {
      if (c != ':' && c != '.' && !std::isxdigit(static_cast<unsigned char>(c))) {
        return std::nullopt;
      }
    }
  } else if (MailServerNamesPort(server)) {
    size_t colon = server.find(':');
    host = server.substr(0, colon);
    port = server.substr(colon + 1);
    if (port.empty()) return std::nullopt;
  }
  if (host.empty()) return std::nullopt;
  bool v6 = host.find(':') != std::string_view::npos;
  for (char c : host) {
    if (BadHostChar(c)) return std::nullopt;
    if (v6 && c != ':' && c != '.' && !std::isxdigit(static_cast<unsigned char>(c))) {
      return std::nullopt;
    }
  }
  result.host = std::string(host);
  if (port.empty()) {
    if (default_port < 1 || default_port > 65535) return std::nullopt;
    result.port = default_port;
  } else {
    std::optional<int> number = ParsePort(port);
    if (!number) return std::nullopt;
    result.port = *number;
  }
  return result;
}

bool HasCrLfOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string EnvelopeAddress(std::string_view address) {
  std::string_view inner = address;
  size_t open = FindMultibyte(address, "<");
  if (open != std::string_view::npos) {
    inner = address.substr(open + 1);
    size_t close = inner.find('>');
    if (close != std::string_view::npos) inner = inner.substr(0, close);
  }
  while (!inner.empty() && (inner.front() == ' ' || inner.front() == '\t')) inner.remove_prefix(1);
  while (!inner.empty() && (inner.back() == ' ' || inner.back() == '\t')) inner.remove_suffix(1);
  return std::string(inner);
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ComposeMessage(const MailHeaders& headers, std::string_view body) {
  std::string subject =
      IsPlainHeaderText(headers.subject)
          ? headers.subject
          : EncodeHeaderText(headers.subject, CharsetFor(headers.subject, headers.charset));
  std::string text = NormalizeLineEnds(body);
  bool encode = NeedsEncoding(text);
  std::string out;
  out.reserve(text.size() * (encode ? 3 : 1) + 512);
  out += "Date: " + headers.date + "\r\n";
  out += "From: " + headers.from + "\r\n";
  out += "To: " + headers.to + "\r\n";
  out += "Subject: " + subject + "\r\n";
  out += "Message-ID: " + headers.message_id + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: text/plain; charset=" + CharsetFor(text, headers.charset) + "\r\n";
  out += std::string("Content-Transfer-Encoding: ") + (encode ? "quoted-printable" : "7bit") +
         "\r\n";
  out += "\r\n";
  out += encode ? EncodeQuotedPrintable(text) : text;
  return out;
}

std::string EncodeQuotedPrintable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr size_t kMaxQpLine = 76;  // with the "=" of a soft line break
  std::string out;
  out.reserve(text.size() * 3);
  size_t column = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) {
      out += "\r\n";
      column = 0;
      ++i;
      continue;
    }
    auto u = static_cast<unsigned char>(text[i]);
    bool at_break = i + 1 == text.size() || text.compare(i + 1, 2, "\r\n") == 0;
    bool literal = (u >= 33 && u <= 126 && u != '=') || ((u == ' ' || u == '\t') && !at_break);
    if (column + (literal ? 1 : 3) > kMaxQpLine - 1) {
      out += "=\r\n";  // soft line break
      column = 0;
    }
    if (column == 0 && (u == '.' || text.compare(i, 5, "From ") == 0)) literal = false;
    if (literal) {
      out += static_cast<char>(u);
    } else {
      out += '=';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
    column += literal ? 1 : 3;
  }
  return out;
}

bool IsDomainName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.size() > 253) return false;
  size_t labels = 0;
  std::string_view last;
  while (!name.empty()) {
    size_t dot = name.find('.');
    std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
      return false;
    }
    for (char c : label) {
      if (!IsLabelChar(c)) return false;
    }
    ++labels;
    last = label;
    name = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (dot != std::string_view::npos && name.empty()) return false;
  }
  bool numeric = last.find_first_not_of("0123456789") == std::string_view::npos;
  return labels >= 2 && !numeric;
}

std::string AddressLiteral(std::string_view numeric_address) {
  bool v6 = numeric_address.find(':') != std::string_view::npos;
  return std::string(v6 ? "[IPv6:" : "[") + std::string(numeric_address) + "]";
}

std::string HelloDomain(std::string_view host_name, std::string_view canonical_name) {
  std::string_view name = IsDomainName(host_name)        ? host_name
                          : IsDomainName(canonical_name) ? canonical_name
                                                         : std::string_view();
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);  // the root stays unsaid
  return std::string(name);
}

std::vector<std::string> SplitAddressList(std::string_view list) {
  std::vector<std::string> addresses;
  auto add = [&](std::string_view item) {
    size_t first = item.find_first_not_of(" \t");
    if (first == std::string_view::npos) return;
    size_t last = item.find_last_not_of(" \t");
    addresses.emplace_back(item.substr(first, last - first + 1));
  };
  bool quoted = false;
  bool in_angle = false;
  int comment = 0;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    char c = list[i];
    if (quoted) {
      if (c == '\\') {
        ++i;  // a quoted pair
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(') {
      ++comment;
    } else if (c == ')' && comment > 0) {
      --comment;
    } else if (c == '<' && comment == 0) {
      in_angle = true;
    } else if (c == '>') {
      in_angle = false;
    } else if ((c == ',' || c == ';') && !in_angle && comment == 0) {
      add(list.substr(start, i - start));
      start = i + 1;
    }
  }
  add(list.substr(start));
  return addresses;
}

bool IsValidInLocale(std::string_view text, std::string_view charset) {
  bool ascii_only = charset == "US-ASCII";
  std::mbstate_t state{};
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) <= 0x7f) {
      ++i;
      continue;
    }
    if (ascii_only) return false;
    wchar_t wide = 0;
    size_t n = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
#ifdef __STDC_ISO_10646__
    // The C library's UTF-8 takes sequences past U+10FFFF, which no reader does.
    if (static_cast<uint32_t>(wide) > 0x10ffff) return false;
#endif
    i += n == 0 ? 1 : n;
  }
  return true;
}

std::string CharsetFor(std::string_view text, const std::string& charset) {
  return settings::IsAscii(text) || IsValidInLocale(text, charset) ? charset : "unknown-8bit";
}

std::string CharsetName(std::string_view codeset) {
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "US-ASCII";
  for (char c : codeset) {
    auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == ':')) return "US-ASCII";
  }
  return std::string(codeset);
}

}  // namespace dbrelay
