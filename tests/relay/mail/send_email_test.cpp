#include "relay/mail/send_email.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "relay/mail/mail_engine.h"
#include "relay/mail/mail_message.h"
#include "relay/platform/env.h"
#include "relay/report/report.h"
#include "settings/setting_codec.h"
#include "tests/support/mime_text.h"
#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/smtp_server.h"

namespace {

using testing_support::ClosedLoopbackPort;
using testing_support::ReceivedMail;
using testing_support::SmtpServer;
using testing_support::SmtpServerOptions;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// The mail code in this process, with its settings file in a temporary folder and the console and
// the pause recorded. on_console sees what the server holds at the moment a report is shown.
// Notes, at each console report, how many mails had arrived, so a test sees the text shown first.
class RecordingEnv : public testing_support::InProcessEnv {
 public:
  using InProcessEnv::InProcessEnv;
  void WriteConsole(std::string_view text) override {
    InProcessEnv::WriteConsole(text);
    if (server != nullptr) mails_when_shown.push_back(server->Messages().size());
  }

  const SmtpServer* server = nullptr;
  std::vector<size_t> mails_when_shown;
};

// The headers of a received message, and its body decoded from its transfer encoding.
using testing_support::ParsedMail;

ParsedMail Parse(const ReceivedMail& mail) {
  EXPECT_NE(mail.data.find("\r\n\r\n"), std::string::npos);
  return testing_support::ParseMessage(mail.data);
}

std::string Crlf(const std::string& text) { return dbrelay::NormalizeLineEnds(text); }

class SendEmailTest : public testing::Test {
 protected:
  // extra lines, then mail settings that reach server (the first of duplicate keys wins).
  void WriteSettings(const SmtpServer* server, const std::string& extra = "") {
    std::string lines = "[General]\r\n" + extra;
    if (server != nullptr) lines += "EmailSMTP=" + server->address() + "\r\n";
    lines += "EmailFrom=relay@example.org\r\nEmailTo=ops@example.org\r\n";
    lines += "EmailSubject=DbRelay alert\r\n";
    WriteFileBytes(dir_.File("DbRelay.ini"), lines);
    env_.server = server;
  }

  TempDir dir_;
  RecordingEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
};

TEST_F(SendEmailTest, MessageArrivesUnderTheSubjectWithTheBodyUnchanged) {
  SmtpServer server;
  WriteSettings(&server);
  const std::string body = "Primary DB connection failed with error:\nlogin failed\n\n";
  EXPECT_EQ(dbrelay::SendEmail(body), 0);
  EXPECT_EQ(env_.console, "");
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, "relay@example.org");
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ops@example.org"});
  ParsedMail parsed = Parse(mails[0]);
  EXPECT_EQ(parsed.body, Crlf(body));
  for (const char* header : {"\r\nSubject: DbRelay alert\r\n", "\r\nFrom: <relay@example.org>\r\n",
                             "\r\nTo: <ops@example.org>\r\n", "\r\nMessage-ID: <",
                             "\r\nContent-Type: text/plain; charset=",
                             "\r\nContent-Transfer-Encoding: 7bit\r\n"}) {
    EXPECT_NE(("\r\n" + parsed.headers).find(header), std::string::npos) << header;
  }
  EXPECT_EQ(parsed.headers.rfind("Date: ", 0), 0u);
}

// The engine lives in a module loaded on demand; without it the cycle stops at attaching.
class NoModules : public RecordingEnv {
 public:
  using RecordingEnv::RecordingEnv;
  void* LoadModuleSymbol(const std::string&, const char*) override { return nullptr; }
};

TEST_F(SendEmailTest, MissingMailModuleCannotAttach) {
  SmtpServer server;
  WriteSettings(&server);
  NoModules no_modules(dir_.path());
  dbrelay::ScopedEnvOverride use(&no_modules);
  EXPECT_EQ(dbrelay::SendEmail("body\n"), 1);
  EXPECT_EQ(no_modules.console, "Cannot attach SEE\n");
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(SendEmailTest, DisplayNameStaysInTheHeaderAndLeavesTheEnvelope) {
  SmtpServer server;
  WriteSettings(&server);
  WriteFileBytes(dir_.File("DbRelay.ini"),
                 "[General]\r\nEmailSMTP=" + server.address() +
                     "\r\nEmailFrom=DbRelay <relay@example.org>\r\nEmailTo=Ops <ops@example.org>\r\n");
  EXPECT_EQ(dbrelay::SendEmail("x\n"), 0);
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, "relay@example.org");
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ops@example.org"});
  EXPECT_NE(mails[0].data.find("\r\nFrom: DbRelay <relay@example.org>\r\n"), std::string::npos);
  EXPECT_NE(mails[0].data.find("\r\nSubject: \r\n"), std::string::npos);  // empty subject
}

struct LoginCase {
  const char* name;
  std::string stored_password;
};

class SendEmailLoginTest : public SendEmailTest, public testing::WithParamInterface<LoginCase> {};

TEST_P(SendEmailLoginTest, LogsInWithTheDecodedPassword) {
  SmtpServer server({.user = "relay", .password = "s3cr%t pass"});
  WriteSettings(&server, "EmailUserName=relay\r\nEmailPassword=" + GetParam().stored_password +
                             "\r\n");
  EXPECT_EQ(dbrelay::SendEmail("logged in\n"), 0);
  EXPECT_EQ(env_.console, "");
  EXPECT_EQ(server.Messages().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Passwords, SendEmailLoginTest,
                         testing::Values(LoginCase{"scrambled",
                                                   settings::EncodeSettingValue("s3cr%t pass")},
                                         LoginCase{"plain", "s3cr%t pass"},
                                         // a zero byte ends the decoded value
                                         LoginCase{"scrambled_zero_byte",
                                                   settings::EncodeSettingValue(std::string(
                                                       "s3cr%t pass\0rest", 16))}),
                         [](const auto& info) { return std::string(info.param.name); });

// Failures a real server (or no server) provokes.
struct FailureCase {
  const char* name;
  SmtpServerOptions server;
  std::string settings;  // lines after the server's own; "@closed" stands for a closed port
  int code;
  std::string text;
};

class SendEmailFailureTest : public SendEmailTest,
                             public testing::WithParamInterface<FailureCase> {};

TEST_P(SendEmailFailureTest, ReportsOnceAndSendsNothing) {
  SmtpServer server(GetParam().server);
  std::string settings = GetParam().settings;
  if (size_t at = settings.find("@closed"); at != std::string::npos) {
    settings.replace(at, 7, std::to_string(ClosedLoopbackPort()));
  }
  WriteSettings(&server, settings);
  EXPECT_EQ(dbrelay::SendEmail("body\n"), GetParam().code);
  EXPECT_EQ(env_.console, GetParam().text);
  EXPECT_EQ(env_.pauses.size(), 1u);
  EXPECT_TRUE(server.Messages().empty());
}

const SmtpServerOptions kLogin{.user = "relay", .password = "right"};

INSTANTIATE_TEST_SUITE_P(
    RealServer, SendEmailFailureTest,
    testing::Values(
        FailureCase{"closed_port", {}, "EmailSMTP=127.0.0.1:@closed\r\n", 4, "Connect failed\n"},
        FailureCase{"empty_server", {}, "EmailSMTP=\r\n", 4, "Connect failed\n"},
        FailureCase{"refused_greeting", {.refuse_greeting = true}, "", 4, "Connect failed\n"},
        FailureCase{"wrong_password", kLogin, "EmailUserName=relay\r\nEmailPassword=wrong\r\n", 4,
                    "Connect failed\n"},
        FailureCase{"no_login", kLogin, "", 5, "email NOT sent\n"},
        FailureCase{"recipient_rejected", {.reject_recipient = true}, "", 5, "email NOT sent\n"},
        FailureCase{"message_rejected", {.reject_message = true}, "", 5, "email NOT sent\n"},
        FailureCase{"empty_recipient", {}, "EmailTo=\r\n", 5, "email NOT sent\n"},
        FailureCase{"only_separators", {}, "EmailTo= , ;\r\n", 5, "email NOT sent\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Texts that must never become part of a header or a command.
struct InjectionCase {
  const char* name;
  std::string key;
  std::string value;
};

class SendEmailInjectionTest : public SendEmailTest,
                               public testing::WithParamInterface<InjectionCase> {};

TEST_P(SendEmailInjectionTest, LineBreakInAHeaderValueIsRefused) {
  SmtpServer server;
  WriteSettings(&server);
  // A line break cannot come through the settings file, so a wrapper hands it to the engine.
  class Inject : public dbrelay::MailEngineWrapper {
   public:
    Inject(const InjectionCase& c) : MailEngineWrapper(dbrelay::CreateMailEngine()), c_(c) {}
    int Connect(int ch, const std::string& server, const std::string& sender, int r) override {
      return MailEngineWrapper::Connect(ch, server, c_.key == "from" ? c_.value : sender, r);
    }
    int Send(int ch, const std::string& to, std::string_view cc, std::string_view bcc,
             const std::string& subject, const std::string& message,
             std::string_view att) override {
      return MailEngineWrapper::Send(ch, c_.key == "to" ? c_.value : to, cc, bcc,
                                     c_.key == "subject" ? c_.value : subject, message, att);
    }
    const InjectionCase& c_;
  };
  dbrelay::ScopedMailEngineOverride engine([&] { return std::make_unique<Inject>(GetParam()); });
  EXPECT_EQ(dbrelay::SendEmail("body\n"), 5);
  EXPECT_EQ(env_.console, "email NOT sent\n");
  EXPECT_TRUE(server.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, SendEmailInjectionTest,
    testing::Values(InjectionCase{"subject_crlf", "subject", "Hi\r\nBcc: evil@example.org"},
                    InjectionCase{"subject_lf", "subject", "Hi\nX-Evil: 1"},
                    InjectionCase{"subject_cr", "subject", "Hi\rX-Evil: 1"},
                    InjectionCase{"to_command", "to", "<ops@example.org>\r\nRCPT TO:<evil@x.org>"},
                    InjectionCase{"from_lf", "from", "<relay@example.org>\nRCPT TO:<evil@x.org>"},
                    InjectionCase{"subject_nul", "subject", std::string("Hi\0there", 8)}),
    [](const auto& info) { return std::string(info.param.name); });

// Bodies that try to end the message early or start another one.
struct BodyCase {
  const char* name;
  std::string body;
};

class SendEmailBodyTest : public SendEmailTest, public testing::WithParamInterface<BodyCase> {};

TEST_P(SendEmailBodyTest, ArrivesAsOneMessageWithTheBodyIntact) {
  SmtpServer server;
  WriteSettings(&server);
  EXPECT_EQ(dbrelay::SendEmail(GetParam().body), 0);
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ops@example.org"});
  std::string expected = Crlf(GetParam().body);
  std::string body = Parse(mails[0]).body;
  // A body without a final line end gets one from the SMTP client.
  if (!expected.empty() && !expected.ends_with("\r\n")) expected += "\r\n";
  EXPECT_EQ(body.size(), expected.size());
  EXPECT_TRUE(body == expected);
}

std::string LongText() {
  std::string text;
  for (int i = 0; text.size() < 100 * 1024; ++i) text += "line " + std::to_string(i) + " of text\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, SendEmailBodyTest,
    testing::Values(
        BodyCase{"lf_dot_lf", "before\n.\nMAIL FROM:<evil@x.org>\nafter\n"},
        BodyCase{"crlf_dot_crlf",
                 "before\r\n.\r\nMAIL FROM:<evil@x.org>\r\nRCPT TO:<evil@x.org>\r\nDATA\r\n"},
        BodyCase{"only_dot", "."}, BodyCase{"dot_first", ".\nnext\n"},
        BodyCase{"dots", "..\n...\n.x\n"}, BodyCase{"lone_cr", "a\rb\r.\rc"},
        BodyCase{"empty", ""}, BodyCase{"long", LongText()},
        BodyCase{"one_long_line", std::string(100 * 1024, 'x') + "\n.\n"},
        BodyCase{"not_utf8", "\xff\xfe\xc3\x28 \x80\n\xe2\x82\n"},
        BodyCase{"nul", std::string("a\0b\n", 4)},
        BodyCase{"percent", "100% LIKE '%s%d%n'\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A list in EmailTo gets one RCPT per address, and every address in the To header.
TEST_F(SendEmailTest, RecipientListGetsOneRcptEach) {
  SmtpServer server;
  WriteSettings(&server, "EmailTo=a@example.org; Desk B <b@example.org>,c@example.org\r\n");
  EXPECT_EQ(dbrelay::SendEmail("list\n"), 0);
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients,
            (std::vector<std::string>{"a@example.org", "b@example.org", "c@example.org"}));
  EXPECT_EQ(testing_support::HeaderValue(Parse(mails[0]).headers, "To"),
            "<a@example.org>, Desk B <b@example.org>, <c@example.org>");
}

// The port comes from EmailSMTP, else EmailPort, else 25.
TEST_F(SendEmailTest, ServerWithoutAPortUsesEmailPort) {
  SmtpServer server;
  int closed = ClosedLoopbackPort();
  struct Case {
    std::string lines;
    int code;
  };
  for (const Case& c : std::vector<Case>{
           {"EmailSMTP=127.0.0.1\r\nEmailPort=" + std::to_string(server.port()) + "\r\n", 0},
           {"EmailSMTP=" + server.address() + "\r\nEmailPort=" + std::to_string(closed) + "\r\n",
            0},
           {"EmailSMTP=127.0.0.1\r\nEmailPort=" + std::to_string(closed) + "\r\n", 4},
           {"EmailSMTP=127.0.0.1:" + std::to_string(closed) + "\r\nEmailPort=" +
                std::to_string(server.port()) + "\r\n",
            4}}) {
    WriteFileBytes(dir_.File("DbRelay.ini"), "[General]\r\nEmailTo=ops@example.org\r\n" + c.lines);
    EXPECT_EQ(dbrelay::SendEmail("port\n"), c.code) << c.lines;
  }
  EXPECT_EQ(server.Messages().size(), 2u);
}

// Failures only a substituted engine can provoke, and the order of the engine's calls.
class ScriptedEngine : public dbrelay::MailEngineWrapper {
 public:
  ScriptedEngine(std::vector<std::string>* calls, std::string fail)
      : MailEngineWrapper(dbrelay::CreateMailEngine()), calls_(calls), fail_(std::move(fail)) {}
  int Attach(int n, int32_t key) override {
    return Record("attach " + std::to_string(n), [&] { return MailEngineWrapper::Attach(n, key); });
  }
  int SetInteger(int ch, int p, int v) override {
    return Record("integer " + std::to_string(ch) + " " + std::to_string(p) + " " +
                      std::to_string(v),
                  [&] { return MailEngineWrapper::SetInteger(ch, p, v); });
  }
  int SetString(int ch, int p, const std::string& v) override {
    return Record("string " + std::to_string(ch) + " " + std::to_string(p) + " " + v,
                  [&] { return MailEngineWrapper::SetString(ch, p, v); });
  }
  int Connect(int ch, const std::string& server, const std::string& from, int r) override {
    return Record("connect " + std::to_string(ch) + " " + from + " " + std::to_string(r),
                  [&] { return MailEngineWrapper::Connect(ch, server, from, r); });
  }
  int Send(int ch, const std::string& to, std::string_view cc, std::string_view bcc,
           const std::string& subject, const std::string& message,
           std::string_view att) override {
    return Record("send " + std::to_string(ch) + " " + to + " " + subject, [&] {
      return MailEngineWrapper::Send(ch, to, cc, bcc, subject, message, att);
    });
  }
  int Close(int ch) override {
    return Record("close " + std::to_string(ch), [&] { return MailEngineWrapper::Close(ch); });
  }
  int Release() override {
    return Record("release", [&] { return MailEngineWrapper::Release(); });
  }

 private:
  template <typename F>
  int Record(const std::string& call, F forward) {
    calls_->push_back(call);
    return call.rfind(fail_, 0) == 0 && !fail_.empty() ? -7 : forward();
  }
  std::vector<std::string>* calls_;
  std::string fail_;
};

struct SeamCase {
  const char* name;
  std::string fail;  // the call (prefix) that fails with -7
  int code;
  std::string text;
  size_t calls;  // engine calls made
};

class SendEmailSeamTest : public SendEmailTest, public testing::WithParamInterface<SeamCase> {};

TEST_P(SendEmailSeamTest, StopsAtTheFailingCall) {
  SmtpServer server;
  WriteSettings(&server, "EmailUserName=relay\r\n");
  std::vector<std::string> calls;
  dbrelay::ScopedMailEngineOverride engine(
      [&] { return std::make_unique<ScriptedEngine>(&calls, GetParam().fail); });
  EXPECT_EQ(dbrelay::SendEmail("seam\n"), GetParam().code);
  EXPECT_EQ(env_.console, GetParam().text);
  EXPECT_EQ(calls.size(), GetParam().calls);
  EXPECT_EQ(server.Messages().size(), GetParam().code == 0 ? 1u : 0u);
  if (GetParam().code == 0) {
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "attach 1", "integer 0 29 1", "string 0 58 relay", "string 0 57 ",
                         "connect 0 <relay@example.org> 0",
                         "send 0 <ops@example.org> DbRelay alert", "close 0", "release"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Seam, SendEmailSeamTest,
    testing::Values(SeamCase{"success", "", 0, "", 8},
                    SeamCase{"attach", "attach", 1, "Cannot attach SEE\n", 1},
                    SeamCase{"user_name", "string 0 58", 2, "Cannot set UserName (-7)\n", 3},
                    SeamCase{"password", "string 0 57", 3, "Cannot set Password (-7)\n", 4},
                    // a failed connect still releases the engine
                    SeamCase{"connect", "connect", 4, "Connect failed\n", 6},
                    SeamCase{"send", "send", 5, "email NOT sent\n", 6},
                    // results the cycle does not look at
                    SeamCase{"option", "integer", 0, "", 8}),
    [](const auto& info) { return std::string(info.param.name); });

// The mail hand-off at the end of ReportError.
TEST_F(SendEmailTest, ReportIsShownThenMailedOnlyWhenAllowedAndExactlyOne) {
  SmtpServer server;
  struct Case {
    std::string setting;
    dbrelay::Mailing mailing;
    size_t mails;
  };
  size_t total = 0;
  using dbrelay::Mailing;
  for (const Case& c : std::vector<Case>{{"EmailOnError=1\r\n", Mailing::kAllowed, 1},
                                          {"EmailOnError=1\r\n", Mailing::kSuppressed, 0},
                                          {"EmailOnError=2\r\n", Mailing::kAllowed, 0},
                                          {"EmailOnError=0\r\n", Mailing::kAllowed, 0},
                                          {"", Mailing::kAllowed, 0}}) {
    WriteSettings(&server, c.setting);
    env_.mails_when_shown.clear();
    dbrelay::ReportError("report 100%s\n", c.mailing);
    total += c.mails;
    ASSERT_EQ(server.Messages().size(), total) << c.setting << static_cast<int>(c.mailing);
    EXPECT_EQ(env_.mails_when_shown, std::vector<size_t>{total - c.mails});  // shown first
  }
  EXPECT_EQ(Parse(server.Messages()[0]).body, "report 100%s\r\n");
}

TEST_F(SendEmailTest, FailingMailIsReportedWithoutStartingAnotherMail) {
  int attaches = 0;
  class Counting : public dbrelay::MailEngineWrapper {
   public:
    explicit Counting(int* n) : MailEngineWrapper(dbrelay::CreateMailEngine()), n_(n) {}
    int Attach(int c, int32_t k) override {
      ++*n_;
      return MailEngineWrapper::Attach(c, k);
    }
    int* n_;
  };
  dbrelay::ScopedMailEngineOverride engine([&] { return std::make_unique<Counting>(&attaches); });
  WriteSettings(nullptr, "EmailSMTP=127.0.0.1:" + std::to_string(ClosedLoopbackPort()) +
                             "\r\nEmailOnError=1\r\n");
  dbrelay::ReportError("primary down\n", dbrelay::Mailing::kAllowed);
  EXPECT_EQ(env_.console, "primary down\nConnect failed\n");
  EXPECT_EQ(attaches, 1);
}

// A server that accepts and never greets must not hold a run: the session set-up gives up after the
// connect time-out (10 s). The bound here only guards against a hang.
TEST_F(SendEmailTest, SilentServerIsAConnectFailure) {
  SmtpServer server({.silent = true});
  WriteSettings(&server);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dbrelay::SendEmail("never\n"), 4);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 30.0);
  EXPECT_EQ(env_.console, "Connect failed\n");
}

// The real program: with no arguments it reports its usage text with mailing allowed.
TEST(SendEmailProcessTest, UsageTextIsMailedByTheRealProgram) {
  SmtpServer server;
  testing_support::RelaySandbox relay;
  relay.WriteIni({"EmailOnError=1", "EmailSMTP=" + server.address(), "EmailTo=ops@example.org",
                  "EmailFrom=relay@example.org", "EmailSubject=DbRelay usage"});
  auto result = relay.Run({});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.out.rfind("Wrong number of arguments", 0), 0u);
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].data.find("\r\nSubject: DbRelay usage\r\n"), std::string::npos);
  EXPECT_EQ(Parse(mails[0]).body, Crlf(result.out));
}

// A module is taken only from the program's own folder, never from the build tree or elsewhere.
TEST(SendEmailProcessTest, ModuleMissingBesideTheProgramCannotAttach) {
  SmtpServer server;
  testing_support::RelaySandbox relay;
  std::filesystem::remove(relay.File("libdbrelay_mail.so"));
  relay.WriteIni({"EmailOnError=1", "EmailSMTP=" + server.address(), "EmailTo=ops@example.org"});
  auto result = relay.Run({});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_NE(result.out.find("just to test the connection to the database\nCannot attach SEE\n"),
            std::string::npos)
      << result.out;
  EXPECT_TRUE(server.Messages().empty());
}

TEST(SendEmailProcessTest, UnreachableServerDoesNotHoldTheRun) {
  testing_support::RelaySandbox relay;
  relay.WriteIni({"EmailOnError=1", "EmailSMTP=127.0.0.1:" + std::to_string(ClosedLoopbackPort()),
                  "EmailTo=ops@example.org"});
  auto result = relay.Run({});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_NE(result.out.find("just to test the connection to the database\nConnect failed\n"),
            std::string::npos)
      << result.out;
}

}  // namespace
