// DbRelayReplay's pieces in process: its command line, the text it puts into the ledger, and what
// it does on a driver without transactions.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "relay/database/connection.h"
#include "relay/output/record_boundaries.h"
#include "relay/output/text_file.h"
#include "replay/exit_status.h"
#include "replay/ledger.h"
#include "replay/replay_arguments.h"
#include "replay/replay_queue.h"
#include "tests/support/in_process_env.h"
#include "tests/support/odbc_config.h"
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
