#pragma once
// E-mail notification: one plain message per call to the address in EmailTo, through the mail
// engine (relay/mail/mail_engine.h). Every call is a complete cycle (attach, login, connect, send,
// close, release) and reads every mail setting anew.

#include <string>

namespace dbrelay {

// Mails message under EmailSubject. Returns 0 when the message was handed over, 1 when the engine
// cannot be attached, 2 or 3 when the user name or password is refused, 4 when the server cannot
// be reached or refuses the session or the login, 5 when the sender, recipient or message is
// refused. Each failure is reported with mailing suppressed, so it never starts another mail.
int SendEmail(const std::string& message);

// address unchanged when it holds a "<" (a display name with an address, say), otherwise enclosed
// in "<" and ">"; "" becomes "<>".
std::string BracketAddress(const std::string& address);

// The recipients of EmailTo for the engine: a list of addresses separated by "," or ";" becomes
// each address through BracketAddress, joined with ", " (the engine sends one RCPT each); a single
// address, or none, is BracketAddress(addresses).
std::string BracketAddressList(const std::string& addresses);

}  // namespace dbrelay
