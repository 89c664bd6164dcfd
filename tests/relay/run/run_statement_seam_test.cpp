// What a real driver cannot be made to do on demand, provoked through the connection seam on top
// of a real SQLite connection: a Close that fails, and a negative count.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <optional>
#include <string>

#include "relay/database/com_error.h"
#include "relay/database/connection.h"
#include "relay/run/run_statement.h"
#include "tests/support/in_process_env.h"
#include "tests/support/relay_sandbox.h"

namespace {

using testing_support::InProcessEnv;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

class FailingClose : public dbrelay::ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void Close() override {
    throw dbrelay::_com_error(0x80004005, std::string("Test driver"),
                              std::string("closing \"failed\"\nbadly"));
  }
};

class NegativeCount : public dbrelay::ConnectionWrapper {
 public:
  using ConnectionWrapper::ConnectionWrapper;
  void Execute(const std::string& text, int32_t* records_affected, int32_t options) override {
    ConnectionWrapper::Execute(text, records_affected, options);
    *records_affected = -1;
  }
};

// RunStatement in this process on a SQLite primary, with every connection wrapped as the test says.
class SeamTest : public testing::Test {
 protected:
  void SetUp() override {
    RunProcess({"/usr/bin/sqlite3", db_, "CREATE TABLE Docs (Id INTEGER, Signed INTEGER);"
                                         "INSERT INTO Docs VALUES (7, 0);"});
    WriteFileBytes(dir_.File("DbRelay.ini"),
                   "[General]\r\nPriDBType=2\r\nPriOtherConnStr=Driver=SQLite3;Database=" + db_ +
                       "\r\n");
  }
  template <typename Wrapper>
  void WrapConnections() {
    wrap_.emplace([] { return std::make_unique<Wrapper>(dbrelay::CreateOdbcConnection()); });
  }
  std::string Signed() { return RunProcess({"/usr/bin/sqlite3", db_, "SELECT Signed FROM Docs"}).out; }

  TempDir dir_;
  std::string db_ = dir_.File("docs.db");
  InProcessEnv env_{dir_.path()};
  dbrelay::ScopedEnvOverride use_{&env_};
  std::optional<dbrelay::ScopedConnectionOverride> wrap_;
};

TEST_F(SeamTest, FailingCloseIsReportedWithTheArgumentsAndGivesMinusOne) {
  WrapConnections<FailingClose>();
  const char* argv[] = {"/opt/relay/DbRelay", "UPDATE Docs SET Signed=1", "7.pdf"};
  EXPECT_EQ(dbrelay::RunStatement(3, argv), -1);
  EXPECT_EQ(env_.console,
            "\n/opt/relay/DbRelay\nUPDATE Docs SET Signed=1\n7.pdf\n"
            "CADODataBase Error:\n Code: 80004005\n Code meaning: Unspecified error\n"
            " Source: Test driver\n Description: closing \"failed\"\nbadly\n");
  // The statement had taken effect before the close failed.
  EXPECT_EQ(Signed(), "1\n");
}

TEST_F(SeamTest, NegativeCountFallsBelowTheDefaultMinimum) {
  WrapConnections<NegativeCount>();
  const char* argv[] = {"DbRelay", "UPDATE Docs SET Signed=1"};
  EXPECT_EQ(dbrelay::RunStatement(2, argv), -1);
  EXPECT_EQ(env_.console.rfind("Less then expected lines are affected in query:UPDATE Docs SET "
                               "Signed=1\n\n\nGetLastError = ", 0),
            0u)
      << env_.console;
}

}  // namespace
