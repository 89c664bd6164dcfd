// DbRelayReplay end to end: the real DbRelay parks statements while its primary is down (a SQLite
// file that cannot be opened, a PostgreSQL port with nothing listening), the settings are then
// rewritten so the primary is reachable, and the real DbRelayReplay, deployed beside DbRelay and
// reading the same DbRelay.ini, replays them into real SQLite and real PostgreSQL through
// unixODBC. What is in a database is read with its own client (sqlite3, psql).

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/reliability/relay_fleet.h"
#include "tests/support/child_process.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/silent_listener.h"
#include "tests/support/transaction_holder.h"

namespace {

using testing_support::ChildOptions;
using testing_support::ChildProcess;
using testing_support::FileExists;
using testing_support::PostgresServer;
using testing_support::ProcessResult;
using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::WriteFileBytes;

enum class Db { kSqlite, kPostgres };

std::string DbName(Db db) { return db == Db::kSqlite ? "sqlite" : "postgres"; }

std::string Insert(const std::string& body) {
  return "INSERT INTO items (body) VALUES ('" + body + "')";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What a failed run must leave as it was: the text file and its boundaries, byte for byte.
struct QueueBytes {
  std::string text;
  std::string boundaries;
  bool operator==(const QueueBytes&) const = default;
};

// An open descriptor holding an exclusive flock, as another process would hold it.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT, 0600)) {
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) ADD_FAILURE() << "cannot lock " << path;
  }
  ~HeldLock() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// One deployment: DbRelay and DbRelayReplay in one folder with one DbRelay.ini, a queue folder,
// and the primary of the given kind.
class ReplayWorld {
 public:
  explicit ReplayWorld(Db db) : db_(db) {
    testing_support::DeployRelay(relay_.dir(), "DbRelay");
    std::filesystem::copy_file(testing_support::BinDir() + "/DbRelayReplay",
                               relay_.File("DbRelayReplay"));
    ::mkdir(relay_.File("queue").c_str(), 0700);
    if (db_ == Db::kPostgres) {
      Client("SET client_min_messages = warning; "
             "DROP TABLE IF EXISTS items, gate, nowhere, dbrelay_replay_ledger; "
             "CREATE TABLE items (seq SERIAL PRIMARY KEY, body TEXT)");
    } else {
      Client("CREATE TABLE items (seq INTEGER PRIMARY KEY AUTOINCREMENT, body TEXT)");
    }
  }

  Db db() const { return db_; }
  const RelaySandbox& relay() const { return relay_; }
  std::string queue() const { return relay_.File("queue/q.sql"); }
  std::string File(const std::string& name) const { return relay_.File(name); }
  // Further [General] lines of both the park and the replay.
  std::vector<std::string>& settings() { return settings_; }

  std::string UpConnection() const {
    if (db_ == Db::kPostgres) return PostgresServer::Get().OdbcConnectionString();
    return "Driver=SQLite3;Database=" + sqlite_file_;
  }
  std::string DownConnection() const {
    if (db_ == Db::kSqlite) {
      return "Driver=SQLite3;Database=" + relay_.File("absent/none.db") + ";NoCreat=1";
    }
    const PostgresServer& pg = PostgresServer::Get();
    return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
           std::to_string(testing_support::UnusedLoopbackPort()) + ";Database=" + pg.database() +
           ";Uid=" + pg.user() + ";Pwd=" + pg.password() + ";";
  }

  void WriteSettings(bool primary_up) const {
    std::vector<std::string> lines = {
        "PriDBType=2", "PriOtherConnStr=" + (primary_up ? UpConnection() : DownConnection()),
        "SecDBType=3", "SecLocalTextFile=" + queue()};
    lines.insert(lines.end(), settings_.begin(), settings_.end());
    relay_.WriteIni(lines);
  }

  // Runs the real DbRelay with the primary down: the statement goes to the text file.
  void Park(const std::string& statement, const std::vector<std::string>& more_args = {}) const {
    WriteSettings(false);
    std::vector<std::string> args = {statement};
    args.insert(args.end(), more_args.begin(), more_args.end());
    ProcessResult result = relay_.Run(args, reliability::RelayOptions());
    EXPECT_EQ(result.exit_status, 0) << result.out;
  }

  // Parks through the relay's append directly, as DbRelay would: for statements no command line
  // carries, and for many statements quickly.
  void ParkDirect(const std::string& path, const std::string& statement) const {
    RunOptions options;
    options.stdin_text = statement;
    ProcessResult parked =
        RunProcess({testing_support::BinDir() + "/replay_park_helper", path}, options);
    EXPECT_EQ(parked.out, "0\n");
  }

  // The settings of a reachable primary, then DbRelayReplay with args.
  ProcessResult Replay(const std::vector<std::string>& args = {}, bool primary_up = true) const {
    WriteSettings(primary_up);
    return RunReplay(args);
  }
  ProcessResult RunReplay(const std::vector<std::string>& args,
                          const std::vector<std::string>& prefix = {},
                          RunOptions options = reliability::RelayOptions()) const {
    std::vector<std::string> argv = prefix;
    argv.push_back(relay_.File("DbRelayReplay"));
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
  }

  std::string Client(const std::string& sql) const {
    if (db_ == Db::kPostgres) return PostgresServer::Get().Query(sql);
    ProcessResult r = RunProcess({"/usr/bin/sqlite3", "-cmd", ".timeout 20000", sqlite_file_, sql});
    EXPECT_EQ(r.exit_status, 0) << sql;
    return r.out;
  }
  // The bodies in the order the rows went in, CR and LF shown as \r and \n.
  std::string Bodies() const {
    const std::string chr = db_ == Db::kPostgres ? "chr" : "char";
    return Client("SELECT replace(replace(body, " + chr + "(13), '\\r'), " + chr +
                  "(10), '\\n') FROM items ORDER BY seq");
  }
  bool LedgerExists() const {
    const std::string query =
        db_ == Db::kPostgres
            ? "SELECT count(*) FROM pg_tables WHERE tablename = 'dbrelay_replay_ledger'"
            : "SELECT count(*) FROM sqlite_master WHERE name = 'dbrelay_replay_ledger'";
    return Client(query) == "1\n";
  }
  std::string LedgerRows() const { return Client("SELECT count(*) FROM dbrelay_replay_ledger"); }

  QueueBytes Bytes(const std::string& path) const {
    return {ReadFileBytes(path), ReadFileBytes(path + ".boundaries")};
  }
  QueueBytes Bytes() const { return Bytes(queue()); }
  // Whether anything of the queue is left beside it.
  bool QueueGone(const std::string& path) const {
    return !FileExists(path) && !FileExists(path + ".boundaries") &&
           !FileExists(path + ".replayed");
  }
  std::string QueueId(const std::string& path) const {
    std::string header = ReadFileBytes(path + ".boundaries");
    header = header.substr(0, header.find('\n'));
    return header.substr(header.rfind(' ') + 1);
  }

 private:
  Db db_;
  RelaySandbox relay_;
  std::string sqlite_file_ = relay_.File("primary.db");
  std::vector<std::string> settings_;
};

std::string ParamName(const testing::TestParamInfo<Db>& info) { return DbName(info.param); }

class ReplayTest : public testing::TestWithParam<Db> {
 protected:
  ReplayWorld world_{GetParam()};
};

// --- order, CR LF, exactly once ---------------------------------------------------------------

TEST_P(ReplayTest, StatementsRunInOrderOnceAndTheQueueGoes) {
  const std::vector<std::string> statements = {Insert("a1"), Insert("two\r\nlines"), Insert("a3"),
                                               Insert("a4\r\n")};
  for (const std::string& statement : statements) world_.Park(statement);
  ASSERT_TRUE(FileExists(world_.queue() + ".boundaries"));

  ProcessResult first = world_.Replay();
  EXPECT_EQ(first.exit_status, 0) << first.out;
  EXPECT_EQ(first.out, world_.queue() + ": 4 replayed, 0 pending\n"
                       "DbRelayReplay: 4 replayed from 1 files, 0 pending\n");
  EXPECT_EQ(world_.Bodies(), "a1\ntwo\\r\\nlines\na3\na4\\r\\n\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
  // The queue's row goes with its file.
  EXPECT_EQ(world_.LedgerRows(), "0\n");

  ProcessResult second = world_.Replay();
  EXPECT_EQ(second.exit_status, 0) << second.out;
  EXPECT_EQ(second.out, "DbRelayReplay: no file of parked statements, nothing pending\n");
  EXPECT_EQ(world_.Bodies(), "a1\ntwo\\r\\nlines\na3\na4\\r\\n\n");
}

// A power loss may take a boundaries file that was never synced; the note the text file keeps
// (made durable by each record's own fsync) still tells its records apart.
TEST_P(ReplayTest, BoundariesLostBeforeTheirFirstSyncAreTakenFromTheTextFilesNote) {
  for (const char* value : {"a1", "two\r\nlines", "a3"}) world_.Park(Insert(value));
  std::filesystem::remove(world_.queue() + ".boundaries");
  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(world_.Bodies(), "a1\ntwo\\r\\nlines\na3\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
}

TEST_P(ReplayTest, AFileNamedTwiceIsReplayedOnce) {
  world_.Park(Insert("a1"));
  ProcessResult result = world_.Replay({world_.queue(), world_.queue()});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(result.out, world_.queue() + ": 1 replayed, 0 pending\n"
                        "DbRelayReplay: 1 replayed from 1 files, 0 pending\n");
  EXPECT_EQ(world_.Bodies(), "a1\n");
}

TEST_P(ReplayTest, PrimaryStillDownChangesNothing) {
  world_.Park(Insert("a1"));
  world_.Park(Insert("a2"));
  const QueueBytes before = world_.Bytes();

  ProcessResult result = world_.Replay({}, /*primary_up=*/false);
  EXPECT_EQ(result.exit_status, 1) << result.out;
  EXPECT_TRUE(Contains(result.out, "Primary DB connection failed with error:\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, "\nNothing was replayed; the parked statements stay pending.\n"))
      << result.out;
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_FALSE(FileExists(world_.queue() + ".replayed"));
  EXPECT_EQ(world_.Bodies(), "");
}

TEST_P(ReplayTest, ListChangesNothing) {
  world_.Park(Insert("a1"));
  world_.Park(Insert("x\r\ny"));
  const QueueBytes before = world_.Bytes();

  ProcessResult result = world_.Replay({"--list"});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  const size_t second_start = Insert("a1").size() + 2;
  EXPECT_EQ(result.out, world_.queue() + ": 2 pending\n"
                        "-- record 1 at byte 0\n" + Insert("a1") + "\n"
                        "-- record 2 at byte " + std::to_string(second_start) + "\n" +
                        Insert("x\r\ny") + "\n"
                        "DbRelayReplay: 2 pending in 1 files\n");
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_FALSE(FileExists(world_.queue() + ".replayed"));
  EXPECT_FALSE(world_.LedgerExists());
  EXPECT_EQ(world_.Bodies(), "");
}

// With the primary down a listing still shows every parked statement, and says when a replay
// that registered the queue may already have run some of them.
TEST_P(ReplayTest, ListWhileThePrimaryIsDownShowsEveryRecord) {
  world_.Park(Insert("a1"));
  world_.Park("INSERT INTO items (body) SELECT 'a2' FROM missing_gate");
  const QueueBytes before = world_.Bytes();

  ProcessResult fresh = world_.Replay({"--list"}, /*primary_up=*/false);
  EXPECT_EQ(fresh.exit_status, 1) << fresh.out;
  EXPECT_TRUE(Contains(fresh.out, "The ledger cannot be read: every parked statement is listed.\n"))
      << fresh.out;
  EXPECT_TRUE(Contains(fresh.out, world_.queue() + ": 2 pending\n-- record 1 at byte 0\n" +
                                      Insert("a1") + "\n"))
      << fresh.out;
  EXPECT_EQ(world_.Bytes(), before);

  // A replay runs the first and stops at the second; then the primary goes down again.
  EXPECT_EQ(world_.Replay().exit_status, 2);
  ProcessResult after = world_.Replay({"--list"}, /*primary_up=*/false);
  EXPECT_EQ(after.exit_status, 1) << after.out;
  EXPECT_TRUE(Contains(after.out, world_.queue() + ": 2 records, some of which may already have "
                                                   "run"))
      << after.out;
}

// A statement parked again under a path a finished queue had is a new queue, not the rest of
// the old one.
TEST_P(ReplayTest, AQueueParkedAgainUnderTheSameNameIsANewQueue) {
  world_.Park(Insert("a1"));
  const std::string first_id = world_.QueueId(world_.queue());
  ASSERT_EQ(world_.Replay().exit_status, 0);
  world_.Park(Insert("a2"));
  EXPECT_NE(world_.QueueId(world_.queue()), first_id);

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(world_.Bodies(), "a1\na2\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
}

// --- a failing statement ----------------------------------------------------------------------

struct FailingCase {
  const char* name;
  std::string statement;     // fails on the first replay
  std::string minimum;       // RaiseErrorIfAffectedLinesLessThen
  std::string fix;           // run by hand afterwards, so the statement succeeds
  std::string report_head;   // how the failure begins
};

// Cases print as their names when a test fails.
void PrintTo(const FailingCase& c, std::ostream* os) { *os << c.name; }

const FailingCase kFailingCases[] = {
    {"missing_table", "INSERT INTO items (body) SELECT 'a3' FROM gate", "0",
     "CREATE TABLE gate (x INTEGER); INSERT INTO gate VALUES (1)", "Unable to replay query:"},
    {"update_matching_no_row", "UPDATE items SET body = 'a3' WHERE body = 'slot'", "1",
     "INSERT INTO items (body) VALUES ('slot')", "Less then expected lines are affected in query:"},
};

class FailingStatementTest
    : public testing::TestWithParam<std::tuple<Db, FailingCase>> {
 protected:
  ReplayWorld world_{std::get<0>(GetParam())};
  const FailingCase& c() const { return std::get<1>(GetParam()); }
};

TEST_P(FailingStatementTest, StopsThereAndTheRestStaysPendingUntilFixed) {
  world_.settings().push_back("RaiseErrorIfAffectedLinesLessThen=" + c().minimum);
  for (const std::string& s : {Insert("a1"), Insert("a2"), c().statement, Insert("a4")}) {
    world_.Park(s);
  }

  ProcessResult failed = world_.Replay();
  EXPECT_EQ(failed.exit_status, 2) << failed.out;
  EXPECT_TRUE(Contains(failed.out, c().report_head + c().statement + "\n\n")) << failed.out;
  const size_t third_start = 2 * (Insert("a1").size() + 2);
  EXPECT_TRUE(Contains(failed.out, "\nThe replay of " + world_.queue() + " stopped at its record "
                                   "3 (byte " + std::to_string(third_start) + "); it and every "
                                   "later record stay pending.\n"))
      << failed.out;
  EXPECT_TRUE(Contains(failed.out, world_.queue() + ": 2 replayed, 2 pending\n"
                                   "DbRelayReplay: 2 replayed from 1 files, 2 pending\n"))
      << failed.out;
  EXPECT_EQ(world_.Bodies(), "a1\na2\n");
  EXPECT_TRUE(FileExists(world_.queue() + ".replayed"));

  ProcessResult listed = world_.Replay({"--list"});
  EXPECT_EQ(listed.exit_status, 0) << listed.out;
  EXPECT_EQ(listed.out, world_.queue() + ": 2 pending\n"
                        "-- record 3 at byte " + std::to_string(third_start) + "\n" +
                        c().statement + "\n"
                        "-- record 4 at byte " +
                        std::to_string(third_start + c().statement.size() + 2) + "\n" +
                        Insert("a4") + "\n"
                        "DbRelayReplay: 2 pending in 1 files\n");

  // Still failing: nothing more runs, nothing runs twice.
  EXPECT_EQ(world_.Replay().exit_status, 2);
  EXPECT_EQ(world_.Bodies(), "a1\na2\n");

  world_.Client(c().fix);
  ProcessResult fixed = world_.Replay();
  EXPECT_EQ(fixed.exit_status, 0) << fixed.out;
  EXPECT_EQ(fixed.out, world_.queue() + ": 2 replayed, 0 pending\n"
                       "DbRelayReplay: 2 replayed from 1 files, 0 pending\n");
  EXPECT_EQ(world_.Bodies(), "a1\na2\na3\na4\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
  EXPECT_EQ(world_.LedgerRows(), "0\n");
}

TEST_P(FailingStatementTest, RejectFirstMovesTheFailingRecordAsideAndTheRestRuns) {
  world_.settings().push_back("RaiseErrorIfAffectedLinesLessThen=" + c().minimum);
  for (const std::string& s : {Insert("a1"), c().statement, Insert("a3")}) world_.Park(s);
  ASSERT_EQ(world_.Replay().exit_status, 2);
  const std::string text_before = ReadFileBytes(world_.queue());

  ProcessResult rejected = world_.Replay({"--reject-first", world_.queue()});
  EXPECT_EQ(rejected.exit_status, 0) << rejected.out;
  const std::string aside = world_.queue() + ".rejected";
  EXPECT_EQ(rejected.out, world_.queue() + ": record 2 (byte " +
                              std::to_string(Insert("a1").size() + 2) + ") moved to " + aside +
                              "; 1 pending\n");
  EXPECT_EQ(ReadFileBytes(aside), c().statement + "\r\n");
  EXPECT_TRUE(FileExists(aside + ".boundaries"));
  // Nothing ran and the queue itself is untouched: only the ledger moved on.
  EXPECT_EQ(world_.Bodies(), "a1\n");
  EXPECT_EQ(ReadFileBytes(world_.queue()), text_before);

  ProcessResult rest = world_.Replay();
  EXPECT_EQ(rest.exit_status, 0) << rest.out;
  EXPECT_EQ(world_.Bodies(), "a1\na3\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
  // What was set aside is a queue of its own, never replayed unless named.
  EXPECT_EQ(ReadFileBytes(aside), c().statement + "\r\n");
}

// A ledger dropped by hand while records are pending: which of them ran is no longer known, so
// none runs.
TEST_P(FailingStatementTest, LedgerDroppedWhileRecordsArePendingStopsTheQueue) {
  world_.settings().push_back("RaiseErrorIfAffectedLinesLessThen=" + c().minimum);
  for (const std::string& s : {Insert("a1"), c().statement, Insert("a3")}) world_.Park(s);
  ASSERT_EQ(world_.Replay().exit_status, 2);
  const QueueBytes before = world_.Bytes();
  world_.Client("DROP TABLE dbrelay_replay_ledger");
  world_.Client(c().fix);

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 65) << result.out;
  EXPECT_TRUE(Contains(result.out, "Unable to replay " + world_.queue() + ": the ledger "
                                   "dbrelay_replay_ledger of the primary has no row for its queue " +
                                   world_.QueueId(world_.queue())))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "Nothing of it was run; see DbRelayReplay(1).\n")) << result.out;
  const std::string after_fix = std::get<1>(GetParam()).name == std::string("missing_table")
                                    ? "a1\n"
                                    : "a1\nslot\n";
  EXPECT_EQ(world_.Bodies(), after_fix);
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_EQ(world_.Replay().exit_status, 65);
  EXPECT_EQ(world_.Bodies(), after_fix);
}

std::string FailingName(const testing::TestParamInfo<std::tuple<Db, FailingCase>>& info) {
  return DbName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Cases, FailingStatementTest,
                         testing::Combine(testing::Values(Db::kSqlite, Db::kPostgres),
                                          testing::ValuesIn(kFailingCases)),
                         FailingName);

// Records go in transactions of 100: a failure in the second one keeps the first and the records
// of the second before the failing one, and only those.
TEST_P(ReplayTest, AFailureBeyondTheFirstTransactionKeepsEverythingBeforeIt) {
  std::string expected;
  for (int i = 1; i <= 105; ++i) {
    const std::string body = "r" + std::to_string(i);
    world_.ParkDirect(world_.queue(), i == 103 ? "INSERT INTO nowhere VALUES (1)" : Insert(body));
    if (i < 103) expected += body + "\n";
  }
  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 2) << result.out;
  EXPECT_TRUE(Contains(result.out, " stopped at its record 103 (byte ")) << result.out;
  EXPECT_TRUE(Contains(result.out, world_.queue() + ": 102 replayed, 3 pending\n")) << result.out;
  EXPECT_EQ(world_.Bodies(), expected);

  world_.Client("CREATE TABLE nowhere (x INTEGER)");
  ProcessResult rest = world_.Replay();
  EXPECT_EQ(rest.exit_status, 0) << rest.out;
  EXPECT_EQ(world_.Bodies(), expected + "r104\nr105\n");
  EXPECT_EQ(world_.Client("SELECT count(*) FROM nowhere"), "1\n");
}

// --- time-stamped files -----------------------------------------------------------------------

TEST_P(ReplayTest, StampedFilesRunOldestFirstAndAForcedNameOnlyWhenNamed) {
  world_.settings().push_back("SecLocalTextFileTimestamp=1");
  for (const char* body : {"s1", "s2", "s3"}) {
    world_.Park(Insert(body));
    // Stamps count milliseconds: each park gets a name of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  world_.Park(Insert("f1"), {"", "forced"});
  const std::string forced = world_.File("queue/forced.sql");
  ASSERT_TRUE(FileExists(forced));
  std::vector<std::string> stamped;
  for (const auto& entry : std::filesystem::directory_iterator(world_.File("queue"))) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 28 && name.ends_with(".sql")) stamped.push_back(name);
  }
  ASSERT_EQ(stamped.size(), 3u);

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_TRUE(Contains(result.out, "DbRelayReplay: 3 replayed from 3 files, 0 pending\n"))
      << result.out;
  EXPECT_EQ(world_.Bodies(), "s1\ns2\ns3\n");
  for (const std::string& name : stamped) EXPECT_TRUE(world_.QueueGone(world_.File("queue/" + name)));
  EXPECT_TRUE(FileExists(forced));

  ProcessResult named = world_.Replay({forced});
  EXPECT_EQ(named.exit_status, 0) << named.out;
  EXPECT_EQ(world_.Bodies(), "s1\ns2\ns3\nf1\n");
  EXPECT_TRUE(world_.QueueGone(forced));
}

// A stop in one file keeps every later file pending: their statements come after its own.
TEST_P(ReplayTest, AStopInAnOlderStampedFileKeepsTheNewerOnesPending) {
  world_.settings().push_back("SecLocalTextFileTimestamp=1");
  for (const std::string& statement :
       {Insert("s1"), std::string("INSERT INTO nowhere VALUES (1)"), Insert("s3")}) {
    world_.Park(statement);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 2) << result.out;
  EXPECT_TRUE(Contains(result.out, "DbRelayReplay: 1 replayed from 2 files, "))
      << result.out;
  EXPECT_EQ(world_.Bodies(), "s1\n");
  ProcessResult listed = world_.Replay({"--list"});
  EXPECT_TRUE(Contains(listed.out, "DbRelayReplay: 2 pending in 2 files\n")) << listed.out;

  world_.Client("CREATE TABLE nowhere (x INTEGER)");
  EXPECT_EQ(world_.Replay().exit_status, 0);
  EXPECT_EQ(world_.Bodies(), "s1\ns3\n");
  EXPECT_EQ(world_.Client("SELECT count(*) FROM nowhere"), "1\n");
}

// --- records the command line cannot carry, bytes that are not UTF-8 --------------------------

// Each of the first two fails alone (an open quote, then a syntax error), yet sent as one text
// they would make two valid INSERTs, as many results as statements. The replay must stop at the
// first one and run nothing.
TEST_P(ReplayTest, StatementsThatOnlySucceedJoinedStillFailAlone) {
  const std::string open_quote = "INSERT INTO items (body) VALUES ('x";
  const std::string closing = "INSERT '), ('y'); INSERT INTO items (body) VALUES ('z')";
  for (const std::string& s : {open_quote, closing, Insert("a3"), Insert("a4")}) {
    world_.ParkDirect(world_.queue(), s);
  }
  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 2) << result.out;
  EXPECT_TRUE(Contains(result.out, "Unable to replay query:" + open_quote + "\n\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, " stopped at its record 1 (byte 0)")) << result.out;
  EXPECT_EQ(world_.Bodies(), "");
}

// A record that commits by itself must not commit the records before it without their ledger
// update: when a later one fails, those would run a second time.
TEST_P(ReplayTest, ARecordThatCommitsRunsInATransactionOfItsOwn) {
  for (const std::string& s : {Insert("a1"), std::string("COMMIT"),
                               std::string("INSERT INTO nowhere VALUES (1)")}) {
    world_.ParkDirect(world_.queue(), s);
  }
  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 2) << result.out;
  // PostgreSQL's driver takes the COMMIT in its stride; SQLite's then has no transaction left to
  // commit, and the queue stops there.
  EXPECT_TRUE(Contains(result.out, GetParam() == Db::kPostgres ? " stopped at its record 3 (byte "
                                                               : " stopped at its record 2 (byte "))
      << result.out;
  EXPECT_EQ(world_.Bodies(), "a1\n");
}

TEST_P(ReplayTest, ATenMegabyteRecordIsReplayedWhole) {
  constexpr size_t kBody = 10 * 1024 * 1024;
  world_.Park(Insert("before"));
  world_.ParkDirect(world_.queue(), Insert(std::string(kBody, 'z')));
  world_.Park(Insert("after"));

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 0) << result.out.substr(0, 2000);
  // Each body's length, and what is left of it without its z's.
  EXPECT_EQ(world_.Client("SELECT length(body), length(replace(body, 'z', '')) FROM items "
                          "ORDER BY seq"),
            "6|6\n" + std::to_string(kBody) + "|0\n5|5\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
}

TEST_P(ReplayTest, BytesThatAreNotUtf8) {
  const std::string statement = Insert("caf\xE9 \xFF");
  world_.Park(statement);
  ASSERT_EQ(ReadFileBytes(world_.queue()), statement + "\r\n");

  ProcessResult result = world_.Replay();
  if (GetParam() == Db::kSqlite) {
    // SQLite keeps the bytes as they came.
    EXPECT_EQ(result.exit_status, 0) << result.out;
    EXPECT_EQ(world_.Client("SELECT hex(body) FROM items"), "636166E920FF\n");
    EXPECT_TRUE(world_.QueueGone(world_.queue()));
  } else {
    // PostgreSQL refuses them: the statement stays pending, whole.
    EXPECT_EQ(result.exit_status, 2) << result.out;
    EXPECT_TRUE(Contains(result.out, "Unable to replay query:" + statement + "\n\n")) << result.out;
    EXPECT_EQ(world_.Bodies(), "");
    EXPECT_EQ(ReadFileBytes(world_.queue()), statement + "\r\n");
    ProcessResult listed = world_.Replay({"--list"});
    EXPECT_EQ(listed.out, world_.queue() + ": 1 pending\n-- record 1 at byte 0\n" + statement +
                              "\nDbRelayReplay: 1 pending in 1 files\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Db, ReplayTest, testing::Values(Db::kSqlite, Db::kPostgres), ParamName);

// --- files that cannot be replayed with certainty ---------------------------------------------

struct BadFileCase {
  const char* name;
  // Changes the queue after two real parks of a1 and a2.
  std::function<void(const ReplayWorld&)> damage;
  int exit_status;
  std::string report;        // a part of the report; "@" stands for the queue's path
  std::string bodies;        // what is in the database afterwards
  bool unchanged;            // the file and its boundaries are as the damage left them
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

void AppendBytes(const std::string& path, const std::string& bytes) {
  WriteFileBytes(path, ReadFileBytes(path) + bytes);
}

const BadFileCase kBadFileCases[] = {
    // Bytes no append wrote: they belong to no record, so no record can be trusted.
    {"part_of_a_record_appended_by_hand",
     [](const ReplayWorld& w) { AppendBytes(w.queue(), "INSERT INTO items (body) VALUES ('a3"); },
     65, "belong to no record", "", true},
    // What a killed append leaves: its boundaries line is there, its bytes are not all. The
    // whole records run; the cut one never does (its append never reported success).
    {"append_cut_short",
     [](const ReplayWorld& w) {
       const size_t whole = ReadFileBytes(w.queue()).size();
       w.Park(Insert("a3"));
       ASSERT_EQ(::truncate(w.queue().c_str(), static_cast<off_t>(whole + 10)), 0);
     },
     0, "@: 2 replayed, 0 pending\n", "a1\na2\n", false},
    // A copy of the text file alone (by hand, or by a tool that keeps no extended attributes):
    // neither its boundaries file nor the note the text file itself carries came along.
    {"copied_without_its_boundaries",
     [](const ReplayWorld& w) {
       const std::string bytes = ReadFileBytes(w.queue());
       std::filesystem::remove(w.queue());
       std::filesystem::remove(w.queue() + ".boundaries");
       WriteFileBytes(w.queue(), bytes);
     },
     65, ".boundaries is missing", "", true},
    // One byte of the second record changed in place: not even the first record runs.
    {"byte_changed_in_place",
     [](const ReplayWorld& w) {
       std::string text = ReadFileBytes(w.queue());
       text[text.rfind("a2")] = 'b';
       WriteFileBytes(w.queue(), text);
     },
     65, "the record at byte " + std::to_string(Insert("a1").size() + 2) +
             " is not the one its boundaries line names",
     "", true},
};


class BadFileTest : public testing::TestWithParam<BadFileCase> {
 protected:
  ReplayWorld world_{Db::kSqlite};
};

TEST_P(BadFileTest, IsReportedAndNothingUncertainRuns) {
  world_.Park(Insert("a1"));
  world_.Park(Insert("a2"));
  GetParam().damage(world_);
  const QueueBytes damaged = world_.Bytes();

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, GetParam().exit_status) << result.out;
  std::string report = GetParam().report;
  if (size_t at = report.find('@'); at != std::string::npos) report.replace(at, 1, world_.queue());
  EXPECT_TRUE(Contains(result.out, report)) << result.out;
  if (GetParam().exit_status == 65) {
    EXPECT_TRUE(Contains(result.out, "Unable to replay " + world_.queue() + ": ")) << result.out;
    EXPECT_TRUE(Contains(result.out, ".\nNothing of it was run; see DbRelayReplay(1).\n"))
        << result.out;
  }
  EXPECT_EQ(world_.Bodies(), GetParam().bodies);
  if (GetParam().unchanged) {
    EXPECT_EQ(world_.Bytes(), damaged);
    // Stays so: a second run does not run it either.
    EXPECT_EQ(world_.Replay().exit_status, GetParam().exit_status);
    EXPECT_EQ(world_.Bodies(), GetParam().bodies);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadFileTest, testing::ValuesIn(kBadFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the command line -------------------------------------------------------------------------

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  std::string reason;  // the first line's text after "DbRelayReplay: "
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class WrongArgumentsTest : public testing::TestWithParam<UsageCase> {
 protected:
  ReplayWorld world_{Db::kSqlite};
};

TEST_P(WrongArgumentsTest, ExitWith64AndTheUsageAndChangeNothing) {
  world_.Park(Insert("a1"));
  const QueueBytes before = world_.Bytes();
  ProcessResult result = world_.Replay(GetParam().args);
  EXPECT_EQ(result.exit_status, 64) << result.out;
  EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1),
            "DbRelayReplay: " + GetParam().reason + "\n");
  EXPECT_TRUE(Contains(result.out, "\nUsage: DbRelayReplay [--list] [--reject-first FILE] [FILE ...]\n"))
      << result.out;
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_EQ(world_.Bodies(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrongArgumentsTest,
    testing::Values(
        UsageCase{"unknown_option", {"--all"}, "unknown option --all"},
        UsageCase{"list_twice", {"--list", "--list"},
                  "--list cannot be combined with --reject-first or given twice"},
        UsageCase{"list_and_reject", {"--list", "--reject-first", "q.sql"},
                  "--reject-first cannot be combined with --list or given twice"},
        UsageCase{"reject_without_file", {"--reject-first"},
                  "--reject-first needs the FILE whose first pending record it moves"},
        UsageCase{"reject_two_files", {"--reject-first", "a.sql", "b.sql"},
                  "--reject-first takes one FILE and no other"},
        UsageCase{"empty_file_name", {""}, "an empty FILE name"},
        UsageCase{"help_with_more", {"--help", "--list"}, "unknown option --help"},
        UsageCase{"version_with_a_file", {"q.sql", "--version"}, "unknown option --version"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayCommandLine, HelpAndVersionExitZero) {
  ReplayWorld world(Db::kSqlite);
  ProcessResult help = world.RunReplay({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out.rfind("Usage: DbRelayReplay [--list] [--reject-first FILE] [FILE ...]\n", 0),
            0u)
      << help.out;
  ProcessResult version = world.RunReplay({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, std::string("DbRelayReplay ") + DBRELAY_PACKAGE_VERSION + "\n");
}

// --- other processes and the file system ------------------------------------------------------

class ReplaySurroundingsTest : public testing::Test {
 protected:
  ReplayWorld world_{Db::kSqlite};
};

// Started the way a service manager or a careless caller starts it: with standard descriptors
// closed (the database's socket must not take descriptor 1 and receive the progress lines) or
// with a stdout whose reader has gone (SIGPIPE must not end it half way).
struct OutputCase {
  const char* name;
  std::vector<int> closed;
  bool reader_gone;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class ReplayOutputTest : public testing::TestWithParam<OutputCase> {
 protected:
  ReplayWorld world_{Db::kPostgres};
};

TEST_P(ReplayOutputTest, EveryStatementStillRunsOnce) {
  world_.settings().push_back("DetailedLog=1");
  for (const char* body : {"a1", "two\r\nlines", "a3"}) world_.Park(Insert(body));
  world_.WriteSettings(true);
  RunOptions options = reliability::RelayOptions();
  options.closed_descriptors = GetParam().closed;
  options.stdout_reader_gone = GetParam().reader_gone;
  ProcessResult result = world_.RunReplay({}, {}, options);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(world_.Bodies(), "a1\ntwo\\r\\nlines\na3\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplayOutputTest,
                         testing::Values(OutputCase{"stdout_closed", {1}, false},
                                         OutputCase{"all_three_closed", {0, 1, 2}, false},
                                         OutputCase{"stdout_reader_gone", {}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplaySurroundingsTest, ASecondReplayExitsAtOnceWhileTheFolderIsLocked) {
  world_.Park(Insert("a1"));
  const QueueBytes before = world_.Bytes();
  HeldLock other(world_.File("queue/.DbRelayReplay.lock"));

  ProcessResult result = world_.Replay();
  EXPECT_EQ(result.exit_status, 3) << result.out;
  EXPECT_EQ(result.out, "Another DbRelayReplay is replaying the files of " +
                            world_.File("queue") + "\n");
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_EQ(world_.Bodies(), "");
  // A listing takes no lock.
  EXPECT_EQ(world_.Replay({"--list"}).exit_status, 0);
  EXPECT_EQ(world_.Replay({"--reject-first", world_.queue()}).exit_status, 3);

  other.Release();
  EXPECT_EQ(world_.Replay().exit_status, 0);
  EXPECT_EQ(world_.Bodies(), "a1\n");
}

// A replay that hangs in a primary that never answers holds the folder; the second one does not
// wait for it.
TEST_F(ReplaySurroundingsTest, ASecondReplayExitsAtOnceWhileTheFirstHangsInThePrimary) {
  world_.Park(Insert("a1"));
  testing_support::SilentListener silent;
  world_.relay().WriteIni({"PriDBType=2",
                           "PriOtherConnStr=Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
                               std::to_string(silent.port()) + ";Database=d;Uid=u;Pwd=p;",
                           "SecDBType=3", "SecLocalTextFile=" + world_.queue()});
  ChildOptions options;
  options.run = reliability::RelayOptions();
  options.out = ChildOptions::Out::kNull;
  ChildProcess first({world_.File("DbRelayReplay")}, options);
  for (int i = 0; i < 3000 && silent.Connections() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(silent.Connections(), 1);

  ProcessResult second = world_.RunReplay({});
  EXPECT_EQ(second.exit_status, 3) << second.out;
  // It did not wait for the first: that one still hangs.
  EXPECT_FALSE(first.Ended());
  EXPECT_TRUE(FileExists(world_.queue()));
  first.Kill(SIGKILL);
}

TEST_F(ReplaySurroundingsTest, AReadOnlyFolderIsAnInputOutputError) {
  world_.Park(Insert("a1"));
  const QueueBytes before = world_.Bytes();
  // Everything readable by another user, nothing writable: the replay runs as nobody.
  for (const std::string& path : {world_.File(""), world_.File("queue")}) {
    ::chmod(path.c_str(), 0755);
  }
  for (const std::string& path : {world_.queue(), world_.queue() + ".boundaries"}) {
    ::chmod(path.c_str(), 0644);
  }
  world_.WriteSettings(true);
  ::chmod(world_.relay().ini_path().c_str(), 0644);
  ASSERT_EQ(::access("/usr/bin/setpriv", X_OK), 0);

  ProcessResult result = world_.RunReplay(
      {}, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  EXPECT_EQ(result.exit_status, 74) << result.out;
  EXPECT_TRUE(Contains(result.out, "Unable to replay the files of " + world_.File("queue") +
                                       ": cannot take " + world_.File("queue/.DbRelayReplay.lock")))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "Error returned = 13\n")) << result.out;
  EXPECT_EQ(world_.Bytes(), before);
  EXPECT_EQ(world_.Bodies(), "");
}

TEST_F(ReplaySurroundingsTest, AFileRemovedAfterItsListing) {
  world_.Park(Insert("a1"));
  ASSERT_EQ(world_.Replay({"--list"}).exit_status, 0);
  std::filesystem::remove(world_.queue());
  std::filesystem::remove(world_.queue() + ".boundaries");

  // Named, it is missing: an input/output error.
  ProcessResult named = world_.Replay({world_.queue()});
  EXPECT_EQ(named.exit_status, 74) << named.out;
  EXPECT_TRUE(Contains(named.out, "Unable to replay " + world_.queue() + ": cannot read it ("))
      << named.out;
  // Configured, there is simply nothing to replay.
  ProcessResult configured = world_.Replay();
  EXPECT_EQ(configured.exit_status, 0) << configured.out;
  EXPECT_EQ(world_.Bodies(), "");
}

// --- a replay paused in its primary ----------------------------------------------------------

// PostgreSQL with the items table locked by another session: a replay that reaches its first
// statement waits there, where the test can act, until the holder goes.
class PausedPrimaryTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* body : {"a1", "a2", "a3"}) world_.Park(Insert(body));
    world_.WriteSettings(true);
    holder_ = testing_support::StartTransactionHolder(world_.UpConnection(),
                                                      "LOCK TABLE items IN ACCESS EXCLUSIVE MODE");
    ASSERT_NE(holder_, nullptr);
  }

  // Starts the replay and returns once it waits for the lock in its first INSERT.
  std::unique_ptr<ChildProcess> StartPausedReplay(const std::vector<std::string>& args = {}) {
    ChildOptions options;
    options.run = reliability::RelayOptions();
    std::vector<std::string> argv = {world_.File("DbRelayReplay")};
    argv.insert(argv.end(), args.begin(), args.end());
    auto replay = std::make_unique<ChildProcess>(argv, options);
    // A generous deadline for a slow machine: the wait is on an event, not on time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!Waiting() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(Waiting());
    return replay;
  }
  bool Waiting() const {
    // The driver sends the transaction's BEGIN in front of its first statement.
    return world_.Client("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                         "AND pid <> pg_backend_pid() AND query LIKE '%INSERT INTO items%'") ==
           "1\n";
  }

  ReplayWorld world_{Db::kPostgres};
  std::unique_ptr<ChildProcess> holder_;
};

TEST_F(PausedPrimaryTest, KilledInTheMiddleOfItsTransactionRunsEveryStatementOnceLater) {
  auto replay = StartPausedReplay();
  replay->Kill(SIGKILL);
  replay->Wait();
  holder_.reset();
  EXPECT_EQ(world_.Bodies(), "");

  ProcessResult again = world_.RunReplay({});
  EXPECT_EQ(again.exit_status, 0) << again.out;
  EXPECT_EQ(world_.Bodies(), "a1\na2\na3\n");
  EXPECT_TRUE(world_.QueueGone(world_.queue()));
}

// The file is taken away while its statements run. They still run once; the mark goes with the
// path, but the queue's ledger row stays, since a file that was only renamed must find its
// statements done under its new name.
TEST_F(PausedPrimaryTest, AFileTakenAwayWhileItsStatementsRunKeepsItsLedgerRow) {
  auto replay = StartPausedReplay();
  std::filesystem::remove(world_.queue());
  std::filesystem::remove(world_.queue() + ".boundaries");
  holder_.reset();
  const std::string out = replay->ReadOutput();
  ProcessResult result = replay->Wait();
  EXPECT_EQ(result.exit_status, 0) << out;
  EXPECT_NE(out.find(world_.queue() + ": 3 replayed, 0 pending; the file was removed or renamed "
                     "meanwhile, so the ledger keeps its queue "),
            std::string::npos)
      << out;
  EXPECT_EQ(world_.Bodies(), "a1\na2\na3\n");
  EXPECT_FALSE(FileExists(world_.queue() + ".replayed"));
  EXPECT_EQ(world_.LedgerRows(), "1\n");
}

}  // namespace
