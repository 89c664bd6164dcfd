#pragma once
// Reading back a message the way a mail reader would: its header block, one header's value, and
// the body decoded from its Content-Transfer-Encoding (7bit, 8bit, quoted-printable, base64).

#include <string>

namespace testing_support {

struct ParsedMail {
  std::string headers;  // every header line with its CRLF, without the blank line
  std::string body;     // decoded
  std::string encoded_body;
};

// data: a whole message with CRLF line ends.
ParsedMail ParseMessage(const std::string& data);

// The value of the first header called name (any letter case), unfolded; "" when there is none.
std::string HeaderValue(const std::string& headers, const std::string& name);

std::string DecodeQuotedPrintable(const std::string& text);
std::string DecodeBase64(const std::string& text);

}  // namespace testing_support
