// DbRelay started the way other programs leave it: standard descriptors closed, stdout a pipe whose
// reader has gone, its own executable replaced by an upgrade while the run waits; and the two
// information requests. The real program as a process, against a real PostgreSQL server (whose
// connection is a socket that a closed descriptor's number would go to) and a primary that is down.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "relay/run/run_modes.h"
#include "tests/support/odbc_config.h"
#include "tests/support/postgres_server.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::FileExists;
using testing_support::OdbcConfig;
using testing_support::PostgresServer;
using testing_support::ProcessResult;
using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunOptions;
using testing_support::WriteFileBytes;

enum class Primary { kUp, kDown };

class SurroundingsTest : public testing::Test {
 protected:
  // Detailed log on, so the run writes to its console all the way; a primary that is up (a table
  // of its own on the PostgreSQL server) or one that is down with the text-file fall-back behind.
  void WriteSettings(Primary primary, const std::vector<std::string>& more = {}) {
    std::vector<std::string> lines = {"DetailedLog=1", "PriDBType=2", "SecDBType=3",
                                      "SecLocalTextFile=" + pending_};
    if (primary == Primary::kUp) {
      PostgresServer::Get().Execute("CREATE TABLE " + table_ + " (id integer);");
      lines.push_back("PriOtherConnStr=" + PostgresServer::Get().OdbcConnectionString());
    } else {
      lines.push_back("PriOtherConnStr=Driver=SQLite3;Database=" + relay_.File("absent/none.db") +
                      ";NoCreat=1");
    }
    lines.insert(lines.end(), more.begin(), more.end());
    relay_.WriteIni(lines);
  }
  std::string Statement() const { return "INSERT INTO " + table_ + " VALUES (7)"; }
  RunOptions Options() const {
    RunOptions options;
    options.env = OdbcConfig::Get().Env();
    return options;
  }
  // The statement reached the primary exactly once, or lies parked as the one record of the file.
  void ExpectDelivered(Primary primary) const {
    if (primary == Primary::kUp) {
      EXPECT_EQ(PostgresServer::Get().Query("SELECT count(*) FROM " + table_), "1\n");
      EXPECT_FALSE(FileExists(pending_));
    } else {
      std::string parked = ReadFileBytes(pending_);
      EXPECT_NE(parked.find(Statement()), std::string::npos) << parked;
      EXPECT_EQ(parked.find(relay_.program()), std::string::npos) << "the log went into the file";
      EXPECT_EQ(parked.find("Open ADO"), std::string::npos);
    }
  }

  RelaySandbox relay_;
  std::string pending_ = relay_.File("pending.sql");
  std::string table_ = "surround_" + std::to_string(::getpid());
};

struct DescriptorCase {
  const char* name;
  int fd;
  Primary primary;
};

void PrintTo(const DescriptorCase& c, std::ostream* os) { *os << c.name; }

class ClosedDescriptorTest : public SurroundingsTest,
                             public testing::WithParamInterface<DescriptorCase> {};

// A closed descriptor's number would go to the next file or socket the run opens, and the console
// output with it: into the database connection, which then fails, or into the parked file.
TEST_P(ClosedDescriptorTest, StatementIsStillDeliveredAndReportsGoNowhere) {
  WriteSettings(GetParam().primary);
  RunOptions options = Options();
  options.closed_descriptors = {GetParam().fd};
  ProcessResult result = relay_.Run({Statement()}, options);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  ExpectDelivered(GetParam().primary);
  if (GetParam().fd != 1) {
    EXPECT_EQ(result.out.rfind(relay_.program() + " " + Statement(), 0), 0u) << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClosedDescriptorTest,
    testing::Values(DescriptorCase{"stdin_up", 0, Primary::kUp},
                    DescriptorCase{"stdout_up", 1, Primary::kUp},
                    DescriptorCase{"stderr_up", 2, Primary::kUp},
                    DescriptorCase{"stdin_down", 0, Primary::kDown},
                    DescriptorCase{"stdout_down", 1, Primary::kDown},
                    DescriptorCase{"stderr_down", 2, Primary::kDown}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurroundingsTest, AllThreeClosedAtOnce) {
  WriteSettings(Primary::kUp);
  RunOptions options = Options();
  options.closed_descriptors = {0, 1, 2};
  EXPECT_EQ(relay_.Run({Statement()}, options).exit_status, 0);
  ExpectDelivered(Primary::kUp);
}

class BrokenPipeTest : public SurroundingsTest, public testing::WithParamInterface<Primary> {};

// Every line of the detailed log goes to a pipe nobody reads any more: each write fails, and the
// run goes on as if it had been read.
TEST_P(BrokenPipeTest, RunGoesOnAndDelivers) {
  WriteSettings(GetParam());
  RunOptions options = Options();
  options.stdout_reader_gone = true;
  ProcessResult result = relay_.Run({Statement()}, options);
  EXPECT_EQ(result.signal, 0) << "ended by a signal";
  EXPECT_EQ(result.exit_status, 0);
  ExpectDelivered(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenPipeTest, testing::Values(Primary::kUp, Primary::kDown),
                         [](const auto& info) {
                           return std::string(info.param == Primary::kUp ? "up" : "down");
                         });

// The same as a caller's shell makes it: "DbRelay ... | head -c 20" with a pause after each line,
// so the reader is gone before the second line.
TEST_F(SurroundingsTest, PipedIntoHeadStillParksTheStatement) {
  WriteSettings(Primary::kDown);
  RunOptions options = Options();
  options.env["DBRELAY_REPORT_PAUSE_MS"] = "300";
  ProcessResult result = testing_support::RunProcess(
      {"/bin/bash", "-c", "\"$0\" \"$1\" | head -c 20; echo \" status=${PIPESTATUS[0]}\"",
       relay_.program(), Statement()},
      options);
  EXPECT_EQ(result.out, relay_.program().substr(0, 20) + " status=0\n");
  ExpectDelivered(Primary::kDown);
}

// How an upgrade puts a new executable in place while a run is under way (writing into the
// running file itself is refused by the system: "Text file busy").
struct UpgradeCase {
  const char* name;
  const char* command;  // $1 the new build, $2 the deployed program
};

void PrintTo(const UpgradeCase& c, std::ostream* os) { *os << c.name; }

class ReplacedExecutableTest : public SurroundingsTest,
                               public testing::WithParamInterface<UpgradeCase> {};

// The run waits on the signer while the program file is replaced; the settings read after that
// must still come from the settings file beside it, read anew: the test moves the fall-back file
// meanwhile, and the statement is parked in the new one.
TEST_P(ReplacedExecutableTest, LaterSettingsReadsStillFindTheSettingsFile) {
  const std::string ready = relay_.File("signer-ready");
  const std::string go = relay_.File("signer-go");
  const std::string signer = relay_.File("signer");
  WriteFileBytes(signer, "#!/bin/sh\n: > '" + ready + "'\n"
                         "for i in $(seq 600); do [ -e '" + go + "' ] && exit 0; sleep 0.05; done\n"
                         "exit 3\n");
  ::chmod(signer.c_str(), 0755);
  const std::string document = relay_.File("7.pdf");
  WriteFileBytes(document, "%PDF");
  const std::vector<std::string> signing = {"DigitallySign=1", "PdfSignerPath=" + signer};
  WriteSettings(Primary::kDown, signing);

  ProcessResult result;
  std::thread run([&] { result = relay_.Run({Statement(), document}, Options()); });
  for (int i = 0; i < 600 && !FileExists(ready); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(FileExists(ready)) << "the signer never started";
  testing_support::TempDir upgrade;
  testing_support::DeployRelay(upgrade.path());
  auto replaced = testing_support::RunProcess(
      {"/bin/sh", "-c", GetParam().command, "sh", upgrade.File("DbRelay"), relay_.program()});
  EXPECT_EQ(replaced.exit_status, 0);
  pending_ = relay_.File("moved.sql");
  WriteSettings(Primary::kDown, signing);
  WriteFileBytes(go, "");
  run.join();

  EXPECT_EQ(result.exit_status, 0) << result.out;
  ExpectDelivered(Primary::kDown);
  EXPECT_FALSE(FileExists(relay_.File("pending.sql")));
}

INSTANTIATE_TEST_SUITE_P(
    Upgrades, ReplacedExecutableTest,
    testing::Values(UpgradeCase{"renamed_over", "cp \"$1\" \"$2.new\" && mv \"$2.new\" \"$2\""},
                    UpgradeCase{"removed_then_copied", "rm \"$2\" && cp \"$1\" \"$2\""},
                    UpgradeCase{"cp_remove_destination", "cp --remove-destination \"$1\" \"$2\""}),
    [](const auto& info) { return std::string(info.param.name); });

// "--help" and "--version" as the one argument: the text on stdout and 0, with every setting that
// would otherwise log, box, mail or park something switched on and the primary down.
struct InformationCase {
  const char* name;
  std::vector<std::string> args;
  const std::string* text;  // nullptr: not an information request, the argument is a statement
};

void PrintTo(const InformationCase& c, std::ostream* os) { *os << c.name; }

class InformationRequestTest : public SurroundingsTest,
                               public testing::WithParamInterface<InformationCase> {};

TEST_P(InformationRequestTest, AnswersOnlyTheExactOneArgument) {
  WriteSettings(Primary::kDown, {"EmailOnError=1", "EmailSMTP=127.0.0.1:1",
                                 "EmailTo=ops@example.test"});
  const std::string settings = ReadFileBytes(relay_.ini_path());
  ProcessResult result = relay_.Run(GetParam().args, Options());
  EXPECT_EQ(result.exit_status, 0);
  if (GetParam().text != nullptr) {
    EXPECT_EQ(result.out, *GetParam().text);
    EXPECT_FALSE(FileExists(pending_));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(relay_.dir())) {
      ++entries;
    }
    EXPECT_EQ(entries, 4u) << "a file was created beside the program";  // program, 2 modules, ini
    EXPECT_EQ(ReadFileBytes(relay_.ini_path()), settings);
  } else {
    EXPECT_NE(ReadFileBytes(pending_).find(GetParam().args[0]), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InformationRequestTest,
    testing::Values(InformationCase{"help", {"--help"}, &dbrelay::HelpText()},
                    InformationCase{"version", {"--version"}, &dbrelay::VersionText()},
                    InformationCase{"help_with_a_file", {"--help", "x.pdf"}, nullptr},
                    InformationCase{"other_case", {"--Version"}, nullptr},
                    InformationCase{"with_a_space", {"--help "}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionTextTest, NamesTheProgramAndThePackageVersion) {
  EXPECT_EQ(dbrelay::VersionText(), std::string("DbRelay ") + DBRELAY_PACKAGE_VERSION + "\n");
}

// The locale's character encoding is loaded only once a text holds a byte outside ASCII; from
// then on the searches follow it. In GBK "\x81P" is one character, so "\x81PriTest" holds no
// "PriTest" at a character boundary and is a statement to park, where a byte search would take it
// for the test mode.
struct LocaleCase {
  const char* name;
  std::string argument;
  bool parked;
};

void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.name; }

class DoubleByteLocaleTest : public SurroundingsTest,
                             public testing::WithParamInterface<LocaleCase> {};

TEST_P(DoubleByteLocaleTest, ModeIsChosenByCharactersNotBytes) {
  testing_support::TempDir locales;
  // A locale of the test's own, in a folder of its own (LOCPATH): the machine's stay as they are.
  auto made = testing_support::RunProcess(
      {"/usr/bin/localedef", "-i", "zh_CN", "-f", "GBK", locales.File("zh_CN.GBK")});
  if (!std::filesystem::exists(locales.File("zh_CN.GBK"))) {
    GTEST_SKIP() << "cannot make a GBK locale: " << made.out;
  }
  WriteSettings(Primary::kDown);
  RunOptions options = Options();
  options.env["LOCPATH"] = locales.path();
  options.env["LC_ALL"] = "zh_CN.GBK";
  ProcessResult result = relay_.Run({GetParam().argument}, options);
  EXPECT_EQ(result.exit_status, 0) << result.out;
  if (GetParam().parked) {
    EXPECT_EQ(ReadFileBytes(pending_), GetParam().argument + "\r\n") << result.out;
  } else {
    EXPECT_FALSE(FileExists(pending_));
    EXPECT_NE(result.out.find("Connection Faild"), std::string::npos) << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoubleByteLocaleTest,
    testing::Values(LocaleCase{"ascii_test_mode", "PriTest", false},
                    LocaleCase{"trail_byte_is_no_mode", "\x81PriTest", true},
                    LocaleCase{"after_a_whole_character", "\x81\x40PriTest", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
