#include "relay/mail/mail_message.h"

#include <charconv>
#include <cctype>
#include <cstdint>
#include <cwchar>

#include "relay/common/multibyte_text.h"

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

bool NeedsBase64(std::string_view body) {
  size_t line = 0;
  for (char c : body) {
    if (c == '\0') return true;
    if (c == '\r' || c == '\n') {
      line = 0;
    } else if (++line > kMaxLineOctets) {
      return true;
    }
  }
  return false;
}

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

bool HasLineBreak(std::string_view text) {
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
  std::string subject = IsPlainHeaderText(headers.subject)
                            ? headers.subject
                            : EncodeHeaderText(headers.subject, headers.charset);
  std::string text = NormalizeLineEnds(body);
  bool base64 = NeedsBase64(text);
  std::string out;
  out.reserve(text.size() * (base64 ? 4 : 3) / 3 + 512);
  out += "Date: " + headers.date + "\r\n";
  out += "From: " + headers.from + "\r\n";
  out += "To: " + headers.to + "\r\n";
  out += "Subject: " + subject + "\r\n";
  out += "Message-ID: " + headers.message_id + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: text/plain; charset=" + headers.charset + "\r\n";
  out += std::string("Content-Transfer-Encoding: ") + (base64 ? "base64" : "8bit") + "\r\n";
  out += "\r\n";
  if (!base64) {
    out += text;
    return out;
  }
  constexpr size_t kBytesPerLine = 57;  // 76 base64 characters
  for (size_t i = 0; i < text.size(); i += kBytesPerLine) {
    AppendBase64(std::string_view(text).substr(i, kBytesPerLine), &out);
    out += "\r\n";
  }
  return out;
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
