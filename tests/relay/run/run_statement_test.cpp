// The statement run and the test modes, end to end: the real DbRelay as a process against real
// SQLite files through the SQLite3 ODBC driver, and a closed loopback port behind FreeTDS as a
// primary that is down.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "settings/setting_codec.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::FileExists;
using testing_support::ProcessResult;
using testing_support::ReadFileBytes;
using testing_support::RelaySandbox;
using testing_support::RunProcess;
using testing_support::WriteFileBytes;

// A primary that is down: nothing listens on port 1 of loopback.
const char kDownPrimary[] = "Provider=SQLOLEDB.1;Server=127.0.0.1,1;Database=Docs;Uid=relay;Pwd=s3cret;";

std::string Sqlite(const std::string& db, const std::string& sql) {
  auto result = RunProcess({"/usr/bin/sqlite3", db, sql});
  return result.out;
}

class RunStatementTest : public testing::Test {
 protected:
  void SetUp() override {
    db_ = relay_.File("docs.db");
    Sqlite(db_, "CREATE TABLE Docs (Id INTEGER PRIMARY KEY, Signed INTEGER NOT NULL);"
                "INSERT INTO Docs VALUES (7, 0); INSERT INTO Docs VALUES (8, 0);");
  }
  std::string SqliteConnection() const { return "Driver=SQLite3;Database=" + db_; }
  // A connection string for a SQLite file that cannot be opened.
  std::string MissingSqlite() const {
    return "Driver=SQLite3;Database=" + relay_.File("absent/none.db") + ";NoCreat=1";
  }
  std::string Signed(int id) const {
    return Sqlite(db_, "SELECT Signed FROM Docs WHERE Id=" + std::to_string(id));
  }

  RelaySandbox relay_;
  std::string db_;
};

TEST_F(RunStatementTest, PrimaryDeliversTheStatementSilently) {
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + SqliteConnection(),
                   "RaiseErrorIfAffectedLinesLessThen=1"});
  ProcessResult result = relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(Signed(7), "1\n");
  EXPECT_EQ(Signed(8), "0\n");
}

TEST_F(RunStatementTest, ScrambledPrimaryOfTypeOneIsDecoded) {
  relay_.WriteIni({"PriConnectionString=" + settings::EncodeSettingValue(SqliteConnection())});
  EXPECT_EQ(relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=8"}).exit_status, 0);
  EXPECT_EQ(Signed(8), "1\n");
}

TEST_F(RunStatementTest, DetailedLogOrderForAPrimaryThatOpens) {
  std::string source = relay_.File("7.pdf");
  WriteFileBytes(source, "%PDF");
  mkdir(relay_.File("archive").c_str(), 0700);
  relay_.WriteIni({"DetailedLog=1", "PriDBType=2",
                   "PriOtherConnStr=" + SqliteConnection() + ";Pwd=hidden", "CopyFile=1",
                   "CopyFilePath=" + relay_.File("archive")});
  std::string statement = "UPDATE Docs SET Signed=1 WHERE Id=7";
  ProcessResult result = relay_.Run({statement, source});
  EXPECT_EQ(result.exit_status, 0);
  std::string target = relay_.File("archive") + "/7.pdf";
  std::string expected = relay_.program() + " " + statement + " " + source +
                         "Trying to copy file: " + source + "\nTo file: " + target +
                         "\nReturnValue = 1\n"
                         "\nPrimary Connection String: " + SqliteConnection() + ";Pwd=****\n"
                         "\nOpen ADO Connection OK\n"
                         "\nRunning Query: " + statement + "\n"
                         "Number of records Affected = 1\n";
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(ReadFileBytes(target), "%PDF");
}

struct CountCase {
  const char* name;
  std::string statement;
  const char* minimum;
  int exit_status;
  enum { kSilent, kTooFew, kTooFewWithDbError } report;
};

class AffectedCountTest : public RunStatementTest, public testing::WithParamInterface<CountCase> {};

TEST_P(AffectedCountTest, ComparesTheCountWithTheMinimum) {
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + SqliteConnection(),
                   std::string("RaiseErrorIfAffectedLinesLessThen=") + GetParam().minimum,
                   "SecDBType=3", "SecLocalTextFile=" + relay_.File("pending.sql")});
  ProcessResult result = relay_.Run({GetParam().statement});
  EXPECT_EQ(result.exit_status, GetParam().exit_status);
  std::string head = "Less then expected lines are affected in query:" + GetParam().statement +
                     "\n\n";
  switch (GetParam().report) {
    case CountCase::kSilent:
      EXPECT_EQ(result.out, "");
      break;
    case CountCase::kTooFew:  // the database reported no error: its error text is empty
      EXPECT_EQ(result.out.substr(0, head.size() + 16), head + "\nGetLastError = ");
      break;
    case CountCase::kTooFewWithDbError:
      head += "Connection String = " + SqliteConnection() + "\nCADODataBase Error\n";
      EXPECT_EQ(result.out.substr(0, head.size()), head);
      EXPECT_NE(result.out.find("\nGetLastError = "), std::string::npos);
      break;
  }
  // A statement that fails on an open primary is never tried elsewhere.
  EXPECT_FALSE(FileExists(relay_.File("pending.sql")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AffectedCountTest,
    testing::Values(
        CountCase{"two_rows", "UPDATE Docs SET Signed=1", "2", 0, CountCase::kSilent},
        CountCase{"fewer_than_minimum", "UPDATE Docs SET Signed=1", "3", 255, CountCase::kTooFew},
        CountCase{"no_row_matches", "UPDATE Docs SET Signed=1 WHERE Id=99", "1", 255,
                  CountCase::kTooFew},
        CountCase{"syntax_error_passes_minimum_zero", "UPDAT Docs", "0", 0, CountCase::kSilent},
        CountCase{"syntax_error_fails_minimum_one", "UPDAT Docs", "1", 255,
                  CountCase::kTooFewWithDbError},
        CountCase{"leading_digits_of_minimum", "UPDATE Docs SET Signed=1", "2abc", 0,
                  CountCase::kSilent}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunStatementTest, PrimaryDownGoesToTheTextFile) {
  std::string pending = relay_.File("pending.sql");
  relay_.WriteIni({"PriOtherConnStr=unused", "PriDBType=2", "PriOtherConnStr=" + MissingSqlite(),
                   "UseSecConn=0", "SecDBType=3", "SecLocalTextFile=" + pending});
  EXPECT_EQ(relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7"}).exit_status, 0);
  ProcessResult second = relay_.Run({"DELETE FROM Docs WHERE Name LIKE '%s\r\n'"});
  EXPECT_EQ(second.exit_status, 0);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(ReadFileBytes(pending),
            "UPDATE Docs SET Signed=1 WHERE Id=7\r\nDELETE FROM Docs WHERE Name LIKE '%s\r\n'\r\n");
}

TEST_F(RunStatementTest, ForcedTextFileName) {
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + MissingSqlite(), "SecDBType=3",
                   "SecLocalTextFile=" + relay_.File("pending.sql")});
  EXPECT_EQ(relay_.Run({"UPDATE x SET y=1", "", "batch7"}).exit_status, 0);
  EXPECT_EQ(ReadFileBytes(relay_.File("batch7.sql")), "UPDATE x SET y=1\r\n");
}

TEST_F(RunStatementTest, UnwritableTextFileExitsWithItsErrno) {
  std::string path = relay_.File("no-folder/pending.sql");
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + MissingSqlite(), "SecDBType=3",
                   "SecLocalTextFile=" + path});
  ProcessResult result = relay_.Run({"UPDATE x SET y=1"});
  EXPECT_EQ(result.exit_status, 2);  // ENOENT
  EXPECT_EQ(result.out, "Unable to write to text file: " + path +
                            "\n\nUPDATE x SET y=1\n\nError returned = 2\n");
}

TEST_F(RunStatementTest, SecondaryTakesOverOnTheSameObject) {
  relay_.WriteIni({"PriConnectionString=" + settings::EncodeSettingValue(kDownPrimary),
                   "SecDBType=2", "SecOtherConnStr=" + SqliteConnection(), "DetailedLog=1"});
  ProcessResult result = relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(Signed(7), "1\n");
  // The down primary's string is shown with its password masked, then the secondary's.
  EXPECT_NE(result.out.find("\nPrimary Connection String: Provider=SQLOLEDB.1;Server=127.0.0.1,1;"
                            "Database=Docs;Uid=relay;Pwd=****;\n\nSecondary Connection String: " +
                            SqliteConnection() + "\n\nOpen ADO Connection OK\n"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(result.out.find("s3cret"), std::string::npos);
}

TEST_F(RunStatementTest, BothDownShowsOnlyTheSecondaryFailure) {
  relay_.WriteIni({"PriDBType=2", "PriOtherConnStr=" + std::string(kDownPrimary), "SecDBType=2",
                   "SecOtherConnStr=" + MissingSqlite()});
  ProcessResult result = relay_.Run({"UPDATE Docs SET Signed=1"});
  EXPECT_EQ(result.exit_status, 255);
  std::string head = "Connection String = " + MissingSqlite() + "\nCADODataBase Error\n";
  EXPECT_EQ(result.out.substr(0, head.size()), head);
  EXPECT_NE(result.out.find("\nGetLastError = "), std::string::npos);
  EXPECT_EQ(result.out.find("127.0.0.1,1"), std::string::npos);  // the primary went to mail at most
}

TEST_F(RunStatementTest, OtherPrimaryStringIsUsedAsStored) {
  // Scrambled-looking text under PriOtherConnStr: the run does not decode it, so the open fails.
  relay_.WriteIni({"PriDBType=2",
                   "PriOtherConnStr=" + settings::EncodeSettingValue(SqliteConnection()),
                   "SecDBType=3", "SecLocalTextFile=" + relay_.File("pending.sql")});
  EXPECT_EQ(relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7"}).exit_status, 0);
  EXPECT_EQ(ReadFileBytes(relay_.File("pending.sql")), "UPDATE Docs SET Signed=1 WHERE Id=7\r\n");
  EXPECT_EQ(Signed(7), "0\n");
  // The primary test decodes it first and so opens.
  EXPECT_EQ(relay_.Run({"PriTest"}).out, "\nConnection OK:\n");
}

TEST_F(RunStatementTest, FailedSigningStopsEverything) {
  std::string source = relay_.File("7.pdf");
  WriteFileBytes(source, "%PDF");
  mkdir(relay_.File("archive").c_str(), 0700);
  relay_.WriteIni({"DigitallySign=1", "PdfSignerPath=/bin/false", "CopyFile=1",
                   "CopyFilePath=" + relay_.File("archive/"), "PriDBType=2",
                   "PriOtherConnStr=" + SqliteConnection(), "SecDBType=3",
                   "SecLocalTextFile=" + relay_.File("pending.sql")});
  ProcessResult result = relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7", source});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.out, "Unable to sign file: " + source + "\n\nError returned = 1\n");
  EXPECT_FALSE(FileExists(relay_.File("archive/7.pdf")));
  EXPECT_FALSE(FileExists(relay_.File("pending.sql")));
  EXPECT_EQ(Signed(7), "0\n");
}

TEST_F(RunStatementTest, EmptyFileNameSkipsSigning) {
  relay_.WriteIni({"DigitallySign=1", "PdfSignerPath=/bin/false", "PriDBType=2",
                   "PriOtherConnStr=" + SqliteConnection()});
  EXPECT_EQ(relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7", ""}).exit_status, 0);
  EXPECT_EQ(Signed(7), "1\n");
}

TEST_F(RunStatementTest, EachDecisionReadsTheFileAnew) {
  // The signer rewrites the settings while it runs; the primary chosen afterwards is the new one.
  std::string signer = relay_.File("signer.sh");
  std::string new_ini = "[General]\r\nPriDBType=2\r\nPriOtherConnStr=" + SqliteConnection() + "\r\n";
  WriteFileBytes(relay_.File("new.ini"), new_ini);
  WriteFileBytes(signer, "#!/bin/sh\ncp '" + relay_.File("new.ini") + "' '" + relay_.ini_path() +
                             "'\n");
  chmod(signer.c_str(), 0700);
  std::string source = relay_.File("7.pdf");
  WriteFileBytes(source, "%PDF");
  relay_.WriteIni({"DigitallySign=1", "PdfSignerPath=" + signer, "PriDBType=2",
                   "PriOtherConnStr=" + MissingSqlite(), "SecDBType=3",
                   "SecLocalTextFile=" + relay_.File("pending.sql")});
  EXPECT_EQ(relay_.Run({"UPDATE Docs SET Signed=1 WHERE Id=7", source}).exit_status, 0);
  EXPECT_EQ(Signed(7), "1\n");
  EXPECT_FALSE(FileExists(relay_.File("pending.sql")));
}

struct ConnectionTestCase {
  const char* name;
  std::vector<std::string> settings;  // %OK% and %BAD% stand for a good and a bad string
  const char* mode;
  bool ok;
};

class ConnectionTestModeTest : public RunStatementTest,
                               public testing::WithParamInterface<ConnectionTestCase> {};

TEST_P(ConnectionTestModeTest, ShowsTheOutcomeAndExitsZero) {
  std::vector<std::string> lines;
  for (std::string line : GetParam().settings) {
    for (auto [marker, value] : {std::pair<std::string, std::string>{"%OK%", SqliteConnection()},
                                 {"%BAD%", MissingSqlite()},
                                 {"%OKSCRAMBLED%", settings::EncodeSettingValue(SqliteConnection())}}) {
      size_t at = line.find(marker);
      if (at != std::string::npos) line.replace(at, marker.size(), value);
    }
    lines.push_back(line);
  }
  lines.push_back("EmailOnError=1");  // a connection test is never mailed (no server configured)
  relay_.WriteIni(lines);
  ProcessResult result = relay_.Run({GetParam().mode, "ignored", "too"});
  EXPECT_EQ(result.exit_status, 0);
  if (GetParam().ok) {
    EXPECT_EQ(result.out, "\nConnection OK:\n");
  } else {
    std::string head = "\nConnection Faild:\nConnection String = " + MissingSqlite() + "\n";
    EXPECT_EQ(result.out.substr(0, head.size()), head) << result.out;
    EXPECT_NE(result.out.find("\nGetLastError = "), std::string::npos);
    EXPECT_EQ(result.out.find("Connect failed"), std::string::npos);  // no mail was tried
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionTestModeTest,
    testing::Values(
        ConnectionTestCase{"pri_type1", {"PriConnectionString=%OKSCRAMBLED%"}, "PriTest", true},
        ConnectionTestCase{"pri_type2_plain", {"PriDBType=2", "PriOtherConnStr=%OK%"}, "PriTest", true},
        ConnectionTestCase{"pri_type2_scrambled", {"PriDBType=2", "PriOtherConnStr=%OKSCRAMBLED%"},
                           "PriTest", true},
        ConnectionTestCase{"pri_fails", {"PriDBType=2", "PriOtherConnStr=%BAD%"}, "PriTest", false},
        ConnectionTestCase{"sec_type1", {"SecConnectionString=%OKSCRAMBLED%"}, "SecTest", true},
        ConnectionTestCase{"sec_type3_tests_other", {"SecDBType=3", "SecOtherConnStr=%OK%",
                                                    "SecConnectionString=%BAD%"}, "SecTest", true},
        ConnectionTestCase{"sec_fails", {"SecDBType=2", "SecOtherConnStr=%BAD%"}, "SecTest", false},
        ConnectionTestCase{"word_inside_argument", {"PriDBType=2", "PriOtherConnStr=%OK%"},
                           "xxSecTest PriTest", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
