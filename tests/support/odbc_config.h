#pragma once
// A private ODBC configuration: an odbcinst.ini in a temporary folder that registers SQLOLEDB
// (pointing at psqlODBC, so the SQL Server form of a connection string reaches PostgreSQL),
// "PostgreSQL Unicode", SQLite3 and FreeTDS, and an empty odbc.ini. unixODBC reads it through
// ODBCSYSINI.

#include <map>
#include <string>

namespace testing_support {

class OdbcConfig {
 public:
  // Written once per test process, removed at exit.
  static const OdbcConfig& Get();

  const std::string& dir() const { return dir_; }
  // {"ODBCSYSINI": dir()}, for child processes.
  std::map<std::string, std::string> Env() const { return {{"ODBCSYSINI", dir_}}; }
  // Sets ODBCSYSINI in this process; call before the first ODBC call.
  void ApplyToThisProcess() const;

  ~OdbcConfig();

 private:
  OdbcConfig();
  std::string dir_;
};

// The driver paths the configuration registers.
inline constexpr const char* kPsqlOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
inline constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
inline constexpr const char* kFreeTdsOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

}  // namespace testing_support
