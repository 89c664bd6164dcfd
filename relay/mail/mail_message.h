#pragma once
// The text work of a mail cycle, free of any engine: where the server is, which address goes on the
// envelope, and the exact bytes of the message handed to the SMTP DATA phase.

#include <optional>
#include <string>
#include <string_view>

namespace dbrelay {

inline constexpr int kDefaultSmtpPort = 25;
inline constexpr int kImplicitTlsSmtpPort = 465;  // TLS from the first byte ("smtps")

struct MailServer {
  std::string host;  // a name or an IP address, IPv6 without brackets
  int port = kDefaultSmtpPort;
};

// True when server is written "host:port" or "[v6]:port".
bool MailServerNamesPort(std::string_view server);

// Splits "host", "host:port", "[v6]" or "[v6]:port"; a missing port is default_port. nullopt for an
// empty host, a port outside 1-65535, or characters that have no place in a host name (blanks,
// control characters, "/", "@", "?", "#", "\"), so the text can never reach the engine as a URL.
std::optional<MailServer> ParseMailServer(std::string_view server, int default_port);

// True when text holds a CR, an LF or a NUL: such a text must never become part of a header or a
// command.
bool HasLineBreak(std::string_view text);

// The address for MAIL FROM / RCPT TO: the text between the first "<" and the next ">" when there
// is a "<" (found multibyte-aware), otherwise the whole text, trimmed. "<>" gives "".
std::string EnvelopeAddress(std::string_view address);

// Every line end of text (CRLF, a lone CR, a lone LF) as CRLF.
std::string NormalizeLineEnds(std::string_view text);

struct MailHeaders {
  std::string date;        // RFC 5322 date-time
  std::string from;        // as configured, bracketed
  std::string to;          // as configured, bracketed
  std::string subject;     // any bytes; encoded when not plain ASCII or too long for one line
  std::string message_id;  // "<...@...>"
  std::string charset;     // of subject and body, an IANA name
};

// The whole message: headers, a blank line and the body with CRLF line ends. The body travels as
// 8bit, or as base64 when it holds a line longer than SMTP allows or a NUL byte, so it always reads
// back unchanged. The headers must hold no line break (see HasLineBreak). Dot-stuffing is left to
// the SMTP client, which escapes a "." after every CRLF.
std::string ComposeMessage(const MailHeaders& headers, std::string_view body);

// An IANA name for a codeset name as the C library reports it ("ANSI_X3.4-1968" is "US-ASCII").
std::string CharsetName(std::string_view codeset);

}  // namespace dbrelay
