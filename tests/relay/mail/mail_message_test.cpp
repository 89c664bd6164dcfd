#include "relay/mail/mail_message.h"

#include <gtest/gtest.h>

#include <clocale>

#include "relay/mail/send_email.h"
#include "tests/support/mime_text.h"

namespace {

// The C library's character type locale for one test, as DbRelay takes it from its environment.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
    EXPECT_NE(std::setlocale(LC_CTYPE, name), nullptr) << name;
  }
  ~ScopedLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }

 private:
  std::string previous_;
};

struct BracketCase {
  std::string address;
  std::string bracketed;
};

class BracketAddressTest : public testing::TestWithParam<BracketCase> {};

TEST_P(BracketAddressTest, EnclosesUnlessThereIsAnOpeningBracket) {
  EXPECT_EQ(dbrelay::BracketAddress(GetParam().address), GetParam().bracketed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BracketAddressTest,
    testing::Values(BracketCase{"", "<>"}, BracketCase{"ops@example.org", "<ops@example.org>"},
                    BracketCase{"Ops Desk <ops@example.org>", "Ops Desk <ops@example.org>"},
                    BracketCase{"<ops@example.org>", "<ops@example.org>"},
                    BracketCase{"a@example.org, b@example.org", "<a@example.org, b@example.org>"},
                    BracketCase{"ops@example.org>", "<ops@example.org>>"},
                    BracketCase{"J\xc3\xbcrgen <j@example.org>", "J\xc3\xbcrgen <j@example.org>"},
                    BracketCase{"\xff\xfe@example.org", "<\xff\xfe@example.org>"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct ServerCase {
  std::string text;
  bool valid;
  std::string host;
  int port;
};

class ParseMailServerTest : public testing::TestWithParam<ServerCase> {};

TEST_P(ParseMailServerTest, HostAndPort) {
  auto server = dbrelay::ParseMailServer(GetParam().text, 2525);
  ASSERT_EQ(server.has_value(), GetParam().valid);
  if (!server) return;
  EXPECT_EQ(server->host, GetParam().host);
  EXPECT_EQ(server->port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMailServerTest,
    testing::Values(ServerCase{"mail.example.org", true, "mail.example.org", 2525},
                    ServerCase{"mail.example.org:587", true, "mail.example.org", 587},
                    ServerCase{"127.0.0.1:465", true, "127.0.0.1", 465},
                    ServerCase{"[::1]:26", true, "::1", 26}, ServerCase{"[::1]", true, "::1", 2525},
                    ServerCase{"::1", true, "::1", 2525}, ServerCase{"", false, "", 0},
                    ServerCase{":25", false, "", 0}, ServerCase{"host:", false, "", 0},
                    ServerCase{"host:0", false, "", 0}, ServerCase{"host:65536", false, "", 0},
                    ServerCase{"host:25x", false, "", 0}, ServerCase{"host/evil", false, "", 0},
                    ServerCase{"user@host", false, "", 0}, ServerCase{"mail host", false, "", 0},
                    ServerCase{"host\r\nQUIT", false, "", 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(MailMessageTest, EnvelopeAddress) {
  EXPECT_EQ(dbrelay::EnvelopeAddress("<ops@example.org>"), "ops@example.org");
  EXPECT_EQ(dbrelay::EnvelopeAddress("Ops Desk <ops@example.org>"), "ops@example.org");
  EXPECT_EQ(dbrelay::EnvelopeAddress("<>"), "");
  EXPECT_EQ(dbrelay::EnvelopeAddress("ops@example.org"), "ops@example.org");
}

TEST(MailMessageTest, LineEndsBecomeCrlf) {
  EXPECT_EQ(dbrelay::NormalizeLineEnds("a\nb\rc\r\nd\n\n\r\r\n"), "a\r\nb\r\nc\r\nd\r\n\r\n\r\n\r\n");
}

TEST(MailMessageTest, NonAsciiSubjectIsEncodedInWholeWords) {
  ScopedLocale utf8("C.UTF-8");
  dbrelay::MailHeaders headers{"Thu, 01 Jan 2026 00:00:00 +0000", "<a@b>", "<c@d>",
                               std::string(44, 'x') + "\xc3\xa9t\xc3\xa9", "<1@b>", "UTF-8"};
  std::string message = dbrelay::ComposeMessage(headers, "body\n");
  EXPECT_NE(message.find("Subject: =?UTF-8?B?"), std::string::npos) << message;
  EXPECT_NE(message.find("\r\n =?UTF-8?B?"), std::string::npos) << message;  // folded, not cut
  EXPECT_EQ(message.substr(message.size() - 6), "body\r\n");
}

TEST(MailMessageTest, SubjectInvalidInTheLocaleIsLabelledUnknown8bit) {
  ScopedLocale utf8("C.UTF-8");
  dbrelay::MailHeaders headers{"Thu, 01 Jan 2026 00:00:00 +0000", "<a@b>", "<c@d>",
                               "caf\xe9", "<1@b>", "UTF-8"};
  std::string message = dbrelay::ComposeMessage(headers, "body\n");
  EXPECT_NE(message.find("Subject: =?unknown-8bit?B?"), std::string::npos) << message;
}

struct DomainCase {
  std::string name;
  bool fqdn;
};

class IsDomainNameTest : public testing::TestWithParam<DomainCase> {};

TEST_P(IsDomainNameTest, OnlyFullyQualifiedNames) {
  EXPECT_EQ(dbrelay::IsDomainName(GetParam().name), GetParam().fqdn) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsDomainNameTest,
    testing::Values(DomainCase{"relay.example.org", true}, DomainCase{"relay.example.org.", true},
                    DomainCase{"a-b.c9", true}, DomainCase{"vm", false}, DomainCase{"", false},
                    DomainCase{"localhost", false}, DomainCase{"127.0.0.1", false},
                    DomainCase{"relay..example", false}, DomainCase{".example", false},
                    DomainCase{"-a.example", false}, DomainCase{"a-.example", false},
                    DomainCase{"a_b.example", false}, DomainCase{"r\xc3\xa9.example", false},
                    DomainCase{std::string(64, 'a') + ".example", false},
                    DomainCase{std::string(63, 'a') + ".example", true},
                    DomainCase{"[127.0.0.1]", false}, DomainCase{"a.example..", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(MailMessageTest, GreetingNameAndAddressLiterals) {
  EXPECT_EQ(dbrelay::HelloDomain("relay.example.org", "other.example.org"), "relay.example.org");
  EXPECT_EQ(dbrelay::HelloDomain("vm", "vm.example.org"), "vm.example.org");
  EXPECT_EQ(dbrelay::HelloDomain("vm", "vm"), "");
  EXPECT_EQ(dbrelay::HelloDomain("relay.example.org.", ""), "relay.example.org");
  EXPECT_EQ(dbrelay::HelloDomain("", ""), "");
  EXPECT_EQ(dbrelay::AddressLiteral("127.0.0.1"), "[127.0.0.1]");
  EXPECT_EQ(dbrelay::AddressLiteral("::1"), "[IPv6:::1]");
  EXPECT_EQ(dbrelay::AddressLiteral("2001:db8::7"), "[IPv6:2001:db8::7]");
}

struct ListCase {
  std::string list;
  std::vector<std::string> addresses;
  std::string bracketed;  // BracketAddressList
};

class AddressListTest : public testing::TestWithParam<ListCase> {};

TEST_P(AddressListTest, SplitsAtCommasAndSemicolonsOutsideNamesAndBrackets) {
  EXPECT_EQ(dbrelay::SplitAddressList(GetParam().list), GetParam().addresses);
  EXPECT_EQ(dbrelay::BracketAddressList(GetParam().list), GetParam().bracketed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressListTest,
    testing::Values(
        ListCase{"ops@example.org", {"ops@example.org"}, "<ops@example.org>"},
        ListCase{"", {}, "<>"}, ListCase{" , ;", {}, "< , ;>"},
        ListCase{"a@x.org, b@x.org", {"a@x.org", "b@x.org"}, "<a@x.org>, <b@x.org>"},
        ListCase{"a@x.org;b@x.org;", {"a@x.org", "b@x.org"}, "<a@x.org>, <b@x.org>"},
        ListCase{"Ops <a@x.org>; b@x.org", {"Ops <a@x.org>", "b@x.org"},
                 "Ops <a@x.org>, <b@x.org>"},
        ListCase{"\"Desk, Ops\" <a@x.org>, b@x.org",
                 {"\"Desk, Ops\" <a@x.org>", "b@x.org"},
                 "\"Desk, Ops\" <a@x.org>, <b@x.org>"},
        ListCase{"\"a\\\"; b\" <a@x.org>", {"\"a\\\"; b\" <a@x.org>"}, "\"a\\\"; b\" <a@x.org>"},
        ListCase{"a@x.org (Ops, night), b@x.org", {"a@x.org (Ops, night)", "b@x.org"},
                 "<a@x.org (Ops, night)>, <b@x.org>"},
        ListCase{"Ops <a@x.org>", {"Ops <a@x.org>"}, "Ops <a@x.org>"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct CharsetCase {
  std::string text;
  std::string utf8_label;   // in a UTF-8 locale
  std::string ascii_label;  // in the C locale
};

class CharsetForTest : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetForTest, LocaleCharsetOnlyWhenTheBytesAreValidInIt) {
  {
    ScopedLocale utf8("C.UTF-8");
    EXPECT_EQ(dbrelay::CharsetFor(GetParam().text, "UTF-8"), GetParam().utf8_label);
  }
  ScopedLocale c("C");
  EXPECT_EQ(dbrelay::CharsetFor(GetParam().text, "US-ASCII"), GetParam().ascii_label);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CharsetForTest,
    testing::Values(CharsetCase{"plain text", "UTF-8", "US-ASCII"},
                    CharsetCase{"Gr\xc3\xbc\xc3\x9f \xe2\x98\x83 \xf0\x9f\x98\x80", "UTF-8",
                                "unknown-8bit"},
                    CharsetCase{"caf\xe9", "unknown-8bit", "unknown-8bit"},
                    CharsetCase{"\xc0\xaf overlong", "unknown-8bit", "unknown-8bit"},
                    CharsetCase{"\xed\xa0\x80 surrogate", "unknown-8bit", "unknown-8bit"},
                    CharsetCase{"\xf4\x90\x80\x80 beyond", "unknown-8bit", "unknown-8bit"},
                    CharsetCase{"cut \xe2\x82", "unknown-8bit", "unknown-8bit"},
                    CharsetCase{std::string("nul\0", 4), "UTF-8", "US-ASCII"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Quoted-printable as RFC 2045 writes it, and back to the same bytes.
struct QpCase {
  std::string text;  // line ends already CRLF
  std::string encoded;
};

class QuotedPrintableTest : public testing::TestWithParam<QpCase> {};

TEST_P(QuotedPrintableTest, EncodesAndReadsBack) {
  std::string encoded = dbrelay::EncodeQuotedPrintable(GetParam().text);
  if (!GetParam().encoded.empty()) {
    EXPECT_EQ(encoded, GetParam().encoded);
  }
  EXPECT_EQ(testing_support::DecodeQuotedPrintable(encoded), GetParam().text);
  size_t start = 0;
  while (start <= encoded.size()) {
    size_t end = std::min(encoded.find("\r\n", start), encoded.size());
    std::string line = encoded.substr(start, end - start);
    EXPECT_LE(line.size(), 76u) << line;
    for (char c : line) {
      auto u = static_cast<unsigned char>(c);
      EXPECT_TRUE(u == '\t' || (u >= 32 && u <= 126)) << line;
    }
    if (!line.empty()) {
      EXPECT_NE(line.back(), ' ') << line;
      EXPECT_NE(line.front(), '.') << line;
      EXPECT_NE(line.rfind("From ", 0), 0u) << line;
    }
    start = end + 2;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuotedPrintableTest,
    testing::Values(QpCase{"plain\r\n", "plain\r\n"},
                    QpCase{"Gr\xc3\xbc\xc3\x9f\r\n", "Gr=C3=BC=C3=9F\r\n"},
                    QpCase{"a=b", "a=3Db"}, QpCase{"end \r\ntab\t", "end=20\r\ntab=09"},
                    QpCase{".\r\n..\r\n", "=2E\r\n=2E.\r\n"},
                    QpCase{"From here\r\nFrom", "=46rom here\r\nFrom"},
                    QpCase{std::string("\0\x01\x7f\xff", 4), "=00=01=7F=FF"},
                    QpCase{"lone\rcr\nlf", "lone=0Dcr=0Alf"}, QpCase{"", ""},
                    QpCase{std::string(200, 'x') + "\r\n", ""},
                    QpCase{std::string(74, 'x') + "\xe9\xe9 .From x", ""},
                    QpCase{std::string(75, 'x') + ".x", ""},
                    QpCase{std::string(3000, '\xff'), ""}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(MailMessageTest, OnlyPlainAsciiLinesTravelUnencoded) {
  ScopedLocale utf8("C.UTF-8");
  auto compose = [](const std::string& body) {
    dbrelay::MailHeaders headers{"Thu, 01 Jan 2026 00:00:00 +0000", "<a@b>", "<c@d>", "s",
                                 "<1@b>", "UTF-8"};
    return testing_support::ParseMessage(dbrelay::ComposeMessage(headers, body));
  };
  struct Case {
    std::string body;
    std::string encoding;
    std::string charset;
  };
  for (const Case& c : std::vector<Case>{
           {"plain\n", "7bit", "UTF-8"},
           {"Gr\xc3\xbc\xc3\x9f\n", "quoted-printable", "UTF-8"},
           {"caf\xe9\n", "quoted-printable", "unknown-8bit"},
           {std::string(999, 'x') + "\n", "quoted-printable", "UTF-8"},
           {std::string(998, 'x') + "\n", "7bit", "UTF-8"},
           {std::string("a\0b\n", 4), "quoted-printable", "UTF-8"}}) {
    auto mail = compose(c.body);
    EXPECT_EQ(testing_support::HeaderValue(mail.headers, "Content-Transfer-Encoding"), c.encoding);
    EXPECT_EQ(testing_support::HeaderValue(mail.headers, "Content-Type"),
              "text/plain; charset=" + c.charset);
    EXPECT_EQ(mail.body, dbrelay::NormalizeLineEnds(c.body));
  }
}

}  // namespace
