#include "tests/support/mime_text.h"

#include <strings.h>

#include <cctype>

#include "tests/support/base64.h"

namespace testing_support {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not what an encoder writes: keep it visible
}

}  // namespace

ParsedMail ParseMessage(const std::string& data) {
  ParsedMail mail;
  size_t split = data.find("\r\n\r\n");
  if (split == std::string::npos) return mail;
  mail.headers = data.substr(0, split + 2);
  mail.encoded_body = data.substr(split + 4);
  std::string encoding = HeaderValue(mail.headers, "Content-Transfer-Encoding");
  for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (encoding == "quoted-printable") {
    mail.body = DecodeQuotedPrintable(mail.encoded_body);
  } else if (encoding == "base64") {
    mail.body = DecodeBase64(mail.encoded_body);
  } else {
    mail.body = mail.encoded_body;
  }
  return mail;
}

std::string HeaderValue(const std::string& headers, const std::string& name) {
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t end = headers.find("\r\n", pos);
    if (end == std::string::npos) end = headers.size();
    std::string line = headers.substr(pos, end - pos);
    pos = end + 2;
    if (line.size() > name.size() && line[name.size()] == ':' &&
        ::strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      std::string value = line.substr(name.size() + 1);
      while (pos < headers.size() && (headers[pos] == ' ' || headers[pos] == '\t')) {
        end = headers.find("\r\n", pos);
        if (end == std::string::npos) end = headers.size();
        value += headers.substr(pos, end - pos);
        pos = end + 2;
      }
      size_t first = value.find_first_not_of(" \t");
      return first == std::string::npos ? "" : value.substr(first);
    }
  }
  return "";
}

std::string DecodeQuotedPrintable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;  // soft line break
    } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string DecodeBase64(const std::string& text) {
  std::string out;
  int bits = 0, buffer = 0;
  for (char c : text) {
    int v = Base64Value(c);
    if (v < 0) continue;
    buffer = (buffer << 6) | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xff);
    }
  }
  return out;
}

}  // namespace testing_support
