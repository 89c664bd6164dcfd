// What a real driver cannot be made to do on demand, provoked through the connection seam on top
// of a real SQLite connection: a Close that fails, and a negative count.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "relay/database/com_error.h"
#include "relay/database/connection.h"
#include "relay/platform/env.h"
#include "relay/run/run_statement.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class InProcessEnv : public dbrelay::EnvWrapper {
 public:
  explicit InProcessEnv(std::string exe) : EnvWrapper(dbrelay::Env::Default()), exe_(exe) {}
  std::string ExecutablePath() override { return exe_; }
  void WriteConsole(std::string_view text) override { console += text; }
  void SleepForMilliseconds(int) override {}
  std::string console;

 private:
  std::string exe_;
};

class FailingClose : public dbrelay::ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void Close() override {
    throw dbrelay::_com_error(0x80004005, std::string("Test driver"),
                              std::string("closing \"failed\"\nbadly"));
  }
};

TEST(ComErrorHandlerTest, FailingCloseIsReportedWithTheArgumentsAndGivesMinusOne) {
  TempDir dir;
  std::string db = dir.File("docs.db");
  RunProcess({"/usr/bin/sqlite3", db, "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"
                                      "INSERT INTO Docs VALUES (7, 0);"});
  WriteFileBytes(dir.File("DbRelay.ini"),
                 "[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=" + db + "\r\n");
  InProcessEnv env(dir.File("DbRelay"));
  dbrelay::ScopedEnvOverride use(&env);
  dbrelay::SetConnectionFactoryForTesting(
      [] { return std::make_unique<FailingClose>(dbrelay::CreateOdbcConnection()); });

  const char* argv[] = {"/opt/relay/DbRelay", "UPDATE Docs SET Signed=1", "7.pdf"};
  int code = dbrelay::RunStatement(3, argv);
  dbrelay::SetConnectionFactoryForTesting(nullptr);

  EXPECT_EQ(code, -1);
  EXPECT_EQ(env.console,
            "\n/opt/relay/DbRelay\nUPDATE Docs SET Signed=1\n7.pdf\n"
            "CADODataBase Error:\n Code: 80004005\n Code meaning: Unspecified error\n"
            " Source: Test driver\n Description: closing \"failed\"\nbadly\n");
  // The statement had taken effect before the close failed.
  EXPECT_EQ(RunProcess({"/usr/bin/sqlite3", db, "SELECT Signed FROM Docs"}).out, "1\n");
}

class NegativeCount : public dbrelay::ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void Execute(const std::string& text, int32_t* records_affected, int32_t options) override {
    ConnectionWrapper::Execute(text, records_affected, options);
    *records_affected = -1;
  }
};

TEST(NegativeCountTest, FallsBelowTheDefaultMinimum) {
  TempDir dir;
  std::string db = dir.File("docs.db");
  RunProcess({"/usr/bin/sqlite3", db, "CREATE TABLE Docs (Id INTEGER);"});
  WriteFileBytes(dir.File("DbRelay.ini"),
                 "[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=" + db + "\r\n");
  InProcessEnv env(dir.File("DbRelay"));
  dbrelay::ScopedEnvOverride use(&env);
  dbrelay::SetConnectionFactoryForTesting(
      [] { return std::make_unique<NegativeCount>(dbrelay::CreateOdbcConnection()); });
  const char* argv[] = {"DbRelay", "CREATE INDEX i ON Docs (Id)"};
  int code = dbrelay::RunStatement(2, argv);
  dbrelay::SetConnectionFactoryForTesting(nullptr);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(env.console.rfind("Less then expected lines are affected in query:CREATE INDEX i ON "
                              "Docs (Id)\n\n\nGetLastError = ", 0),
            0u)
      << env.console;
}

}  // namespace
