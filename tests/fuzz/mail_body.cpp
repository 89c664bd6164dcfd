// The mail text path: line-end normalising and the composed message. Properties:
//  - NormalizeLineEnds leaves no CR or LF outside a CRLF, changes nothing but line ends, and is
//    idempotent;
//  - the composed message is headers, a blank line and a body in which no line passes the SMTP
//    limit; the body is plain ASCII as given (7bit), or quoted-printable in lines of at most 76
//    printable characters that decode back to the input with CRLF line ends; it is labelled UTF-8
//    only when it is ASCII or, in UTF-8, well-formed, else unknown-8bit; the subject (plain or
//    encoded words) decodes back to the subject given; in UTF-8 no encoded word splits a character
//    of a valid subject, since each word must decode on its own.
// Input: locale, subject, then the body (FuzzedDataProvider layout).

#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstdint>
#include <string>
#include <string_view>

#include "relay/mail/mail_message.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/base64.h"

namespace {

constexpr size_t kMaxLineOctets = 998;

// The input with every line end (CRLF, lone CR, lone LF) made a single LF.
std::string LineEndsAsLf(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  return out;
}

void CheckCrlfOnly(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n') FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
  }
}

// Strict decoder: whole quads, padding only at the end.
std::string DecodeBase64(std::string_view text) {
  FUZZ_CHECK(text.size() % 4 == 0);
  std::string out;
  for (size_t i = 0; i < text.size(); i += 4) {
    int pad = (text[i + 3] == '=') + (text[i + 2] == '=');
    if (pad) FUZZ_CHECK(i + 4 == text.size());
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      int d = k >= 4 - pad ? 0 : testing_support::Base64Value(text[i + k]);
      FUZZ_CHECK(d >= 0);
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

std::string HeaderValue(std::string_view headers, std::string_view name) {
  size_t at = headers.find("\r\n" + std::string(name) + ": ");
  FUZZ_CHECK(at != std::string_view::npos);
  at += 2 + name.size() + 2;
  std::string value;
  for (;;) {
    size_t end = headers.find("\r\n", at);
    value += headers.substr(at, end - at);
    if (end == std::string_view::npos || end + 2 >= headers.size() || headers[end + 2] != ' ') break;
    at = end + 2;  // a folded line: the space stays, as unfolding keeps it
  }
  return value;
}

// Whether text is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 0x7F) return false;
  }
  return true;
}

// Strict decoder: "=" only before CRLF (a soft line break) or two upper-case hex digits.
std::string DecodeQuotedPrintable(std::string_view text) {
  auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else {
      FUZZ_CHECK(i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0);
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    }
  }
  return out;
}

// "=?charset?B?...?=" words (charset UTF-8 or unknown-8bit, one for all) separated by single
// spaces, decoded and joined. With whole_characters, each UTF-8 word on its own must be
// well-formed UTF-8.
std::string DecodeEncodedWords(std::string_view value, bool whole_characters) {
  const std::string_view prefix =
      value.compare(0, 15, "=?unknown-8bit?") == 0 ? "=?unknown-8bit?B?" : "=?UTF-8?B?";
  if (prefix != "=?UTF-8?B?") whole_characters = false;
  std::string out;
  size_t at = 0;
  while (at < value.size()) {
    FUZZ_CHECK(value.compare(at, prefix.size(), prefix) == 0);
    at += prefix.size();
    size_t end = value.find("?=", at);
    FUZZ_CHECK(end != std::string_view::npos);
    std::string word = DecodeBase64(value.substr(at, end - at));
    if (whole_characters) FUZZ_CHECK(IsUtf8(word));
    out += word;
    at = end + 2;
    if (at < value.size()) {
      FUZZ_CHECK(value[at] == ' ');
      ++at;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool utf8 = input.ConsumeBool();
  std::setlocale(LC_CTYPE, utf8 ? "C.UTF-8" : "C");
  std::string subject = input.ConsumeRandomLengthString(512);
  const std::string body = input.ConsumeRemainingBytesAsString();

  const std::string normal = dbrelay::NormalizeLineEnds(body);
  CheckCrlfOnly(normal);
  FUZZ_CHECK(LineEndsAsLf(normal) == LineEndsAsLf(body));
  FUZZ_CHECK(dbrelay::NormalizeLineEnds(normal) == normal);

  // Callers refuse a header with a line break before composing; so does this target.
  if (dbrelay::HasCrLfOrNul(subject)) subject.clear();
  dbrelay::MailHeaders headers;
  headers.date = "Thu, 10 Dec 2026 01:02:03 +0000";
  headers.from = "<relay@example.com>";
  headers.to = "<ops@example.com>";
  headers.subject = subject;
  headers.message_id = "<1.2@example.com>";
  headers.charset = "UTF-8";
  const std::string message = dbrelay::ComposeMessage(headers, body);

  const size_t blank = message.find("\r\n\r\n");
  FUZZ_CHECK(blank != std::string::npos);
  const std::string_view head = std::string_view(message).substr(0, blank + 2);
  const std::string_view text = std::string_view(message).substr(blank + 4);
  CheckCrlfOnly(head);
  for (size_t at = 0; at < head.size();) {
    size_t end = head.find("\r\n", at);
    FUZZ_CHECK(end - at <= kMaxLineOctets);
    at = end + 2;
  }

  const std::string shown_subject = HeaderValue("\r\n" + std::string(head), "Subject");
  if (shown_subject.compare(0, 2, "=?") == 0) {
    FUZZ_CHECK(DecodeEncodedWords(shown_subject, utf8 && IsUtf8(subject)) == subject);
  } else {
    FUZZ_CHECK(shown_subject == subject);
  }

  const std::string type = HeaderValue("\r\n" + std::string(head), "Content-Type");
  if (IsAscii(normal) || (utf8 && IsUtf8(normal))) {
    FUZZ_CHECK(type == "text/plain; charset=UTF-8");
  } else if (utf8) {
    FUZZ_CHECK(type == "text/plain; charset=unknown-8bit");
  }
  const std::string encoding = HeaderValue("\r\n" + std::string(head), "Content-Transfer-Encoding");
  if (encoding == "7bit") {
    FUZZ_CHECK(text == normal);
    FUZZ_CHECK(IsAscii(text) && text.find('\0') == std::string_view::npos);
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      if (end == std::string_view::npos) end = text.size();
      FUZZ_CHECK(end - at <= kMaxLineOctets);
      at = end + 2;
    }
    return 0;
  }
  FUZZ_CHECK(encoding == "quoted-printable");
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    FUZZ_CHECK(end - at <= 76);
    for (size_t k = at; k < end; ++k) {
      auto c = static_cast<unsigned char>(text[k]);
      FUZZ_CHECK(c == '\t' || (c >= 0x20 && c <= 0x7E));
    }
    if (end > at) FUZZ_CHECK(text[end - 1] != ' ' && text[end - 1] != '\t');
    at = end + 2;
  }
  FUZZ_CHECK(DecodeQuotedPrintable(text) == normal);
  return 0;
}
