#pragma once
// A real PostgreSQL server for tests: started on first use in this test process (its own data
// folder under a temporary directory, loopback only, a free port, the unix socket in that
// directory, as the unprivileged "postgres" user when the tests run as root) and stopped at exit.
// It has one database owned by one password user.

#include <string>

namespace testing_support {

class PostgresServer {
 public:
  static PostgresServer& Get();

  int port() const { return port_; }
  const std::string& database() const { return database_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  const std::string& socket_dir() const { return base_dir_; }

  // Runs sql through psql as the password user; throws with psql's output when it fails.
  void Execute(const std::string& sql) const;
  // Runs a query and returns its rows unaligned, "|" between fields, one line per row.
  std::string Query(const std::string& sql) const;

  // "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...;Database=...;Uid=...;Pwd=...;"
  std::string OdbcConnectionString() const;
  // "Provider=SQLOLEDB.1;Server=127.0.0.1,PORT;Database=...;Uid=...;Pwd=...;"
  std::string SqlServerFormConnectionString() const;

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

 private:
  PostgresServer();
  void Start();
  void Stop();
  std::string Psql(const std::string& database, const std::string& user,
                   const std::string& sql) const;

  std::string bin_dir_;
  std::string base_dir_;
  std::string data_dir_;
  int port_ = 0;
  bool started_ = false;
  std::string database_ = "relaydb";
  std::string user_ = "relay";
  std::string password_ = "Relay-Pw-7";
};

// A loopback port on which nothing listens (bound once and released).
int UnusedLoopbackPort();

}  // namespace testing_support
