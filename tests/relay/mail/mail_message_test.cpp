#include "relay/mail/mail_message.h"

#include <gtest/gtest.h>

#include "relay/mail/send_email.h"

namespace {

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
  dbrelay::MailHeaders headers{"Thu, 01 Jan 2026 00:00:00 +0000", "<a@b>", "<c@d>",
                               std::string(44, 'x') + "\xc3\xa9t\xc3\xa9", "<1@b>", "UTF-8"};
  std::string message = dbrelay::ComposeMessage(headers, "body\n");
  EXPECT_NE(message.find("Subject: =?UTF-8?B?"), std::string::npos) << message;
  EXPECT_NE(message.find("\r\n =?UTF-8?B?"), std::string::npos) << message;  // folded, not cut
  EXPECT_EQ(message.substr(message.size() - 6), "body\r\n");
}

}  // namespace
