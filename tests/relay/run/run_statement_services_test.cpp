// The statement run and the test modes with their services: the real DbRelay as a process, a real
// PostgreSQL server (through psqlODBC, and through the SQL Server form registered as SQLOLEDB),
// SQLite files, FreeTDS on a closed port as a primary that is down, and a real SMTP server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/setting_codec.h"
#include "tests/support/odbc_config.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/smtp_server.h"

namespace {

using testing_support::ClosedLoopbackPort;
using testing_support::OdbcConfig;
using testing_support::PostgresServer;
using testing_support::ProcessResult;
using testing_support::ReadFileBytes;
using testing_support::ReceivedMail;
using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::SmtpServer;

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Body(const ReceivedMail& mail) {
  size_t split = mail.data.find("\r\n\r\n");
  return split == std::string::npos ? std::string() : mail.data.substr(split + 4);
}

class ServicesTest : public testing::Test {
 protected:
  std::vector<std::string> MailSettings(const std::string& email_on_error) const {
    return {"EmailOnError=" + email_on_error, "EmailSMTP=" + smtp_.address(),
            "EmailFrom=relay@example.test", "EmailTo=ops@example.test",
            "EmailSubject=DbRelay report"};
  }
  ProcessResult Run(const std::vector<std::string>& args) const {
    RunOptions options;
    options.env = OdbcConfig::Get().Env();
    return relay_.Run(args, options);
  }
  std::string DownPrimary() const {
    return "Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(ClosedLoopbackPort()) +
           ";Database=Docs;Uid=relay;Pwd=s3cret;TDS_Version=7.4;";
  }
  std::string MissingSqlite() const {
    return "Driver=SQLite3;Database=" + relay_.File("absent/none.db") + ";NoCreat=1";
  }

  SmtpServer smtp_;
  RelaySandbox relay_;
};

TEST_F(ServicesTest, SqlServerFormReachesPostgresAndEveryDetailedLineIsMailed) {
  PostgresServer& pg = PostgresServer::Get();
  pg.Execute("CREATE TABLE docs (id integer PRIMARY KEY, signed integer NOT NULL);"
             "INSERT INTO docs VALUES (7, 0), (8, 0);");
  std::vector<std::string> lines = MailSettings("1");
  lines.push_back("DetailedLog=1");
  lines.push_back("RaiseErrorIfAffectedLinesLessThen=1");
  lines.push_back("PriDBType=1");
  lines.push_back("PriConnectionString=" +
                  settings::EncodeSettingValue(pg.SqlServerFormConnectionString()));
  relay_.WriteIni(lines);

  std::string statement = "UPDATE docs SET signed=1 WHERE id=7";
  ProcessResult result = Run({statement});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(pg.Query("SELECT id, signed FROM docs ORDER BY id"), "7|1\n8|0\n");

  std::string masked = pg.SqlServerFormConnectionString();
  size_t pwd = masked.find("Pwd=");
  masked.replace(pwd + 4, masked.find(';', pwd) - pwd - 4, "****");
  std::vector<std::string> expected = {
      relay_.program() + " " + statement, "\nPrimary Connection String: " + masked + "\n",
      "\nOpen ADO Connection OK\n", "\nRunning Query: " + statement + "\n",
      "Number of records Affected = 1\n"};
  std::string shown;
  for (const std::string& line : expected) shown += line;
  EXPECT_EQ(result.out, shown);

  ASSERT_TRUE(smtp_.WaitForMessages(expected.size(), 10));
  std::vector<ReceivedMail> mails = smtp_.Messages();
  ASSERT_EQ(mails.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    // A body always ends its last line, so the command line arrives with a line end added.
    std::string body = Crlf(expected[i]);
    if (body.back() != '\n') body += "\r\n";
    EXPECT_EQ(Body(mails[i]), body) << "mail " << i;
    EXPECT_EQ(mails[i].recipients, std::vector<std::string>{"ops@example.test"});
  }
  EXPECT_EQ(result.out.find(pg.password()), std::string::npos);
}

TEST_F(ServicesTest, PostgresSecondaryTakesOverFromADownPrimary) {
  PostgresServer& pg = PostgresServer::Get();
  pg.Execute("CREATE TABLE queue (id integer);");
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + DownPrimary(), "SecDBType=1",
                   "SecConnectionString=" + settings::EncodeSettingValue(pg.OdbcConnectionString())});
  ProcessResult result = Run({"INSERT INTO queue VALUES (1), (2)"});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(pg.Query("SELECT count(*) FROM queue"), "2\n");
}

// Mails caused by a failed primary: the primary failure itself (mailed only, never shown) and
// the report of the step that follows it.
enum class Next { kTextFileWritten, kTextFileFails, kSecondaryFails };

struct MailCase {
  const char* name;
  const char* email_on_error;
  const char* when_both_fail;
  Next next;
  int exit_status;
  bool primary_mail;
  bool failure_mail;
};

class FailoverMailTest : public ServicesTest, public testing::WithParamInterface<MailCase> {};

TEST_P(FailoverMailTest, MailsAsConfigured) {
  const MailCase& c = GetParam();
  std::vector<std::string> lines = MailSettings(c.email_on_error);
  lines.push_back(std::string("EmailWhenBothDBFail=") + c.when_both_fail);
  lines.push_back("PriDBType=2");
  lines.push_back("PriOtherConnStr=" + DownPrimary());
  switch (c.next) {
    case Next::kTextFileWritten:
      lines.push_back("SecDBType=3");
      lines.push_back("SecLocalTextFile=" + relay_.File("pending.sql"));
      break;
    case Next::kTextFileFails:
      lines.push_back("SecDBType=3");
      lines.push_back("SecLocalTextFile=" + relay_.File("absent/pending.sql"));
      break;
    case Next::kSecondaryFails:
      lines.push_back("SecDBType=2");
      lines.push_back("SecOtherConnStr=" + MissingSqlite());
      break;
  }
  relay_.WriteIni(lines);
  ProcessResult result = Run({"UPDATE docs SET signed=1"});
  EXPECT_EQ(result.exit_status, c.exit_status) << result.out;
  EXPECT_EQ(result.out.find("Primary DB connection failed"), std::string::npos);
  if (c.next == Next::kTextFileWritten) {
    EXPECT_EQ(ReadFileBytes(relay_.File("pending.sql")), "UPDATE docs SET signed=1\r\n");
  }

  size_t expected = (c.primary_mail ? 1 : 0) + (c.failure_mail ? 1 : 0);
  smtp_.WaitForMessages(expected, 2);
  std::vector<ReceivedMail> mails = smtp_.Messages();
  ASSERT_EQ(mails.size(), expected);
  size_t next = 0;
  if (c.primary_mail) {
    std::string body = Body(mails[next++]);
    EXPECT_EQ(body.rfind(Crlf("Primary DB connection failed with error:\nConnection String = "
                              "Driver=FreeTDS;Server=127.0.0.1;"), 0),
              0u)
        << body;
    EXPECT_NE(body.find(Crlf("\n\nTrying secondary connection\n")), std::string::npos);
    EXPECT_EQ(body.find("s3cret"), std::string::npos);
  }
  if (c.failure_mail) {
    EXPECT_EQ(Body(mails[next]), Crlf(result.out));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailoverMailTest,
    testing::Values(
        MailCase{"text_file_mails_primary_at_once", "1", "0", Next::kTextFileWritten, 0, true, false},
        MailCase{"text_file_waits_for_both", "1", "1", Next::kTextFileWritten, 0, false, false},
        MailCase{"text_file_fails_mails_both", "1", "0", Next::kTextFileFails, 2, true, true},
        MailCase{"text_file_fails_when_both_fail", "1", "1", Next::kTextFileFails, 2, false, true},
        MailCase{"secondary_fails_mails_both", "1", "0", Next::kSecondaryFails, 255, true, true},
        MailCase{"secondary_fails_when_both_fail", "1", "2", Next::kSecondaryFails, 255, false, true},
        MailCase{"mail_off", "0", "0", Next::kSecondaryFails, 255, false, false},
        MailCase{"mail_two_is_off", "2", "0", Next::kSecondaryFails, 255, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServicesTest, EmailTestSendsWhateverEmailOnErrorHolds) {
  relay_.WriteIni(MailSettings("0"));
  ProcessResult result = Run({"EmailTest"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  ASSERT_TRUE(smtp_.WaitForMessages(1, 10));
  std::vector<ReceivedMail> mails = smtp_.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(Body(mails[0]), "This is a test email\r\n\r\n");
  EXPECT_NE(mails[0].data.find("Subject: DbRelay report\r\n"), std::string::npos);
}

TEST_F(ServicesTest, FailingEmailTestShowsItsErrorAndExitsZero) {
  relay_.WriteIni({"EmailSMTP=127.0.0.1:" + std::to_string(ClosedLoopbackPort()),
                   "EmailFrom=a@example.test", "EmailTo=b@example.test", "EmailOnError=1"});
  ProcessResult result = Run({"EmailTest"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "Connect failed\n");
}

TEST_F(ServicesTest, ConnectionTestIsNeverMailed) {
  std::vector<std::string> lines = MailSettings("1");
  lines.push_back("PriDBType=2");
  lines.push_back("PriOtherConnStr=" + DownPrimary());
  relay_.WriteIni(lines);
  ProcessResult result = Run({"PriTest"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out.rfind("\nConnection Faild:\nConnection String = Driver=FreeTDS;", 0), 0u)
      << result.out;
  EXPECT_EQ(result.out.find("s3cret"), std::string::npos);
  smtp_.WaitForMessages(1, 1);
  EXPECT_TRUE(smtp_.Messages().empty());
}

}  // namespace
