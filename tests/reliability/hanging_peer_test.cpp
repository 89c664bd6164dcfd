// Peers that accept and then never answer: a database server, a mail server, a signer that ignores
// SIGTERM. The run fails over after the login time-out, ends within the mail time-outs however many
// mails it tries, and waits for the signer as long as it runs, then carries on.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/relay_fleet.h"
#include "tests/support/odbc_config.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/silent_listener.h"
#include "tests/support/smtp_server.h"

namespace reliability {
namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::RunProcess;
using testing_support::SilentListener;
using testing_support::SmtpServer;
using testing_support::WriteFileBytes;

// Waits for a condition that a process brings about; false after seconds.
template <typename Condition>
bool WaitFor(Condition condition, double seconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// --- A database server that accepts and never answers ---

enum class Fallback { kSecondaryDatabase, kTextFile };

struct SilentDatabaseCase {
  const char* name;
  std::string primary;  // "%port%" stands for the silent listener's port
  Fallback fallback;
};

void PrintTo(const SilentDatabaseCase& c, std::ostream* os) { *os << c.name; }

class SilentDatabaseTest : public testing::TestWithParam<SilentDatabaseCase> {};

TEST_P(SilentDatabaseTest, RunFailsOverAfterTheLoginTimeout) {
  SilentListener listener;
  RelaySandbox relay;
  std::string primary = GetParam().primary;
  primary.replace(primary.find("%port%"), 6, std::to_string(listener.port()));
  const std::string statement = "INSERT INTO Docs VALUES (7, 1)";
  const std::string database = relay.File("secondary.db");
  const std::string queue = relay.File("queue.sql");
  std::vector<std::string> settings = {"PriDBType=2", "PriOtherConnStr=" + primary};
  if (GetParam().fallback == Fallback::kSecondaryDatabase) {
    auto created = RunProcess(
        {"/usr/bin/sqlite3", database, "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"});
    ASSERT_EQ(created.exit_status, 0);
    settings.insert(
        settings.end(),
        {"SecDBType=2", "SecOtherConnStr=Driver=SQLite3;Database=" + database + ";NoCreat=1",
         "RaiseErrorIfAffectedLinesLessThen=1"});
  } else {
    settings.insert(settings.end(), {"SecDBType=3", "SecLocalTextFile=" + queue});
  }
  relay.WriteIni(settings);

  RunOptions options = RelayOptions();
  options.timeout_seconds = 90;  // only a guard against a hang: the login time-out is 15 s
  auto result = relay.Run({statement}, options);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(result.out, "");
  EXPECT_GE(listener.Connections(), 1) << "the primary was never tried";
  if (GetParam().fallback == Fallback::kSecondaryDatabase) {
    EXPECT_EQ(RunProcess({"/usr/bin/sqlite3", database, "SELECT Id, Signed FROM Docs;"}).out,
              "7|1\n");
  } else {
    EXPECT_EQ(ReadFileBytes(queue), statement + "\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Primaries, SilentDatabaseTest,
    testing::Values(
        SilentDatabaseCase{"sql_server_form_to_secondary",
                           "Provider=SQLOLEDB.1;Server=127.0.0.1,%port%;Database=Docs;Uid=sa;Pwd=x;",
                           Fallback::kSecondaryDatabase},
        SilentDatabaseCase{"freetds_to_text_file",
                           "Driver={FreeTDS};Server=127.0.0.1;Port=%port%;TDS_Version=7.4;"
                           "Database=Docs;Uid=sa;Pwd=x;",
                           Fallback::kTextFile}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A mail server that hangs ---

struct HangingMailCase {
  const char* name;
  bool silent;      // never greets
  bool stall_data;  // never answers the message
  std::string mail_failure;  // how each failed mail of the run is reported
};

void PrintTo(const HangingMailCase& c, std::ostream* os) { *os << c.name; }

class HangingMailTest : public testing::TestWithParam<HangingMailCase> {};

// With the detailed log mailed, one failing run makes four mails. The first waits out its time-out;
// the later ones fail at once the same way instead of waiting again.
TEST_P(HangingMailTest, RunEndsAfterOneMailTimeout) {
  testing_support::SmtpServerOptions hang;
  hang.silent = GetParam().silent;
  hang.stall_data = GetParam().stall_data;
  SmtpServer server(hang);
  RelaySandbox relay;
  const std::string path = relay.File("no such folder/queue.sql");
  std::vector<std::string> settings = PrimaryDownToTextFile(relay, path);
  settings.insert(settings.end(), {"DetailedLog=1", "EmailOnError=1", "EmailSMTP=" + server.address(),
                                   "EmailFrom=relay@example.org", "EmailTo=ops@example.org"});
  relay.WriteIni(settings);
  const std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";

  RunOptions options = RelayOptions();
  options.timeout_seconds = 150;  // only a guard against a hang: one mail cycle has 60 s at most
  auto result = relay.Run({statement}, options);
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_status, 2);
  const std::string& fail = GetParam().mail_failure;
  EXPECT_EQ(result.out,
            relay.program() + " " + statement + fail +                                  //
                "\nPrimary Connection String: " + settings[1].substr(16) + "\n" + fail +  //
                fail +  // the failed primary, mailed only
                "Unable to write to text file: " + path + "\n\n" + statement +
                "\n\nError returned = 2\n" + fail);
  EXPECT_EQ(server.Connections(), 1) << "a hung server was waited for again";
  EXPECT_TRUE(server.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, HangingMailTest,
    testing::Values(HangingMailCase{"never_greets", true, false, "Connect failed\n"},
                    HangingMailCase{"never_answers_the_message", false, true, "email NOT sent\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A signer that ignores SIGTERM ---

struct StubbornSignerCase {
  const char* name;
  int signer_exit;
};

void PrintTo(const StubbornSignerCase& c, std::ostream* os) { *os << c.name; }

class StubbornSignerTest : public testing::TestWithParam<StubbornSignerCase> {};

// DbRelay has no time-out for the signer: it waits while the signer shrugs off SIGTERM, and goes on
// with the signer's result once it ends.
TEST_P(StubbornSignerTest, RunWaitsForTheSignerAndCarriesOn) {
  RelaySandbox relay;
  const std::string queue = relay.File("queue.sql");
  const std::string signer = relay.File("signer.sh");
  const std::string document = relay.File("7.pdf");
  WriteFileBytes(document, "%PDF-1.4\n");
  WriteFileBytes(signer, "#!/bin/sh\n"
                         "trap 'echo TERM >> \"" + relay.File("signals") + "\"' TERM\n"
                         "echo $$ > \"" + relay.File("signer.pid") + ".new\"\n"
                         "mv \"" + relay.File("signer.pid") + ".new\" \"" +
                         relay.File("signer.pid") + "\"\n"
                         "while [ ! -e \"" + relay.File("release") + "\" ]; do sleep 0.05; done\n"
                         "exit " + std::to_string(GetParam().signer_exit) + "\n");
  std::filesystem::permissions(signer, std::filesystem::perms(0755));
  std::vector<std::string> settings = PrimaryDownToTextFile(relay, queue);
  settings.insert(settings.end(), {"DigitallySign=1", "PdfSignerPath=" + signer});
  relay.WriteIni(settings);
  const std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";

  StartedProcess run({relay.program(), statement, document}, RelayOptions(), relay.File("out"));
  ASSERT_TRUE(WaitFor([&] { return FileExists(relay.File("signer.pid")); }, 30))
      << "the signer never started";
  const int signer_pid = std::stoi(ReadFileBytes(relay.File("signer.pid")));
  ASSERT_EQ(::kill(signer_pid, SIGTERM), 0);
  ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(relay.File("signals")) == "TERM\n"; }, 30))
      << "the signer never saw SIGTERM";
  EXPECT_FALSE(run.Ended()) << "DbRelay stopped waiting for a signer that still runs";
  EXPECT_FALSE(FileExists(queue)) << "the statement ran before the signer ended";

  WriteFileBytes(relay.File("release"), "");
  auto result = run.Wait();
  const std::string out = ReadFileBytes(relay.File("out"));
  if (GetParam().signer_exit == 0) {
    EXPECT_EQ(result.exit_status, 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadFileBytes(queue), statement + "\r\n");
  } else {
    EXPECT_EQ(result.exit_status, 255);
    EXPECT_EQ(out, "Unable to sign file: " + document + "\n\nError returned = " +
                       std::to_string(GetParam().signer_exit) + "\n");
    EXPECT_FALSE(FileExists(queue));
  }
}

INSTANTIATE_TEST_SUITE_P(Signers, StubbornSignerTest,
                         testing::Values(StubbornSignerCase{"signs_later", 0},
                                         StubbornSignerCase{"fails_later", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
