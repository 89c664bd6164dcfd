// The mail DbRelay sends, against a real Postfix with its strict checks, STARTTLS or TLS from the
// first byte, and AUTH through dovecot. Every case reads back what arrived and reads Postfix's log.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "relay/mail/mail_message.h"
#include "relay/mail/send_email.h"
#include "relay/platform/env.h"
#include "settings/setting_codec.h"
#include "tests/support/in_process_env.h"
#include "tests/support/mime_text.h"
#include "tests/support/postfix_server.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::ParseMessage;
using testing_support::PostfixServer;
using testing_support::RelaySandbox;

// Every greeting was the host's fully-qualified name, or the address literal of the local end.
testing::AssertionResult IsSoundGreeting(const std::vector<std::string>& names,
                                         const std::string& local_address) {
  if (names.empty()) return testing::AssertionFailure() << "no greeting logged";
  for (const std::string& name : names) {
    if (name != dbrelay::AddressLiteral(local_address) && !dbrelay::IsDomainName(name)) {
      return testing::AssertionFailure() << "greeted as " << name;
    }
  }
  return testing::AssertionSuccess();
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class PostfixTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!PostfixServer::CanRun(&why)) GTEST_SKIP() << why;
    server_ = &PostfixServer::Get();
    server_->EmptyMailboxes();
    log_offset_ = server_->LogSize();
    auth_log_offset_ = server_->AuthLog().size();
  }

  // The mail settings of a logged-in sender at server, then extra lines (the first of duplicate
  // keys wins, so extra lines go first).
  void WriteSettings(const std::string& server, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> lines = extra;
    lines.insert(lines.end(),
                 {"EmailSMTP=" + server, "EmailUserName=" + server_->user(),
                  "EmailPassword=" + server_->password(), "EmailFrom=relay@example.org",
                  "EmailTo=ops@example.org", "EmailSubject=DbRelay test"});
    relay_.WriteIni(lines);
  }

  // Runs DbRelay trusting the run's CA, and waits until Postfix is done with what it was sent.
  testing_support::ProcessResult Run(const std::vector<std::string>& args,
                                     testing_support::RunOptions options = {}) {
    options.env.try_emplace("SSL_CERT_FILE", server_->ca_file());
    auto result = relay_.Run(args, options);
    EXPECT_TRUE(server_->WaitUntilQuiet(log_offset_)) << server_->LogSince(log_offset_);
    return result;
  }

  // Runs DbRelay args as Run does, in a namespace of its own where the host is called host_name;
  // false when this machine cannot make one.
  bool RunWithHostName(const std::string& host_name, const std::vector<std::string>& args,
                       testing_support::ProcessResult* result) {
    if (testing_support::RunProcess({"/usr/bin/unshare", "--uts", "/bin/true"}).exit_status != 0) {
      return false;
    }
    std::vector<std::string> argv = {
        "/usr/bin/unshare", "--uts",         "/bin/sh", "-c", "hostname \"$0\" && exec \"$@\"",
        host_name,          relay_.program()};
    argv.insert(argv.end(), args.begin(), args.end());
    testing_support::RunOptions options;
    options.env = {{"SSL_CERT_FILE", server_->ca_file()}, {"DBRELAY_REPORT_PAUSE_MS", "0"}};
    options.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    *result = testing_support::RunProcess(argv, options);
    EXPECT_TRUE(server_->WaitUntilQuiet(log_offset_)) << server_->LogSince(log_offset_);
    return true;
  }

  std::string Log() const { return server_->LogSince(log_offset_); }
  std::vector<std::string> Complaints() const { return server_->Complaints(log_offset_); }
  std::string AuthLog() const { return server_->AuthLog().substr(auth_log_offset_); }

  PostfixServer* server_ = nullptr;
  RelaySandbox relay_;
  size_t log_offset_ = 0;
  size_t auth_log_offset_ = 0;
};

// EmailTest with the password as the settings editor stores it and as written by hand.
struct LoginCase {
  const char* name;
  bool scrambled;
  std::string suffix;  // bytes after a zero byte, which end the decoded password
};

class PostfixLoginTest : public PostfixTest, public testing::WithParamInterface<LoginCase> {};

TEST_P(PostfixLoginTest, EmailTestArrivesOnceOverStartTls) {
  std::string password = server_->password();
  if (!GetParam().suffix.empty()) password += std::string(1, '\0') + GetParam().suffix;
  WriteSettings(server_->starttls_address(),
                {"EmailPassword=" +
                 (GetParam().scrambled ? settings::EncodeSettingValue(password) : password)});
  auto result = Run({"EmailTest"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  auto mails = server_->Mailbox("ops");
  ASSERT_EQ(mails.size(), 1u) << Log();
  auto mail = ParseMessage(mails[0]);
  EXPECT_EQ(mail.body, "This is a test email\r\n\r\n");
  EXPECT_EQ(testing_support::HeaderValue(mail.headers, "Subject"), "DbRelay test");
  EXPECT_NE(Log().find("sasl_method=PLAIN, sasl_username=relay"), std::string::npos) << Log();
  EXPECT_EQ(Lines(Complaints()), "") << Log();
  EXPECT_TRUE(IsSoundGreeting(server_->Greetings(log_offset_), "127.0.0.1"));
}

INSTANTIATE_TEST_SUITE_P(Passwords, PostfixLoginTest,
                         testing::Values(LoginCase{"plain", false, ""},
                                         LoginCase{"scrambled", true, ""},
                                         LoginCase{"scrambled_zero_byte", true, "rest"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The greeting names the host when it has a fully-qualified name, else the local end's address;
// the strict server takes both. The bare name is one /etc/hosts knows, so that looking for its
// canonical name asks no name server.
struct GreetingCase {
  const char* name;
  std::string host_name;
  bool v6;
  std::string greeting;
};

class PostfixGreetingTest : public PostfixTest, public testing::WithParamInterface<GreetingCase> {};

TEST_P(PostfixGreetingTest, StrictServerTakesTheGreeting) {
  std::string server = GetParam().v6 ? server_->starttls_v6_address() : server_->starttls_address();
  if (server.empty()) GTEST_SKIP() << "no IPv6 loopback";
  WriteSettings(server);
  testing_support::ProcessResult result;
  if (!RunWithHostName(GetParam().host_name, {"EmailTest"}, &result)) {
    GTEST_SKIP() << "cannot give DbRelay a host name of its own (unshare --uts)";
  }
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(server_->Greetings(log_offset_), std::vector<std::string>{GetParam().greeting})
      << Log();
  EXPECT_EQ(server_->Mailbox("ops").size(), 1u) << Log();
  EXPECT_EQ(Lines(Complaints()), "") << Log();
}

INSTANTIATE_TEST_SUITE_P(
    HostNames, PostfixGreetingTest,
    testing::Values(GreetingCase{"fqdn", "relay-host.example.test", false,
                                 "relay-host.example.test"},
                    GreetingCase{"bare_name_v4", "localhost", false, "[127.0.0.1]"},
                    GreetingCase{"bare_name_v6", "localhost", true, "[IPv6:::1]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PostfixTest, ImplicitTlsOnPort465) {
  WriteSettings(server_->implicit_tls_address());
  auto result = Run({"EmailTest"});
  EXPECT_EQ(result.out, "");
  ASSERT_EQ(server_->Mailbox("ops").size(), 1u) << Log();
  EXPECT_EQ(ParseMessage(server_->Mailbox("ops")[0]).body, "This is a test email\r\n\r\n");
  EXPECT_NE(Log().find("TLS connection established"), std::string::npos) << Log();
  EXPECT_EQ(Lines(Complaints()), "") << Log();
}

// Sessions that must fail, and the password must never leave DbRelay unless the server is the one
// it was meant for.
struct FailureCase {
  const char* name;
  std::string server;  // "starttls", "other_name", "untrusted"
  std::vector<std::string> settings;
  std::string text;
  bool password_offered;
};

class PostfixFailureTest : public PostfixTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(PostfixFailureTest, ReportsAndDeliversNothing) {
  std::string server = GetParam().server == "other_name"  ? server_->other_name_address()
                       : GetParam().server == "untrusted" ? server_->untrusted_address()
                                                          : server_->starttls_address();
  WriteSettings(server, GetParam().settings);
  auto result = Run({"EmailTest"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, GetParam().text);
  EXPECT_TRUE(server_->Mailbox("ops").empty()) << Log();
  EXPECT_EQ(Log().find(": client="), std::string::npos) << Log();  // nothing queued
  // Postfix counts the AUTH commands of a session in its "disconnect from" line.
  bool offered = Log().find(" auth=") != std::string::npos;
  EXPECT_EQ(offered, GetParam().password_offered) << Log();
  if (GetParam().text == "Connect failed\n" && offered) {
    EXPECT_NE(AuthLog().find("Password mismatch"), std::string::npos) << AuthLog();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, PostfixFailureTest,
    testing::Values(
        FailureCase{
            "wrong_password", "starttls", {"EmailPassword=wrong"}, "Connect failed\n", true},
        FailureCase{"untrusted_ca", "untrusted", {}, "Connect failed\n", false},
        FailureCase{"certificate_for_another_name", "other_name", {}, "Connect failed\n", false},
        FailureCase{"every_recipient_refused",
                    "starttls",
                    {"EmailTo=refused@example.org"},
                    "email NOT sent\n",
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

// EmailTo with several addresses: one RCPT each, all of them in the To header.
struct RecipientsCase {
  const char* name;
  std::string email_to;
  std::string to_header;
  size_t ops, dba;
  size_t refused;  // RCPTs the server refuses
};

class PostfixRecipientsTest : public PostfixTest,
                              public testing::WithParamInterface<RecipientsCase> {};

TEST_P(PostfixRecipientsTest, EachAcceptedRecipientGetsOneCopy) {
  WriteSettings(server_->starttls_address(), {"EmailTo=" + GetParam().email_to});
  auto result = Run({"EmailTest"});
  EXPECT_EQ(result.out, "");
  auto ops = server_->Mailbox("ops");
  auto dba = server_->Mailbox("dba");
  EXPECT_EQ(ops.size(), GetParam().ops) << Log();
  EXPECT_EQ(dba.size(), GetParam().dba) << Log();
  auto first = !ops.empty() ? ops[0] : !dba.empty() ? dba[0] : "";
  EXPECT_EQ(testing_support::HeaderValue(ParseMessage(first).headers, "To"), GetParam().to_header);
  auto complaints = Complaints();
  EXPECT_EQ(complaints.size(), GetParam().refused) << Log();
  for (const std::string& line : complaints) {
    EXPECT_NE(line.find("reject: RCPT from localhost[127.0.0.1]: 554 5.7.1 <refused@example.org>"),
              std::string::npos)
        << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PostfixRecipientsTest,
    testing::Values(RecipientsCase{"comma", "ops@example.org, dba@example.org",
                                   "<ops@example.org>, <dba@example.org>", 1, 1, 0},
                    RecipientsCase{"semicolon_and_display_name",
                                   "Ops <ops@example.org>;dba@example.org",
                                   "Ops <ops@example.org>, <dba@example.org>", 1, 1, 0},
                    RecipientsCase{"quoted_comma",
                                   "\"Desk, Ops\" <ops@example.org>, dba@example.org",
                                   "\"Desk, Ops\" <ops@example.org>, <dba@example.org>", 1, 1, 0},
                    RecipientsCase{"single_display_name", "Ops Desk <ops@example.org>",
                                   "Ops Desk <ops@example.org>", 1, 0, 0},
                    RecipientsCase{"one_refused", "ops@example.org, refused@example.org",
                                   "<ops@example.org>, <refused@example.org>", 1, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PostfixTest, EmptyEmailFromSendsFromTheNullSenderWithAMailboxInTheHeader) {
  WriteSettings(server_->starttls_address(), {"EmailFrom="});
  auto result = Run({"EmailTest"});
  EXPECT_EQ(result.out, "");
  auto mails = server_->Mailbox("ops");
  ASSERT_EQ(mails.size(), 1u) << Log();
  std::string from = testing_support::HeaderValue(ParseMessage(mails[0]).headers, "From");
  EXPECT_EQ(from.rfind("DbRelay <dbrelay@", 0), 0u) << from;
  std::string domain = from.substr(17, from.size() - 18);
  EXPECT_TRUE(domain == "[127.0.0.1]" || dbrelay::IsDomainName(domain)) << from;
  EXPECT_NE(Log().find(": from=<>, size="), std::string::npos) << Log();
  EXPECT_EQ(Lines(Complaints()), "") << Log();
}

// Reports holding 8-bit text, through the real program: its command line is the first report of
// a run with the detailed log on, and each report is mailed.
struct EightBitCase {
  const char* name;
  std::string locale;  // LC_ALL for DbRelay; "latin1" stands for a locale the test makes
  std::string text;
  std::string charset;
  std::string encoding;
};

class PostfixEightBitTest : public PostfixTest, public testing::WithParamInterface<EightBitCase> {};

TEST_P(PostfixEightBitTest, ArrivesLabelledHonestlyAndReadsBackExactly) {
  testing_support::RunOptions options;
  options.env["LC_ALL"] = GetParam().locale;
  testing_support::TempDir locales;
  if (GetParam().locale == "latin1") {
    // A locale of the test's own, in a folder of its own (LOCPATH): the machine's stay as they are.
    auto made = testing_support::RunProcess({"/usr/bin/localedef", "-i", "en_US", "-f",
                                             "ISO-8859-1", locales.File("en_US.ISO-8859-1")});
    if (made.exit_status != 0) GTEST_SKIP() << "cannot make an ISO-8859-1 locale";
    options.env["LOCPATH"] = locales.path();
    options.env["LC_ALL"] = "en_US.ISO-8859-1";
  }
  WriteSettings(server_->starttls_address(), {"DetailedLog=1", "EmailOnError=1", "SecDBType=3",
                                              "SecLocalTextFile=" + relay_.File("parked.sql")});
  auto result = Run({GetParam().text}, options);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  auto mails = server_->Mailbox("ops");
  ASSERT_FALSE(mails.empty()) << Log();
  auto mail = ParseMessage(mails[0]);
  // The report has no line end of its own; the SMTP client ends the last line.
  EXPECT_EQ(mail.body, relay_.program() + " " + GetParam().text + "\r\n");
  EXPECT_EQ(testing_support::HeaderValue(mail.headers, "Content-Type"),
            "text/plain; charset=" + GetParam().charset);
  EXPECT_EQ(testing_support::HeaderValue(mail.headers, "Content-Transfer-Encoding"),
            GetParam().encoding);
  EXPECT_EQ(Lines(Complaints()), "") << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, PostfixEightBitTest,
    testing::Values(EightBitCase{"ascii", "C.UTF-8", "UPDATE t SET a = 1", "UTF-8", "7bit"},
                    EightBitCase{"utf8", "C.UTF-8",
                                 "UPDATE t SET name = 'Gr\xc3\xbc\xc3\x9f \xe2\x98\x83'", "UTF-8",
                                 "quoted-printable"},
                    EightBitCase{"not_utf8", "C.UTF-8", "UPDATE t SET name = '\xff\xfe\xc3\x28'",
                                 "unknown-8bit", "quoted-printable"},
                    EightBitCase{"latin1", "latin1", "UPDATE t SET name = 'Gr\xfc\xdf'",
                                 "ISO-8859-1", "quoted-printable"},
                    EightBitCase{"eight_bit_in_ascii_locale", "C",
                                 "UPDATE t SET name = 'Gr\xfc\xdf'", "unknown-8bit",
                                 "quoted-printable"}),
    [](const auto& info) { return std::string(info.param.name); });

// Bodies that try to end the message early or start another one, sent by the mail code in this
// process (a zero byte cannot pass a command line).
struct CorpusCase {
  const char* name;
  std::string body;
};

class PostfixCorpusTest : public PostfixTest, public testing::WithParamInterface<CorpusCase> {};

TEST_P(PostfixCorpusTest, BodyStaysOneMessageAndReadsBackExactly) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(
      dir.File("DbRelay.ini"),
      "[General]\r\nEmailSMTP=" + server_->starttls_address() +
          "\r\nEmailUserName=" + server_->user() + "\r\nEmailPassword=" + server_->password() +
          "\r\nEmailFrom=relay@example.org\r\nEmailTo=ops@example.org\r\n");
  testing_support::InProcessEnv env(dir.path());
  dbrelay::ScopedEnvOverride use(&env);
  ::setenv("SSL_CERT_FILE", server_->ca_file().c_str(), 1);
  std::setlocale(LC_CTYPE, "C.UTF-8");
  EXPECT_EQ(dbrelay::SendEmail(GetParam().body), 0);
  std::setlocale(LC_CTYPE, "C");
  ::unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(env.console, "");
  ASSERT_TRUE(server_->WaitUntilQuiet(log_offset_)) << Log();
  auto mails = server_->Mailbox("ops");
  ASSERT_EQ(mails.size(), 1u) << Log();
  std::string expected = dbrelay::NormalizeLineEnds(GetParam().body);
  // A body without a final line end gets one from the SMTP client.
  if (!expected.empty() && !expected.ends_with("\r\n")) expected += "\r\n";
  auto mail = ParseMessage(mails[0]);
  EXPECT_TRUE(mail.body == expected) << mail.encoded_body;
  EXPECT_EQ(Log().find("MAIL FROM:<evil"), std::string::npos);
  EXPECT_EQ(Lines(Complaints()), "") << Log();
}

std::string LongText() {
  std::string text;
  for (int i = 0; text.size() < 100 * 1024; ++i) text += "line " + std::to_string(i) + " of text\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, PostfixCorpusTest,
    testing::Values(
        CorpusCase{"lf_dot_lf", "before\n.\nMAIL FROM:<evil@x.org>\nafter\n"},
        CorpusCase{"crlf_dot_crlf",
                   "before\r\n.\r\nMAIL FROM:<evil@x.org>\r\nRCPT TO:<evil@x.org>\r\nDATA\r\n"},
        CorpusCase{"bare_lf_dot", "a\n.\r\nQUIT\r\n"}, CorpusCase{"only_dot", "."},
        CorpusCase{"dots", "..\n...\n.x\n"}, CorpusCase{"lone_cr", "a\rb\r.\rc"},
        CorpusCase{"from_line", "From here\nFrom: evil@x.org\n"}, CorpusCase{"empty", ""},
        CorpusCase{"long", LongText()},
        CorpusCase{"one_long_line", std::string(100 * 1024, 'x') + "\n.\n"},
        CorpusCase{"trailing_blanks", "a \nb\t\n \n"},
        CorpusCase{"not_utf8", "\xff\xfe\xc3\x28 \x80\n.\n\xe2\x82\n"},
        CorpusCase{"nul", std::string("a\0b\n.\n", 6)}, CorpusCase{"equals", "a=b =3D =\n=\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
