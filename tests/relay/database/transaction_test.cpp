// Transactions, the one-value query and the batch of statements of the database seam, on real
// SQLite and real PostgreSQL through unixODBC. What a test sees of the rows it reads with each
// database's own client (sqlite3, psql), never through the connection under test.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "relay/database/ado_database.h"
#include "relay/database/connection.h"
#include "relay/database/connection_string.h"
#include "tests/support/child_process.h"
#include "tests/support/odbc_config.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/transaction_holder.h"

namespace dbrelay {
namespace {

using testing_support::OdbcConfig;
using testing_support::PostgresServer;

enum class Db { kSqlite, kPostgres };

std::string DbName(const ::testing::TestParamInfo<Db>& info) {
  return info.param == Db::kSqlite ? "sqlite" : "postgres";
}

class TransactionTest : public ::testing::TestWithParam<Db> {
 protected:
  static void SetUpTestSuite() { OdbcConfig::Get().ApplyToThisProcess(); }

  void SetUp() override {
    // A parent table and a child whose reference is checked only at commit, so that a commit
    // can be refused.
    if (GetParam() == Db::kPostgres) {
      Client("SET client_min_messages = warning; DROP TABLE IF EXISTS txn_child, txn_rows");
    }
    Client(
        "CREATE TABLE txn_rows(id INTEGER PRIMARY KEY, body TEXT);"
        "CREATE TABLE txn_child(parent INTEGER REFERENCES txn_rows(id) DEFERRABLE INITIALLY "
        "DEFERRED)");
  }

  std::string ConnectionString() const {
    return GetParam() == Db::kSqlite ? "Driver={SQLite3};Database=" + file_ + ";"
                                     : PostgresServer::Get().OdbcConnectionString();
  }

  // Runs sql with the database's own client; its rows, one per line.
  std::string Client(const std::string& sql) const {
    if (GetParam() == Db::kPostgres) return PostgresServer::Get().Query(sql);
    testing_support::ProcessResult r =
        testing_support::RunProcess({"/usr/bin/sqlite3", "-cmd", ".timeout 20000", file_, sql});
    EXPECT_EQ(r.exit_status, 0) << sql;
    return r.out;
  }

  std::string Ids() const { return Client("SELECT id FROM txn_rows ORDER BY id"); }

  std::unique_ptr<CADODatabase> OpenDb() const {
    auto db = std::make_unique<CADODatabase>();
    db->SetConnectionString(ConnectionString());
    EXPECT_NE(db->Open(), 0) << db->GetLastErrorText();
    // SQLite checks references only when asked, per connection.
    if (GetParam() == Db::kSqlite) {
      EXPECT_EQ(db->Execute("PRAGMA foreign_keys = ON"), 1);
    }
    return db;
  }

  testing_support::TempDir dir_;
  std::string file_ = dir_.File("txn.db");
};

TEST_P(TransactionTest, CommitKeepsTheRowsAndAutocommitReturns) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'a')"), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (2, 'b')"), 1);
  EXPECT_EQ(db->Execute("UPDATE txn_rows SET body = 'c'"), 1);
  EXPECT_EQ(db->GetRecordsAffected(), 2);
  std::optional<std::string> count;
  EXPECT_EQ(db->QueryValue("SELECT count(*) FROM txn_rows", &count), 1);
  EXPECT_EQ(count, "2");  // the transaction sees its own rows
  EXPECT_EQ(Ids(), "");   // nobody else does yet
  ASSERT_EQ(db->CommitTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "1\n2\n");
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (3, 'd')"), 1);
  EXPECT_EQ(Ids(), "1\n2\n3\n");
  EXPECT_EQ(db->GetLastErrorText(), "");
}

TEST_P(TransactionTest, RollbackDiscardsTheRowsAndAutocommitReturns) {
  auto db = OpenDb();
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'kept')"), 1);
  ASSERT_EQ(db->BeginTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (2, 'a')"), 1);
  EXPECT_EQ(db->Execute("DELETE FROM txn_rows WHERE id = 1"), 1);
  ASSERT_EQ(db->RollbackTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "1\n");
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (3, 'b')"), 1);
  EXPECT_EQ(Ids(), "1\n3\n");
}

// PostgreSQL refuses every statement of a transaction after a failed one; the rollback must
// still end it and leave the connection as good as new.
TEST_P(TransactionTest, FailedStatementThenRollbackLeavesTheConnectionUsable) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'a')"), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'same key')"), 0);
  EXPECT_NE(db->GetLastErrorText().find(GetParam() == Db::kSqlite ? "UNIQUE constraint failed"
                                                                  : "duplicate key"),
            std::string::npos)
      << db->GetLastErrorText();
  EXPECT_EQ(db->RollbackTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "");
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (5, 'b')"), 1) << db->GetLastErrorText();
  ASSERT_EQ(db->BeginTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (6, 'c')"), 1);
  EXPECT_EQ(db->CommitTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "5\n6\n");
}

// A reference checked at commit makes the database refuse the commit itself. The rows go, the
// driver's reason is the error, and the connection is back in autocommit without a transaction.
TEST_P(TransactionTest, RefusedCommitRollsBackAndReturnsToAutocommit) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'a')"), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_child VALUES (99)"), 1) << db->GetLastErrorText();
  EXPECT_EQ(db->CommitTransaction(), 0);
  const std::string refused = db->GetLastErrorText();
  EXPECT_EQ(refused.rfind("Connection String = " + MaskConnectionPassword(ConnectionString()) +
                              "\nCADODataBase Error\n",
                          0),
            0u)
      << refused;
  EXPECT_NE(refused.find(GetParam() == Db::kSqlite ? "FOREIGN KEY constraint failed"
                                                   : "violates foreign key constraint"),
            std::string::npos)
      << refused;
  EXPECT_EQ(Ids(), "");
  EXPECT_EQ(Client("SELECT count(*) FROM txn_child"), "0\n");
  EXPECT_EQ(db->RollbackTransaction(), 0);
  EXPECT_NE(db->GetLastErrorText().find("\tDescription = No transaction is active.\n"),
            std::string::npos);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (2, 'b')"), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "2\n");
}

// Calls out of order, on the seam itself: the code and text of each error, and what survives it.
TEST_P(TransactionTest, CallsOutOfOrderThrow) {
  std::unique_ptr<Connection> c = CreateOdbcConnection();
  auto expect_error = [](auto call, uint32_t code, const std::string& description) {
    try {
      call();
      ADD_FAILURE() << "no error; expected " << description;
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), code) << description;
      EXPECT_EQ(e.Description(), description);
    }
  };
  const std::string closed = "Operation is not allowed when the object is closed.";
  const std::string none = "No transaction is active.";
  expect_error([&] { c->BeginTrans(); }, kErrorObjectClosed, closed);
  expect_error([&] { c->CommitTrans(); }, kErrorObjectClosed, closed);
  expect_error([&] { c->QueryFirstValue("SELECT 1"); }, kErrorObjectClosed, closed);
  c->Open(ConnectionString());
  expect_error([&] { c->CommitTrans(); }, kErrorNoTransaction, none);
  expect_error([&] { c->RollbackTrans(); }, kErrorNoTransaction, none);
  c->BeginTrans();
  c->Execute("INSERT INTO txn_rows VALUES (1, 'a')", nullptr, kExecuteNoRecords);
  expect_error([&] { c->BeginTrans(); }, kErrorTransactionActive,
               "Only one transaction can be active on this session.");
  c->CommitTrans();  // the first transaction was still there
  EXPECT_EQ(Ids(), "1\n");
  expect_error([&] { c->CommitTrans(); }, kErrorNoTransaction, none);
}

TEST_P(TransactionTest, OutOfOrderErrorTextIsRecorded) {
  auto db = OpenDb();
  EXPECT_EQ(db->CommitTransaction(), 0);
  const std::string head = "Connection String = " + MaskConnectionPassword(ConnectionString()) +
                           "\nCADODataBase Error\n\tCode = 8004d00e\n"
                           "\tCode meaning = IDispatch error #52750\n\tSource = ";
  const std::string text = db->GetLastErrorText();
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find("\n\tDescription = No transaction is active.\n"), std::string::npos) << text;
}

// Closing or destroying the database object with a transaction open rolls it back; a reopened
// connection starts in autocommit.
TEST_P(TransactionTest, CloseAndDestructionRollBack) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'a')"), 1);
  db->Close();
  EXPECT_EQ(Ids(), "");
  ASSERT_NE(db->Open(), 0) << db->GetLastErrorText();
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (2, 'b')"), 1);
  EXPECT_EQ(Ids(), "2\n");
  ASSERT_EQ(db->BeginTransaction(), 1);
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (3, 'c')"), 1);
  db.reset();
  EXPECT_EQ(Ids(), "2\n");
}

// The process holding the transaction is killed outright; the database must discard its work.
// The same key written afterwards by another client must succeed: it waits, if need be, for the
// dead transaction's locks, so no sleep is involved.
TEST_P(TransactionTest, KilledProcessLeavesNoRow) {
  auto child = testing_support::StartTransactionHolder(ConnectionString(),
                           "INSERT INTO txn_rows VALUES (1, 'from the killed process')");
  ASSERT_TRUE(child);
  child->Kill(SIGKILL);
  EXPECT_EQ(child->Wait().signal, SIGKILL);
  Client("INSERT INTO txn_rows VALUES (1, 'after')");
  EXPECT_EQ(Client("SELECT body FROM txn_rows"), "after\n");
}

// ----- QueryValue -----

struct QueryCase {
  const char* name;
  std::string query;
  std::optional<std::string> value;
};

// 100 kB of varied text, so a piece read twice or skipped shows.
std::string LongText() {
  std::string text;
  for (int i = 0; text.size() < 100 * 1024; ++i) text += std::to_string(i) + ",";
  return text.substr(0, 100 * 1024);
}

class QueryValueTest : public TransactionTest {};

TEST_P(QueryValueTest, ReturnsTheFirstValue) {
  auto db = OpenDb();
  ASSERT_EQ(db->Execute("INSERT INTO txn_rows VALUES (1, 'one'), (2, NULL), (3, ''), (4, '" +
                        LongText() + "')"),
            1)
      << db->GetLastErrorText();
  const std::vector<QueryCase> cases = {
      {"value", "SELECT body FROM txn_rows WHERE id = 1", "one"},
      {"first row of many", "SELECT id FROM txn_rows ORDER BY id DESC", "4"},
      {"number", "SELECT count(*) FROM txn_rows", "4"},
      {"no row", "SELECT body FROM txn_rows WHERE id = 99", std::nullopt},
      {"null", "SELECT body FROM txn_rows WHERE id = 2", std::nullopt},
      {"empty text", "SELECT body FROM txn_rows WHERE id = 3", ""},
      {"100 kB", "SELECT body FROM txn_rows WHERE id = 4", LongText()},
      {"no result set", "UPDATE txn_rows SET id = id WHERE id = 99", std::nullopt},
  };
  for (const QueryCase& q : cases) {
    std::optional<std::string> value = "stale";
    EXPECT_EQ(db->QueryValue(q.query, &value), 1) << q.name << db->GetLastErrorText();
    EXPECT_EQ(value.has_value(), q.value.has_value()) << q.name;
    if (value && q.value) {
      EXPECT_EQ(value->size(), q.value->size()) << q.name;
      EXPECT_TRUE(*value == *q.value) << q.name;
    }
  }
  EXPECT_EQ(db->GetLastErrorText(), "");
}

TEST_P(QueryValueTest, BadQueryRecordsTheDriverText) {
  auto db = OpenDb();
  std::optional<std::string> value = "stale";
  EXPECT_EQ(db->QueryValue("SELECT body FROM no_such_table", &value), 0);
  EXPECT_EQ(value, std::nullopt);
  const std::string text = db->GetLastErrorText();
  EXPECT_EQ(text.rfind("Connection String = " + MaskConnectionPassword(ConnectionString()) +
                           "\nCADODataBase Error\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("no_such_table"), std::string::npos) << text;
  EXPECT_EQ(db->QueryValue("SELECT 7", &value), 1) << db->GetLastErrorText();
  EXPECT_EQ(value, "7");
}

class ExecuteBatchTest : public TransactionTest {};

// PostgreSQL's driver sends the statements as one query and gives each its own count; SQLite's
// takes one statement a call and refuses the batch without running any of it.
TEST_P(ExecuteBatchTest, GivesEachStatementsCountOrRefusesWhole) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1) << db->GetLastErrorText();
  std::vector<int32_t> counts = {7};
  const int ran = db->ExecuteBatch(
      "INSERT INTO txn_rows VALUES (1, 'a');\nINSERT INTO txn_rows VALUES (2, 'b'), (3, 'c');\n"
      "UPDATE txn_rows SET body = 'x' WHERE id = 99;\nDELETE FROM txn_rows WHERE id > 1;\n",
      &counts);
  if (GetParam() == Db::kSqlite) {
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(counts.empty());
    EXPECT_NE(db->GetLastErrorText().find("only one SQL statement allowed"), std::string::npos)
        << db->GetLastErrorText();
    std::optional<std::string> rows;
    EXPECT_EQ(db->QueryValue("SELECT count(*) FROM txn_rows", &rows), 1);
    EXPECT_EQ(rows, "0");
  } else {
    ASSERT_EQ(ran, 1) << db->GetLastErrorText();
    EXPECT_EQ(counts, (std::vector<int32_t>{1, 2, 0, 2}));
    // A statement that matches no row first is a count of 0, not the end of the results.
    ASSERT_EQ(db->ExecuteBatch("UPDATE txn_rows SET body = 'y' WHERE id = 99; "
                               "UPDATE txn_rows SET body = 'y' WHERE id = 1",
                               &counts),
              1)
        << db->GetLastErrorText();
    EXPECT_EQ(counts, (std::vector<int32_t>{0, 1}));
  }
  ASSERT_EQ(db->CommitTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), GetParam() == Db::kSqlite ? "" : "1\n");
}

// A later statement that fails fails the batch, with its own error text.
TEST_P(ExecuteBatchTest, ALaterStatementThatFailsFailsTheBatch) {
  auto db = OpenDb();
  ASSERT_EQ(db->BeginTransaction(), 1) << db->GetLastErrorText();
  std::vector<int32_t> counts = {7};
  EXPECT_EQ(db->ExecuteBatch("INSERT INTO txn_rows VALUES (1, 'a'); "
                             "INSERT INTO txn_rows VALUES (1, 'same key'); "
                             "INSERT INTO txn_rows VALUES (3, 'c')",
                             &counts),
            0);
  EXPECT_TRUE(counts.empty());
  if (GetParam() == Db::kPostgres) {
    EXPECT_NE(db->GetLastErrorText().find("duplicate key"), std::string::npos)
        << db->GetLastErrorText();
  }
  EXPECT_EQ(db->RollbackTransaction(), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "");
  EXPECT_EQ(db->Execute("INSERT INTO txn_rows VALUES (5, 'b')"), 1) << db->GetLastErrorText();
  EXPECT_EQ(Ids(), "5\n");
}

// One statement text of two: the first matching no row must not hide the second's failure.
TEST_P(TransactionTest, ExecuteFailsWhenALaterStatementFailsAfterOneThatMatchedNoRow) {
  auto db = OpenDb();
  EXPECT_EQ(db->Execute("UPDATE txn_rows SET body = 'x' WHERE id = 99; "
                        "INSERT INTO no_such_table VALUES (1)"),
            0);
  if (GetParam() == Db::kPostgres) {
    EXPECT_NE(db->GetLastErrorText().find("no_such_table"), std::string::npos)
        << db->GetLastErrorText();
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, TransactionTest, ::testing::Values(Db::kSqlite, Db::kPostgres),
                         DbName);
INSTANTIATE_TEST_SUITE_P(Databases, QueryValueTest, ::testing::Values(Db::kSqlite, Db::kPostgres),
                         DbName);
INSTANTIATE_TEST_SUITE_P(Databases, ExecuteBatchTest,
                         ::testing::Values(Db::kSqlite, Db::kPostgres), DbName);

// ----- What no installed driver lacks -----

// Every installed driver has transactions, so the driver that has none is played by the seam.
class NoTransactions : public ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void BeginTrans() override {
    throw _com_error(kErrorNotCapable, std::string("ADODB.Connection"),
                     std::string("Object or provider is not capable of performing requested "
                                 "operation."));
  }
};

TEST(TransactionSeamTest, DriverWithoutTransactionsFailsBeginAndStatementsStillRun) {
  OdbcConfig::Get().ApplyToThisProcess();
  testing_support::TempDir dir;
  const std::string cs = "Driver={SQLite3};Database=" + dir.File("n.db") + ";Pwd=secret;";
  CADODatabase db(std::make_unique<NoTransactions>(CreateOdbcConnection()));
  db.SetConnectionString(cs);
  ASSERT_NE(db.Open(), 0) << db.GetLastErrorText();
  EXPECT_EQ(db.BeginTransaction(), 0);
  EXPECT_EQ(db.GetLastErrorText(),
            "Connection String = " + MaskConnectionPassword(cs) +
                "\nCADODataBase Error\n\tCode = 800a0cb3\n\tCode meaning = Unknown error "
                "0x800A0CB3\n\tSource = ADODB.Connection\n\tDescription = Object or provider is "
                "not capable of performing requested operation.\n");
  EXPECT_EQ(db.Execute("CREATE TABLE t(x)"), 1);
  EXPECT_EQ(db.CommitTransaction(), 0);
}

TEST(TransactionSeamTest, WithoutConnectionObjectEveryCallFails) {
  CADODatabase db(nullptr);
  std::optional<std::string> value = "stale";
  EXPECT_EQ(db.BeginTransaction(), 0);
  EXPECT_EQ(db.CommitTransaction(), 0);
  EXPECT_EQ(db.RollbackTransaction(), 0);
  EXPECT_EQ(db.QueryValue("SELECT 1", &value), 0);
  EXPECT_EQ(value, std::nullopt);
  std::vector<int32_t> counts = {7};
  EXPECT_EQ(db.ExecuteBatch("SELECT 1; SELECT 2", &counts), 0);
  EXPECT_TRUE(counts.empty());
  EXPECT_NE(db.GetLastErrorText().find("\tCode = 80004003\n"), std::string::npos);
}

}  // namespace
}  // namespace dbrelay
