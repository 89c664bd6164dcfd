#pragma once
// The text work of a mail cycle, free of any engine: where the server is, which address goes on the
// envelope, and the exact bytes of the message handed to the SMTP DATA phase.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
bool HasCrLfOrNul(std::string_view text);

// The address for MAIL FROM / RCPT TO: the text between the first "<" and the next ">" when there
// is a "<" (found multibyte-aware), otherwise the whole text, trimmed. "<>" gives "".
std::string EnvelopeAddress(std::string_view address);

// Every line end of text (CRLF, a lone CR, a lone LF) as CRLF.
std::string NormalizeLineEnds(std::string_view text);

// Whether name is a fully-qualified domain name as a greeting may carry it: at least two labels of
// letters, digits and inner hyphens, each 1-63 characters, 253 in all, the last not all digits. A
// single final dot is allowed.
bool IsDomainName(std::string_view name);

// The RFC 5321 address literal of a numeric address: "[192.0.2.1]", "[IPv6:2001:db8::1]".
std::string AddressLiteral(std::string_view numeric_address);

// The name the client greets with (EHLO): the host's name when it is fully qualified, else its
// canonical name when that is, without a final dot; else "" (the caller then greets with an
// address literal of the local end of the connection).
std::string HelloDomain(std::string_view host_name, std::string_view canonical_name);

// The addresses of a list such as "a@example.org, B <b@example.org>; c@example.org": split at ","
// and ";" outside double quotes, angle brackets and parentheses, each trimmed, empty ones left out.
std::vector<std::string> SplitAddressList(std::string_view list);

// Whether every byte of text is part of a valid character of the C library's current locale
// (LC_CTYPE). In a US-ASCII locale no byte above 0x7F is.
bool IsValidInLocale(std::string_view text, std::string_view charset);

// The charset label for text: charset when text is plain ASCII or valid in the locale, else
// "unknown-8bit" (RFC 1428), so that no reader is told bytes are what they are not.
std::string CharsetFor(std::string_view text, const std::string& charset);

struct MailHeaders {
  std::string date;        // RFC 5322 date-time
  std::string from;        // as configured, bracketed
  std::string to;          // as configured, bracketed
  std::string subject;     // any bytes; encoded when not plain ASCII or too long for one line
  std::string message_id;  // "<...@...>"
  std::string charset;     // the locale's, an IANA name; see CharsetFor
};

// The whole message: headers, a blank line and the body with CRLF line ends. A body of plain ASCII
// lines travels as it is (7bit); any other body (bytes above 0x7F, a NUL, a line longer than SMTP
// allows) travels quoted-printable, which every server takes, so it always reads back unchanged.
// The headers must hold no line break (see HasCrLfOrNul). Dot-stuffing is left to the SMTP client,
// which escapes a "." after every CRLF.
std::string ComposeMessage(const MailHeaders& headers, std::string_view body);

// text (line ends already CRLF) as quoted-printable (RFC 2045): lines of at most 76 characters,
// CRLF kept as line breaks, "=" and every byte outside printable ASCII as "=XX", a blank before a
// line break encoded, and a line's leading "From " or "." encoded so that no mailbox format or
// transport can mistake the line.
std::string EncodeQuotedPrintable(std::string_view text);

// An IANA name for a codeset name as the C library reports it ("ANSI_X3.4-1968" is "US-ASCII").
std::string CharsetName(std::string_view codeset);

}  // namespace dbrelay
