#include "relay/database/ado_database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "relay/database/connection_string.h"
#include "settings/setting_codec.h"
#include "tests/support/odbc_config.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/silent_listener.h"

namespace dbrelay {
namespace {

using testing_support::OdbcConfig;
using testing_support::PostgresServer;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string SqliteConnectionString(const std::string& file) {
  return "Driver={SQLite3};Database=" + file + ";";
}

using testing_support::SilentListener;

class DatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { OdbcConfig::Get().ApplyToThisProcess(); }
};

// ----- Behaviour that a real driver cannot be made to show on demand -----

TEST_F(DatabaseTest, WithoutConnectionObjectOpenAndExecuteFailWithInvalidPointer) {
  auto db = std::make_unique<CADODatabase>(nullptr);
  db->SetConnectionString("DSN=Main;Pwd=x");
  EXPECT_EQ(db->Open(), 0);
  const std::string expected =
      "Connection String = DSN=Main;Pwd=****\nCADODataBase Error\n\tCode = 80004003\n"
      "\tCode meaning = Invalid pointer\n\tSource = (null)\n\tDescription = (null)\n";
  EXPECT_EQ(db->GetLastErrorText(), expected);
  EXPECT_EQ(db->Execute("SELECT 1"), 0);
  EXPECT_EQ(db->GetRecordsAffected(), 0);
  EXPECT_NO_THROW(db->Close());
  db.reset();
}

TEST_F(DatabaseTest, DefaultConstructorTakesTheTestFactory) {
  std::optional<ScopedConnectionOverride> none(std::in_place,
                                               [] { return std::unique_ptr<Connection>(); });
  CADODatabase db;
  none.reset();
  EXPECT_EQ(db.Open(), 0);
  EXPECT_NE(db.GetLastErrorText().find("\tCode = 80004003\n"), std::string::npos);
}

class FailingClose : public ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void Close() override { throw _com_error(0x80004005, std::string("test"), std::string("no")); }
};

class FailingState : public ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  int32_t State() override { throw _com_error(0x80004004); }
};

TEST_F(DatabaseTest, CloseFailurePropagatesAndTheDestructorSurvivesIt) {
  testing_support::TempDir dir;
  auto db = std::make_unique<CADODatabase>(std::make_unique<FailingClose>(CreateOdbcConnection()));
  db->SetConnectionString(SqliteConnectionString(dir.File("a.db")));
  ASSERT_NE(db->Open(), 0) << db->GetLastErrorText();
  try {
    db->Close();
    FAIL() << "Close did not throw";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), 0x80004005u);
  }
  // Re-opening must close first, which fails the same way and is not caught.
  EXPECT_THROW(db->Open(), _com_error);
  EXPECT_NO_THROW(db.reset());
}

// A driver's count passes through as a full signed 32-bit value, -1 ("no count") included.
class FixedCount : public ConnectionWrapper {
 public:
  FixedCount(std::unique_ptr<Connection> target, int32_t count)
      : ConnectionWrapper(std::move(target)), count_(count) {}
  void SetCursorLocation(int32_t location) override {
    EXPECT_EQ(location, kUseClient);
    ConnectionWrapper::SetCursorLocation(location);
  }
  void Execute(const std::string& text, int32_t* records_affected, int32_t options) override {
    EXPECT_EQ(options, kExecuteNoRecords);
    ConnectionWrapper::Execute(text, records_affected, options);
    *records_affected = count_;
  }

 private:
  int32_t count_;
};

class CountPassThroughTest : public DatabaseTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(CountPassThroughTest, ReadsTheCountAsItIs) {
  testing_support::TempDir dir;
  CADODatabase db(std::make_unique<FixedCount>(CreateOdbcConnection(), GetParam()));
  db.SetConnectionString(SqliteConnectionString(dir.File("n.db")));
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  EXPECT_EQ(db.Execute("CREATE TABLE t(x)"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Counts, CountPassThroughTest,
                         ::testing::Values(-1, 40000, INT32_MAX, INT32_MIN));

TEST_F(DatabaseTest, StateFailurePropagatesFromOpenAndClose) {
  CADODatabase db(std::make_unique<FailingState>(CreateOdbcConnection()));
  EXPECT_THROW(db.Open(), _com_error);
  EXPECT_THROW(db.Close(), _com_error);
}

// ----- PostgreSQL -----

class PostgresTest : public DatabaseTest {
 protected:
  void SetUp() override {
    PostgresServer::Get().Execute("SET client_min_messages = warning; DROP TABLE IF EXISTS extra, docs; CREATE TABLE docs(id int, body text)");
  }
};

TEST_F(PostgresTest, ExecuteLeavesTheAffectedCount) {
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().OdbcConnectionString());
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  struct Step {
    const char* sql;
    int32_t count;
  };
  for (const Step& step : {Step{"INSERT INTO docs VALUES (7, 'a')", 1},
                           Step{"UPDATE docs SET body = 'b' WHERE id = 8", 0},
                           Step{"INSERT INTO docs SELECT g, 'x' FROM generate_series(1, 40000) g",
                                40000},
                           Step{"DELETE FROM docs WHERE body = 'x' AND id > 1", 39999},
                           Step{"CREATE TABLE extra(x int)", 0}}) {
    EXPECT_EQ(db.Execute(step.sql), 1) << step.sql << db.GetLastErrorText();
    EXPECT_EQ(db.GetRecordsAffected(), step.count) << step.sql;
  }
  EXPECT_EQ(db.GetLastErrorText(), "");
  db.Close();
  EXPECT_EQ(PostgresServer::Get().Query("SELECT count(*) FROM docs"), "2\n");
}

TEST_F(PostgresTest, SqlServerFormReachesTheServer) {
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().SqlServerFormConnectionString());
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  EXPECT_EQ(db.Execute("UPDATE docs SET body = 'z'"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 0);
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, 'Signed')"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 1);
}

TEST_F(PostgresTest, SyntaxErrorLeavesZeroAndTheErrorBlock) {
  CADODatabase db;
  const std::string cs = PostgresServer::Get().SqlServerFormConnectionString();
  db.SetConnectionString(cs);
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  ASSERT_EQ(db.Execute("INSERT INTO docs VALUES (1, 'a')"), 1);
  EXPECT_EQ(db.Execute("UPDTE docs SET id = 1"), 0);
  EXPECT_EQ(db.GetRecordsAffected(), 0);
  const std::vector<std::string> lines = Lines(db.GetLastErrorText());
  ASSERT_GE(lines.size(), 6u) << db.GetLastErrorText();
  EXPECT_EQ(lines[0], "Connection String = " + MaskConnectionPassword(cs));
  EXPECT_EQ(lines[0].find(PostgresServer::Get().password()), std::string::npos);
  EXPECT_EQ(lines[1], "CADODataBase Error");
  EXPECT_EQ(lines[2], "\tCode = 80040e14");
  EXPECT_EQ(lines[3], "\tCode meaning = IDispatch error #3092");
  EXPECT_EQ(lines[4], "\tSource = psqlodbcw.so");
  EXPECT_EQ(lines[5].rfind("\tDescription = ", 0), 0u);
  EXPECT_NE(db.GetLastErrorText().find("syntax error"), std::string::npos);
  // The connection stays usable.
  EXPECT_EQ(db.Execute("DELETE FROM docs"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 1);
}

TEST_F(PostgresTest, ServerTextWithQuotesAndLineBreaksIsKeptAndTheLastErrorStays) {
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().OdbcConnectionString());
  ASSERT_NE(db.Open(), 0);
  EXPECT_EQ(db.Execute("DO $$BEGIN RAISE EXCEPTION E'say \"hi\" it''s\\nline two'; END$$"), 0);
  const std::string text = db.GetLastErrorText();
  EXPECT_NE(text.find("\tCode = 80004005\n"), std::string::npos) << text;
  EXPECT_NE(text.find("say \"hi\" it's\nline two"), std::string::npos) << text;
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, 'a')"), 1);
  EXPECT_EQ(db.GetLastErrorText(), text);
}

TEST_F(PostgresTest, BatchWithAFailingStatementFailsAsAWhole) {
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().OdbcConnectionString());
  ASSERT_NE(db.Open(), 0);
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, 'a'); INSERT INTO docs VALUES (1/0, 'b')"), 0);
  EXPECT_EQ(db.GetRecordsAffected(), 0);
  EXPECT_NE(db.GetLastErrorText().find("\tCode = 80040e57\n"), std::string::npos)
      << db.GetLastErrorText();
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, 'a'); INSERT INTO docs VALUES (2, 'b')"), 1);
  EXPECT_EQ(PostgresServer::Get().Query("SELECT count(*) FROM docs"), "2\n");
}

TEST_F(PostgresTest, HundredKilobyteStatements) {
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().OdbcConnectionString());
  ASSERT_NE(db.Open(), 0);
  const std::string body(100 * 1024, 'q');
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, '" + body + "')"), 1) << db.GetLastErrorText();
  EXPECT_EQ(db.GetRecordsAffected(), 1);
  EXPECT_EQ(db.Execute(std::string(100 * 1024, '(')), 0);
  EXPECT_NE(db.GetLastErrorText().find("\tCode = 80040e14\n"), std::string::npos);
  EXPECT_EQ(PostgresServer::Get().Query("SELECT length(body) FROM docs"), "102400\n");
}

TEST_F(PostgresTest, ReopenClosesTheFirstConnection) {
  testing_support::TempDir dir;
  CADODatabase db;
  db.SetConnectionString(PostgresServer::Get().OdbcConnectionString());
  ASSERT_NE(db.Open(), 0);
  const std::string sessions =
      "SELECT count(*) FROM pg_stat_activity WHERE usename = 'relay' AND pid <> pg_backend_pid()";
  EXPECT_EQ(PostgresServer::Get().Query(sessions), "1\n");
  db.SetConnectionString(SqliteConnectionString(dir.File("b.db")));
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  std::string count;
  for (int i = 0; i < 50 && (count = PostgresServer::Get().Query(sessions)) != "0\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(count, "0\n");
  EXPECT_EQ(db.Execute("CREATE TABLE t(x)"), 1) << db.GetLastErrorText();
}

TEST_F(PostgresTest, WrongPasswordIsAnAuthorisationFailure) {
  CADODatabase db;
  db.SetConnectionString("Provider=SQLOLEDB.1;Server=127.0.0.1," +
                         std::to_string(PostgresServer::Get().port()) +
                         ";Database=relaydb;Uid=relay;Pwd={wrong;pw};");
  EXPECT_EQ(db.Open(), 0);
  const std::vector<std::string> lines = Lines(db.GetLastErrorText());
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Connection String = Provider=SQLOLEDB.1;Server=127.0.0.1," +
                          std::to_string(PostgresServer::Get().port()) +
                          ";Database=relaydb;Uid=relay;Pwd=****;");
  EXPECT_EQ(lines[4], "\tSource = SQLOLEDB");
  EXPECT_NE(db.GetLastErrorText().find("password authentication failed"), std::string::npos)
      << db.GetLastErrorText();
}

// ----- Primaries that are down or silent -----

TEST_F(DatabaseTest, RefusedSqlServerPrimary) {
  const int port = testing_support::UnusedLoopbackPort();
  const std::string cs = "Provider=SQLOLEDB.1;Server=127.0.0.1," + std::to_string(port) +
                         ";Database=Docs;Uid=sa;Pwd=Top;Secret;";
  CADODatabase db;
  db.SetConnectionString(cs);
  EXPECT_EQ(db.Open(), 0);
  const std::vector<std::string> lines = Lines(db.GetLastErrorText());
  ASSERT_GE(lines.size(), 6u) << db.GetLastErrorText();
  EXPECT_EQ(lines[0], "Connection String = Provider=SQLOLEDB.1;Server=127.0.0.1," +
                          std::to_string(port) + ";Database=Docs;Uid=sa;Pwd=****;Secret;");
  EXPECT_EQ(lines[1], "CADODataBase Error");
  EXPECT_EQ(lines[2], "\tCode = 80004005");
  EXPECT_EQ(lines[3], "\tCode meaning = Unspecified error");
  EXPECT_EQ(lines[4], "\tSource = SQLOLEDB");
  EXPECT_EQ(lines[5].rfind("\tDescription = ", 0), 0u);
  EXPECT_NE(db.GetLastErrorText().find("refused"), std::string::npos) << db.GetLastErrorText();
  EXPECT_EQ(db.GetLastErrorText().find("\n\n"), std::string::npos) << db.GetLastErrorText();
}

TEST_F(DatabaseTest, RefusedFreeTdsPrimary) {
  const int port = testing_support::UnusedLoopbackPort();
  CADODatabase db;
  db.SetConnectionString("Driver={FreeTDS};Server=127.0.0.1;Port=" + std::to_string(port) +
                         ";TDS_Version=7.4;Database=Docs;Uid=sa;Pwd=x;");
  EXPECT_EQ(db.Open(), 0);
  const std::vector<std::string> lines = Lines(db.GetLastErrorText());
  ASSERT_GE(lines.size(), 6u) << db.GetLastErrorText();
  EXPECT_EQ(lines[2], "\tCode = 80004005");
  EXPECT_EQ(lines[4], "\tSource = FreeTDS");
}

TEST_F(DatabaseTest, SilentServerFailsTheOpenAfterTheLoginTimeout) {
  SilentListener listener;
  CADODatabase db;
  db.SetConnectionString("Provider=SQLOLEDB.1;Server=127.0.0.1," +
                         std::to_string(listener.port()) + ";Database=d;Uid=u;Pwd=p;");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(db.Open(), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, kLoginTimeoutSeconds - 1) << db.GetLastErrorText();
  EXPECT_LE(seconds, kLoginTimeoutSeconds + 10) << db.GetLastErrorText();
  EXPECT_EQ(Lines(db.GetLastErrorText()).at(1), "CADODataBase Error");
}

// "Connect Timeout=N" in the string sets the login time-out: a primary whose server never answers
// costs N seconds instead of 15, and DbRelay goes on to its fall-back after them.
struct ConnectTimeoutCase {
  const char* name;
  std::string primary;  // "%port%" stands for the silent listener's port
};

void PrintTo(const ConnectTimeoutCase& c, std::ostream* os) { *os << c.name; }

class ConnectTimeoutTest : public DatabaseTest,
                           public ::testing::WithParamInterface<ConnectTimeoutCase> {
 protected:
  std::string Primary(const SilentListener& listener) const {
    std::string primary = GetParam().primary;
    primary.replace(primary.find("%port%"), 6, std::to_string(listener.port()));
    return primary;
  }
};

TEST_P(ConnectTimeoutTest, OpenFailsAfterTheTimeOutOfTheString) {
  SilentListener listener;
  CADODatabase db;
  db.SetConnectionString(Primary(listener));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(db.Open(), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(Lines(db.GetLastErrorText()).at(1), "CADODataBase Error");
  EXPECT_GE(listener.Connections(), 1);
  std::cout << "login time-out 2 s: the open failed after " << seconds << " s\n";
}

TEST_P(ConnectTimeoutTest, RelayFallsBackToTheTextFile) {
  SilentListener listener;
  testing_support::RelaySandbox relay;
  const std::string queue = relay.File("queue.sql");
  relay.WriteIni({"PriDBType=2", "PriOtherConnStr=" + Primary(listener), "SecDBType=3",
                  "SecLocalTextFile=" + queue});
  testing_support::RunOptions options;
  options.env = OdbcConfig::Get().Env();
  // A guard, not a measurement: well below the default 15 s, so a run that ignored the string's
  // 2 s is killed and fails here, and far above 2 s for a loaded machine.
  options.timeout_seconds = 12;
  const std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";
  auto result = relay.Run({statement}, options);
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(testing_support::ReadFileBytes(queue), statement + "\r\n");
  EXPECT_GE(listener.Connections(), 1) << "the primary was never tried";
  std::cout << "login time-out 2 s: DbRelay parked the statement after " << result.seconds
            << " s\n";
}

INSTANTIATE_TEST_SUITE_P(
    Primaries, ConnectTimeoutTest,
    ::testing::Values(
        ConnectTimeoutCase{"sql_server_form", "Provider=SQLOLEDB.1;Server=127.0.0.1,%port%;"
                                              "Connect Timeout=2;Database=d;Uid=u;Pwd=p;"},
        ConnectTimeoutCase{"freetds", "Driver={FreeTDS};Server=127.0.0.1;Port=%port%;"
                                      "TDS_Version=7.4;connection timeout = 2;Uid=u;Pwd=p;"}),
    [](const auto& info) { return std::string(info.param.name); });

// ----- SQLite -----

TEST_F(DatabaseTest, SqliteFileThroughOdbc) {
  testing_support::TempDir dir;
  CADODatabase db;
  db.SetConnectionString(SqliteConnectionString(dir.File("c.db")));
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  EXPECT_EQ(db.Execute("CREATE TABLE docs(id INTEGER, signed INTEGER)"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 0);  // this driver counts no rows for DDL
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (7, 0)"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 1);
  EXPECT_EQ(db.Execute("UPDATE docs SET signed = 1 WHERE id = 8"), 1);
  EXPECT_EQ(db.GetRecordsAffected(), 0);
  EXPECT_EQ(db.Execute("SELECT * FROM missing_table"), 0);
  EXPECT_EQ(db.GetRecordsAffected(), 0);
  EXPECT_NE(db.GetLastErrorText().find("missing_table"), std::string::npos)
      << db.GetLastErrorText();
  db.Close();
  EXPECT_EQ(db.Execute("INSERT INTO docs VALUES (1, 1)"), 0);
  EXPECT_NE(db.GetLastErrorText().find("\tCode = 800a0e78\n"), std::string::npos);
}

// ----- Connection strings that cannot work -----

struct BadStringCase {
  const char* name;
  std::string connection_string;
  const char* code_line;
};

class BadConnectionStringTest : public DatabaseTest,
                                public ::testing::WithParamInterface<BadStringCase> {};

TEST_P(BadConnectionStringTest, OpenFailsWithTheErrorText) {
  CADODatabase db;
  db.SetConnectionString(GetParam().connection_string);
  EXPECT_EQ(db.Open(), 0);
  const std::string text = db.GetLastErrorText();
  const std::string head =
      "Connection String = " + MaskConnectionPassword(GetParam().connection_string) +
      "\nCADODataBase Error\n" + GetParam().code_line;
  EXPECT_EQ(text.substr(0, head.size()), head) << text.substr(0, 2000);
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 6u) << text.substr(0, 2000);
  EXPECT_EQ(lines[4].rfind("\tSource = ", 0), 0u);
  EXPECT_EQ(lines[5].rfind("\tDescription = ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, BadConnectionStringTest,
    ::testing::Values(
        BadStringCase{"Empty", "", "\tCode = 80004005\n"},
        BadStringCase{"Garbled", "=;;{Driver=;}}=\"'", "\tCode = 80004005\n"},
        BadStringCase{"Enormous", "Driver={SQLite3};Database=" + std::string(1 << 20, 'x'),
                      "\tCode = 80004005\n"},
        BadStringCase{"UnknownDriver", "Driver={No Such Driver};Server=h;Pwd=pw",
                      "\tCode = 80004005\n"},
        BadStringCase{"UnknownProvider", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb",
                      "\tCode = 800a0e7a\n\tCode meaning = Unknown error 0x800A0E7A\n"
                      "\tSource = ADODB.Connection\n\tDescription = Provider cannot be found. "
                      "It may not be properly installed.\n"}),
    [](const ::testing::TestParamInfo<BadStringCase>& info) { return info.param.name; });

// ----- What the real DbRelay shows of a connection string -----

// Every secret of a connection string stays out of the detailed log and the error texts, whatever
// the key is called and however deeply it is nested; a scrambled string pasted as a plain one is
// hidden whole. Each secret is a word of its own, so any trace of one shows.
TEST_F(DatabaseTest, RelayShowsNoSecretInItsLogOrErrorTexts) {
  testing_support::RelaySandbox relay;
  const std::string primary = "Driver=SQLite3;Database=" + relay.File("absent/x.db") +
                              ";NoCreat=1;PASSWD=SecretOne;pqopt={sslmode=disable "
                              "password=SecretTwo};Jet OLEDB:Database Password='SecretThree'";
  const std::string masked_primary = "Driver=SQLite3;Database=" + relay.File("absent/x.db") +
                                     ";NoCreat=1;PASSWD=****;pqopt={sslmode=disable "
                                     "password=****};Jet OLEDB:Database Password=****";
  const std::string scrambled = settings::EncodeSettingValue("DSN=Main;Pwd=SecretFour");
  relay.WriteIni({"DetailedLog=1", "PriDBType=2", "PriOtherConnStr=" + primary, "SecDBType=2",
                  "SecOtherConnStr=" + scrambled});
  testing_support::RunOptions options;
  options.env = OdbcConfig::Get().Env();

  auto run = relay.Run({"UPDATE Docs SET Signed=1 WHERE Id=7"}, options);
  EXPECT_EQ(run.exit_status, 255) << run.out;
  EXPECT_NE(run.out.find("\nPrimary Connection String: " + masked_primary + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\nSecondary Connection String: ****\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Connection String = ****\nCADODataBase Error"), std::string::npos)
      << run.out;

  auto test = relay.Run({"PriTest"}, options);
  EXPECT_NE(test.out.find("Connection Faild:\nConnection String = " + masked_primary + "\n"),
            std::string::npos)
      << test.out;

  for (const std::string& out : {run.out, test.out}) {
    for (const char* secret : {"SecretOne", "SecretTwo", "SecretThree", "SecretFour"}) {
      EXPECT_EQ(out.find(secret), std::string::npos) << secret << " shown in\n" << out;
    }
    EXPECT_EQ(out.find(scrambled.substr(5)), std::string::npos) << "scrambled body shown";
  }
}

}  // namespace
}  // namespace dbrelay
