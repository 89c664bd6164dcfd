// DbRelayReplay's pieces in process: its command line, the text it puts into the ledger, which
// statements it joins into one batch and when it stops trying, and what it does on a driver
// without transactions.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "relay/database/connection.h"
#include "relay/output/record_boundaries.h"
#include "relay/output/text_file.h"
#include "replay/exit_status.h"
#include "replay/joined_statements.h"
#include "replay/ledger.h"
#include "replay/replay_arguments.h"
#include "replay/replay_queue.h"
#include "tests/support/in_process_env.h"
#include "tests/support/odbc_config.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"

namespace {

using dbrelay::replay::ReplayAction;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

struct ArgumentsCase {
  const char* name;
  std::vector<const char*> args;  // after the program name
  bool ok;
  ReplayAction action;
  std::vector<std::string> files;
  std::string reject_file;
};

void PrintTo(const ArgumentsCase& c, std::ostream* os) { *os << c.name; }

class ReplayArgumentsTest : public testing::TestWithParam<ArgumentsCase> {};

TEST_P(ReplayArgumentsTest, ParsesOrRefuses) {
  std::vector<const char*> argv = {"DbRelayReplay"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  dbrelay::replay::ReplayArguments parsed;
  std::string error;
  ASSERT_EQ(dbrelay::replay::ParseReplayArguments(static_cast<int>(argv.size()), argv.data(),
                                                  &parsed, &error),
            GetParam().ok)
      << error;
  if (!GetParam().ok) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(parsed.action, GetParam().action);
  EXPECT_EQ(parsed.files, GetParam().files);
  EXPECT_EQ(parsed.reject_file, GetParam().reject_file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplayArgumentsTest,
    testing::Values(
        ArgumentsCase{"none", {}, true, ReplayAction::kReplay, {}, ""},
        ArgumentsCase{"files", {"a.sql", "b.sql"}, true, ReplayAction::kReplay, {"a.sql", "b.sql"},
                      ""},
        ArgumentsCase{"list", {"--list", "a.sql"}, true, ReplayAction::kList, {"a.sql"}, ""},
        ArgumentsCase{"reject", {"--reject-first", "a.sql"}, true, ReplayAction::kRejectFirst, {},
                      "a.sql"},
        ArgumentsCase{"dash_file_after_double_dash", {"--", "-odd.sql"}, true,
                      ReplayAction::kReplay, {"-odd.sql"}, ""},
        ArgumentsCase{"help", {"--help"}, true, ReplayAction::kHelp, {}, ""},
        ArgumentsCase{"version", {"--version"}, true, ReplayAction::kVersion, {}, ""},
        ArgumentsCase{"help_with_more", {"--help", "a.sql"}, false, ReplayAction::kReplay, {}, ""},
        ArgumentsCase{"unknown_option", {"--all"}, false, ReplayAction::kReplay, {}, ""},
        ArgumentsCase{"reject_without_file", {"--reject-first"}, false, ReplayAction::kReplay, {},
                      ""},
        ArgumentsCase{"reject_and_list", {"--list", "--reject-first", "a.sql"}, false,
                      ReplayAction::kReplay, {}, ""},
        ArgumentsCase{"reject_and_files", {"--reject-first", "a.sql", "b.sql"}, false,
                      ReplayAction::kReplay, {}, ""},
        ArgumentsCase{"empty_file_name", {""}, false, ReplayAction::kReplay, {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LedgerLiteralTextTest, KeepsPrintableAsciiAndEscapesTheRest) {
  EXPECT_EQ(dbrelay::replay::LedgerLiteralText("/var/spool/dbrelay/queue.sql", 100),
            "/var/spool/dbrelay/queue.sql");
  EXPECT_EQ(dbrelay::replay::LedgerLiteralText("it's 100%\n\xff", 100), "it%27s 100%25%0A%FF");
  EXPECT_EQ(dbrelay::replay::LedgerLiteralText("abcdef", 4), "abcd");
}

struct JoinCase {
  const char* name;
  std::string statement;
  bool joinable;
};

void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }

class CanRunJoinedTest : public testing::TestWithParam<JoinCase> {};

// Joined, an unfinished statement would take the next one into itself: only what ends beyond
// doubt in every dialect is joined.
TEST_P(CanRunJoinedTest, JoinsOnlyWhatEndsBeyondDoubt) {
  EXPECT_EQ(dbrelay::replay::CanRunJoined(GetParam().statement), GetParam().joinable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CanRunJoinedTest,
    testing::Values(
        JoinCase{"insert", "INSERT INTO t (v) VALUES ('a')", true},
        JoinCase{"update_lower_case_indented", "\r\n  update t set v = 'b' where id = 1", true},
        JoinCase{"delete", "DELETE FROM t WHERE id = 1", true},
        JoinCase{"final_semicolon_and_spaces", "INSERT INTO t VALUES (1);\r\n ", true},
        JoinCase{"quoted_semicolon_and_dashes", "INSERT INTO t VALUES ('a;--/*b$[?')", true},
        JoinCase{"doubled_quotes", "INSERT INTO \"odd \"\"t\"\"\" VALUES ('it''s')", true},
        JoinCase{"quote_in_identifier", "INSERT INTO \"it's\" VALUES (1)", true},
        JoinCase{"crlf_in_literal", "INSERT INTO t VALUES ('line 1\r\nline 2')", true},
        JoinCase{"not_utf8", "INSERT INTO t VALUES ('\xff\xfe\x81')", true},
        JoinCase{"unclosed_quote", "INSERT INTO t VALUES ('a", false},
        JoinCase{"unclosed_identifier", "INSERT INTO \"t VALUES (1)", false},
        JoinCase{"unclosed_parenthesis", "INSERT INTO t VALUES ((1)", false},
        JoinCase{"parenthesis_closed_first", "INSERT INTO t VALUES 1) (", false},
        JoinCase{"semicolon_in_parentheses", "INSERT INTO t VALUES (1;)", false},
        JoinCase{"quoted_parentheses", "INSERT INTO t VALUES ('(', \")\")", true},
        JoinCase{"two_statements", "INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)", false},
        JoinCase{"two_semicolons", "INSERT INTO t VALUES (1);;", false},
        JoinCase{"line_comment", "INSERT INTO t VALUES (1) -- the first", false},
        JoinCase{"block_comment", "INSERT INTO t /* x */ VALUES (1)", false},
        JoinCase{"backslash_in_literal", "INSERT INTO t VALUES (E'a\\'')", false},
        JoinCase{"dollar_quote", "INSERT INTO t VALUES ($$a';$$)", false},
        JoinCase{"bracket_identifier", "INSERT INTO [t VALUES (1)", false},
        JoinCase{"backquote_identifier", "INSERT INTO `t` VALUES (1)", false},
        JoinCase{"hash_comment", "INSERT INTO t VALUES (1) # mysql", false},
        JoinCase{"oracle_q_quote", "INSERT INTO t VALUES (q'<')", false},
        JoinCase{"odbc_escape", "INSERT INTO t VALUES ({fn NOW()})", false},
        JoinCase{"parameter_marker", "INSERT INTO t VALUES (?)", false},
        JoinCase{"tsql_variable", "UPDATE t SET n = @@ROWCOUNT", false},
        JoinCase{"tsql_scope_identity", "INSERT INTO c VALUES (scope_identity())", false},
        JoinCase{"at_sign_in_literal", "INSERT INTO t VALUES ('a@b.example')", true},
        JoinCase{"nul_byte", std::string("INSERT INTO t VALUES ('a\0b')", 29), false},
        JoinCase{"select", "SELECT 1", false},
        JoinCase{"transaction_control", "COMMIT", false},
        JoinCase{"verb_prefix_only", "INSERTED INTO t VALUES (1)", false},
        JoinCase{"empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppendJoinedTest, EndsEachStatementOnceOnALineOfItsOwn) {
  std::string batch;
  dbrelay::replay::AppendJoined("INSERT INTO t VALUES (1)", &batch);
  dbrelay::replay::AppendJoined("INSERT INTO t VALUES (2);\r\n", &batch);
  dbrelay::replay::AppendJoined("INSERT INTO t VALUES (3) ", &batch);
  EXPECT_EQ(batch, "INSERT INTO t VALUES (1);\nINSERT INTO t VALUES (2);\r\n\n"
                   "INSERT INTO t VALUES (3) ;\n");
}

// What reaches the real connection beneath.
struct CallCounts {
  int batches = 0;
  int singles = 0;  // single statements of the queue (rows of joined_rows)
  int transactions = 0;
  // Plays a driver that merges two statements' results into one: the batch's last count goes.
  bool drop_a_count = false;
};

class CountingConnection : public dbrelay::ConnectionWrapper {
 public:
  explicit CountingConnection(CallCounts* counts)
      : ConnectionWrapper(dbrelay::CreateOdbcConnection()), counts_(counts) {}
  void ExecuteBatch(const std::string& text, std::vector<int32_t>* counts) override {
    ++counts_->batches;
    ConnectionWrapper::ExecuteBatch(text, counts);
    if (counts_->drop_a_count && !counts->empty()) counts->pop_back();
  }
  void Execute(const std::string& text, int32_t* count, int32_t options) override {
    if (text.rfind("INSERT INTO joined_rows", 0) == 0) ++counts_->singles;
    ConnectionWrapper::Execute(text, count, options);
  }
  void BeginTrans() override {
    ++counts_->transactions;
    ConnectionWrapper::BeginTrans();
  }

 private:
  CallCounts* counts_;
};

class ReplayBatchesTest : public testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() { testing_support::OdbcConfig::Get().ApplyToThisProcess(); }

  void SetUp() override {
    testing_support::WriteFileBytes(dir_.File("DbRelay.ini"), "[General]\r\n");
    if (postgres()) {
      const testing_support::PostgresServer& server = testing_support::PostgresServer::Get();
      server.Execute("SET client_min_messages = warning; "
                     "DROP TABLE IF EXISTS joined_rows, dbrelay_replay_ledger; "
                     "CREATE TABLE joined_rows (v INTEGER)");
      connection_ = server.OdbcConnectionString();
    } else {
      const std::string db = dir_.File("docs.db");
      ASSERT_EQ(
          std::system(("sqlite3 " + db + " 'CREATE TABLE joined_rows (v INTEGER)'").c_str()), 0);
      connection_ = "Driver=" + std::string(testing_support::kSqliteOdbcDriver) +
                    ";Database=" + db;
    }
  }

  bool postgres() const { return GetParam(); }
  void Park(const std::string& statement) const {
    ASSERT_EQ(dbrelay::AppendStatementToTextFile(queue_, statement), 0);
  }

  // Replays the queue through a counting connection; the exit status.
  int Replay(CallCounts* calls) {
    database_ =
        std::make_unique<dbrelay::CADODatabase>(std::make_unique<CountingConnection>(calls));
    database_->SetConnectionString(connection_);
    EXPECT_NE(database_->Open(), 0) << database_->GetLastErrorText();
    dbrelay::replay::QueueReplay replay(database_.get(), "host");
    dbrelay::replay::ReplayTotals totals;
    return replay.Replay(queue_, &totals);
  }

  // "rows distinct-values" of the table, read through the replay's own connection.
  std::string Rows() const {
    std::optional<std::string> value;
    EXPECT_EQ(database_->QueryValue(
                  "SELECT count(*) || ' ' || count(DISTINCT v) FROM joined_rows", &value),
              1)
        << database_->GetLastErrorText();
    return value.value_or("none");
  }

  TempDir dir_;
  testing_support::InProcessEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
  std::string connection_;
  std::string queue_ = dir_.File("queue.sql");
  std::unique_ptr<dbrelay::CADODatabase> database_;
};

// PostgreSQL takes a transaction's hundred statements in one batch; SQLite's driver refuses the
// first batch, and the replay sends the rest one at a time without asking again. Either way
// every statement runs once.
TEST_P(ReplayBatchesTest, JoinedWhereTheDriverTakesThemAloneWhereNot) {
  const int records = 250;  // three transactions
  for (int i = 0; i < records; ++i) {
    Park("INSERT INTO joined_rows VALUES (" + std::to_string(i) + ")");
  }
  CallCounts calls;
  ASSERT_EQ(Replay(&calls), dbrelay::replay::kExitNothingPending) << env_.console;
  EXPECT_EQ(calls.batches, postgres() ? 3 : 1);
  EXPECT_EQ(calls.singles, postgres() ? 0 : records);
  EXPECT_EQ(calls.transactions, postgres() ? 3 : 4);  // SQLite's first one refused
  EXPECT_EQ(Rows(), std::to_string(records) + " " + std::to_string(records));
}

// A record that cannot be joined runs alone, in a transaction of its own; the joinable ones
// around it are still joined.
TEST_P(ReplayBatchesTest, ARecordThatCannotBeJoinedRunsInATransactionOfItsOwn) {
  for (const char* values : {"(0)", "(1)", "(2) -- a comment", "(3)", "(4)"}) {
    Park(std::string("INSERT INTO joined_rows VALUES ") + values);
  }
  CallCounts calls;
  ASSERT_EQ(Replay(&calls), dbrelay::replay::kExitNothingPending) << env_.console;
  // SQLite: the first batch refused and run again alone, then one statement at a time.
  EXPECT_EQ(calls.batches, postgres() ? 2 : 1);
  EXPECT_EQ(calls.singles, postgres() ? 1 : 5);
  EXPECT_EQ(calls.transactions, postgres() ? 3 : 4);
  EXPECT_EQ(Rows(), "5 5");
}

// One call carries about a mebibyte of joined statements: a hundred of 20 KiB take two.
TEST_P(ReplayBatchesTest, AJoinedCallCarriesAboutAMebibyte) {
  const std::string literal(20 << 10, 'x');
  for (int i = 0; i < 100; ++i) {
    Park("INSERT INTO joined_rows VALUES (" + std::to_string(i) + " + 0 * length('" + literal +
         "'))");
  }
  CallCounts calls;
  ASSERT_EQ(Replay(&calls), dbrelay::replay::kExitNothingPending) << env_.console;
  EXPECT_EQ(calls.batches, postgres() ? 2 : 1);
  EXPECT_EQ(calls.transactions, postgres() ? 1 : 2);
  EXPECT_EQ(Rows(), "100 100");
}

// A joined call that gives fewer counts than statements is undone, and its statements run one at
// a time: a count taken for the wrong statement would pass a minimum it should fail.
TEST_P(ReplayBatchesTest, ACallWithACountMissingIsUndoneAndRunAlone) {
  for (int i = 0; i < 150; ++i) {
    Park("INSERT INTO joined_rows VALUES (" + std::to_string(i) + ")");
  }
  CallCounts calls;
  calls.drop_a_count = true;
  ASSERT_EQ(Replay(&calls), dbrelay::replay::kExitNothingPending) << env_.console;
  EXPECT_EQ(calls.batches, 1);
  EXPECT_EQ(calls.singles, 150);
  EXPECT_EQ(Rows(), "150 150");
}

// A hundred large records are not held in memory at once: a transaction takes what fits in
// 16 MiB, or one record that alone is larger.
TEST_P(ReplayBatchesTest, LargeRecordsGoInSmallerTransactions) {
  const std::string large(7 << 20, ' ');
  for (int i = 0; i < 5; ++i) {
    Park("INSERT INTO joined_rows VALUES (" + std::to_string(i) + ")" + large);
  }
  Park("INSERT INTO joined_rows VALUES (5)" + std::string(17 << 20, ' '));
  Park("INSERT INTO joined_rows VALUES (6)");
  CallCounts calls;
  ASSERT_EQ(Replay(&calls), dbrelay::replay::kExitNothingPending) << env_.console;
  // [0 1] [2 3] [4] [5] [6]: 7 MiB records two at a time, the 17 MiB one alone.
  EXPECT_EQ(calls.transactions, 5);
  EXPECT_EQ(Rows(), "7 7");
}

INSTANTIATE_TEST_SUITE_P(Databases, ReplayBatchesTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "postgres" : "sqlite"; });

// A real SQLite connection whose commits the database refuses while *refuse is set.
class RefusedCommit : public dbrelay::ConnectionWrapper {
 public:
  explicit RefusedCommit(const bool* refuse)
      : ConnectionWrapper(dbrelay::CreateOdbcConnection()), refuse_(refuse) {}
  void CommitTrans() override {
    if (*refuse_) {
      ConnectionWrapper::RollbackTrans();
      throw dbrelay::_com_error(dbrelay::kErrorUnspecified, "SQLite3 ODBC Driver",
                                "database is locked");
    }
    ConnectionWrapper::CommitTrans();
  }

 private:
  const bool* refuse_;
};

// --reject-first stopped before the record went aside, then one whose ledger update is refused
// after it went to the .rejected file: a replay then runs nothing of the queue, and the next --reject-first finishes the move without
// saving the record aside a second time; one run after a rejection that only failed to tidy up
// moves nothing.
TEST(RejectFirstStoppedHalfWayTest, IsFinishedWithoutASecondCopy) {
  TempDir dir;
  testing_support::InProcessEnv env(dir.path());
  dbrelay::ScopedEnvOverride use(&env);
  testing_support::OdbcConfig::Get().ApplyToThisProcess();
  testing_support::WriteFileBytes(dir.File("DbRelay.ini"), "[General]\r\n");
  const std::string db = dir.File("docs.db");
  ASSERT_EQ(std::system(("sqlite3 " + db + " 'CREATE TABLE t (v TEXT)'").c_str()), 0);
  const std::string queue = dir.File("queue.sql");
  for (const char* v : {"a", "b", "c"}) {
    ASSERT_EQ(dbrelay::AppendStatementToTextFile(
                  queue, std::string("INSERT INTO t VALUES ('") + v + "')"),
              0);
  }
  bool refuse = true;
  dbrelay::CADODatabase database(std::make_unique<RefusedCommit>(&refuse));
  database.SetConnectionString("Driver=" + std::string(testing_support::kSqliteOdbcDriver) +
                               ";Database=" + db);
  ASSERT_NE(database.Open(), 0) << database.GetLastErrorText();
  dbrelay::replay::QueueReplay replay(&database, "host");
  const std::string aside = queue + ".rejected";
  auto rows = [&] {
    std::optional<std::string> value;
    EXPECT_EQ(database.QueryValue("SELECT group_concat(v) FROM t", &value), 1);
    return value.value_or("");
  };

  // Killed right after it said what it would move, before the record went aside: a replay runs
  // nothing, and the next rejection still saves the record.
  const std::string header = ReadFileBytes(queue + ".boundaries");
  const std::string id = header.substr(header.find("boundaries 1 ") + 13, 32);
  testing_support::WriteFileBytes(queue + ".rejecting", "DbRelay rejecting 1 " + id + " 0 0\n");
  dbrelay::replay::ReplayTotals before;
  EXPECT_EQ(replay.Replay(queue, &before), dbrelay::replay::kExitStatementFailed) << env.console;
  EXPECT_EQ(rows(), "");

  EXPECT_EQ(replay.RejectFirst(queue), dbrelay::replay::kExitStatementFailed) << env.console;
  // The database's own reason for refusing, not another step's.
  EXPECT_NE(env.console.find("the ledger cannot be moved past its first record\n"
                             "Connection String = "),
            std::string::npos)
      << env.console;
  EXPECT_NE(env.console.find("database is locked"), std::string::npos) << env.console;
  EXPECT_EQ(ReadFileBytes(aside), "INSERT INTO t VALUES ('a')\r\n");
  refuse = false;

  dbrelay::replay::ReplayTotals totals;
  env.console.clear();
  EXPECT_EQ(replay.Replay(queue, &totals), dbrelay::replay::kExitStatementFailed);
  EXPECT_NE(env.console.find("DbRelayReplay --reject-first stopped while it moved its record 1 "
                             "(byte 0) to " + aside),
            std::string::npos)
      << env.console;
  EXPECT_EQ(totals.pending, 3u);
  EXPECT_EQ(rows(), "");

  env.console.clear();
  const std::string intent = ReadFileBytes(queue + ".rejecting");
  EXPECT_EQ(replay.RejectFirst(queue), dbrelay::replay::kExitNothingPending) << env.console;
  EXPECT_EQ(ReadFileBytes(aside), "INSERT INTO t VALUES ('a')\r\n");
  EXPECT_FALSE(testing_support::FileExists(queue + ".rejecting"));

  // Stopped after its commit, before it removed its note: run again, it takes nothing more.
  testing_support::WriteFileBytes(queue + ".rejecting", intent);
  env.console.clear();
  EXPECT_EQ(replay.RejectFirst(queue), dbrelay::replay::kExitNothingPending) << env.console;
  EXPECT_EQ(env.console, queue + ": the record at byte 0 was moved to " + aside +
                             " already; nothing more moved, 2 pending\n");
  EXPECT_EQ(ReadFileBytes(aside), "INSERT INTO t VALUES ('a')\r\n");
  EXPECT_FALSE(testing_support::FileExists(queue + ".rejecting"));

  totals = {};
  EXPECT_EQ(replay.Replay(queue, &totals), dbrelay::replay::kExitNothingPending) << env.console;
  EXPECT_EQ(totals.replayed, 2u);
  EXPECT_EQ(rows(), "b,c");
}

// A real SQLite connection whose driver claims to have no transactions.
class NoTransactions : public dbrelay::ConnectionWrapper {
 public:
  NoTransactions() : ConnectionWrapper(dbrelay::CreateOdbcConnection()) {}
  void BeginTrans() override {
    throw dbrelay::_com_error(dbrelay::kErrorNotCapable, "ADODB.Connection",
                              "Object or provider is not capable of performing requested "
                              "operation.");
  }
};

TEST(ReplayWithoutTransactionsTest, RunsNothingAndSaysSo) {
  TempDir dir;
  testing_support::InProcessEnv env(dir.path());
  dbrelay::ScopedEnvOverride use(&env);
  testing_support::WriteFileBytes(dir.File("DbRelay.ini"), "[General]\r\n");
  const std::string db = dir.File("docs.db");
  ASSERT_EQ(std::system(("sqlite3 " + db + " 'CREATE TABLE t (v TEXT)'").c_str()), 0);
  const std::string queue = dir.File("queue.sql");
  ASSERT_EQ(dbrelay::AppendStatementToTextFile(queue, "INSERT INTO t VALUES ('a')"), 0);
  const std::string before = ReadFileBytes(queue);

  dbrelay::CADODatabase database(std::make_unique<NoTransactions>());
  database.SetConnectionString("Driver=" + std::string(testing_support::kSqliteOdbcDriver) +
                               ";Database=" + db);
  ASSERT_NE(database.Open(), 0) << database.GetLastErrorText();
  dbrelay::replay::QueueReplay replay(&database, "host");
  dbrelay::replay::ReplayTotals totals;
  EXPECT_EQ(replay.Replay(queue, &totals), dbrelay::replay::kExitStatementFailed);
  EXPECT_NE(env.console.find("not capable of performing requested operation"), std::string::npos)
      << env.console;
  EXPECT_NE(env.console.find("stay pending"), std::string::npos) << env.console;
  EXPECT_EQ(ReadFileBytes(queue), before);
  EXPECT_EQ(totals.replayed, 0u);
  EXPECT_EQ(totals.pending, 1u);
}

}  // namespace
