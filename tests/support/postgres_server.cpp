#include "tests/support/postgres_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/relay_sandbox.h"

namespace testing_support {

namespace {

std::string FindBinDir() {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    if (std::filesystem::exists(entry.path() / "bin" / "initdb")) {
      found.push_back((entry.path() / "bin").string());
    }
  }
  if (found.empty()) throw std::runtime_error("no PostgreSQL server binaries under /usr/lib/postgresql");
  std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return found.back();
}

// As root, commands run as the unprivileged postgres user.
std::vector<std::string> AsServerUser(std::vector<std::string> argv) {
  if (::geteuid() != 0) return argv;
  std::vector<std::string> out = {"/usr/sbin/runuser", "-u", "postgres", "--"};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

ProcessResult MustRun(const std::vector<std::string>& argv, double timeout = 60) {
  RunOptions options;
  options.timeout_seconds = timeout;
  options.unset_env = {"PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGPASSWORD"};
  options.env = {{"LC_ALL", "C"}};
  ProcessResult result = RunProcess(AsServerUser(argv), options);
  if (result.exit_status != 0) {
    std::string command;
    for (const std::string& a : argv) command += a + " ";
    throw std::runtime_error("command failed (" + std::to_string(result.exit_status) +
                             "): " + command + "\n" + result.out);
  }
  return result;
}

}  // namespace

int UnusedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

PostgresServer& PostgresServer::Get() {
  static PostgresServer server;
  return server;
}

PostgresServer::PostgresServer() {
  bin_dir_ = FindBinDir();
  std::string pattern = (std::filesystem::temp_directory_path() / "dbrelay-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  base_dir_ = pattern;
  data_dir_ = base_dir_ + "/data";
  try {
    Start();
  } catch (...) {
    Stop();  // a half-started server leaves neither a process nor a folder behind
    throw;
  }
}

void PostgresServer::Start() {
  if (::geteuid() == 0) {
    passwd* pw = ::getpwnam("postgres");
    if (pw == nullptr) throw std::runtime_error("running as root but there is no postgres user");
    if (::chown(base_dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      throw std::runtime_error("chown of the server folder failed");
    }
  }
  MustRun({bin_dir_ + "/initdb", "-D", data_dir_, "-U", "postgres", "-A", "trust",
           "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C", "-N"});
  started_ = true;  // from here on Stop() asks pg_ctl to stop whatever did start
  // A port taken between the probe and the start makes pg_ctl fail: try a few.
  for (int attempt = 0;; ++attempt) {
    port_ = UnusedLoopbackPort();
    std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " +
                          base_dir_ +
                          " -c fsync=off -c full_page_writes=off -c synchronous_commit=off";
    try {
      MustRun({bin_dir_ + "/pg_ctl", "-D", data_dir_, "-l", base_dir_ + "/server.log", "-w",
               "-t", "60", "-o", options, "start"},
              90);
      break;
    } catch (const std::exception&) {
      if (attempt == 2) throw;
    }
  }
  for (int i = 0;; ++i) {
    ProcessResult ready = RunProcess(AsServerUser({bin_dir_ + "/pg_isready", "-q", "-h",
                                                   base_dir_, "-p", std::to_string(port_)}));
    if (ready.exit_status == 0) break;
    if (i == 100) throw std::runtime_error("PostgreSQL did not become ready");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Psql("postgres", "postgres",
       "CREATE ROLE " + user_ + " LOGIN PASSWORD '" + password_ + "'");
  Psql("postgres", "postgres", "CREATE DATABASE " + database_ + " OWNER " + user_);
}

PostgresServer::~PostgresServer() { Stop(); }

void PostgresServer::Stop() {
  if (started_) {
    RunOptions options;
    options.timeout_seconds = 30;
    RunProcess(AsServerUser({bin_dir_ + "/pg_ctl", "-D", data_dir_, "-m", "immediate", "-w",
                             "stop"}),
               options);
  }
  started_ = false;
  std::error_code ignored;
  std::filesystem::remove_all(base_dir_, ignored);
}

std::string PostgresServer::Psql(const std::string& database, const std::string& user,
                                 const std::string& sql) const {
  return MustRun({bin_dir_ + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                  base_dir_, "-p", std::to_string(port_), "-U", user, "-d", database, "-c", sql})
      .out;
}

void PostgresServer::Execute(const std::string& sql) const { Psql(database_, user_, sql); }

std::string PostgresServer::Query(const std::string& sql) const {
  return Psql(database_, user_, sql);
}

std::string PostgresServer::OdbcConnectionString() const {
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) +
         ";Database=" + database_ + ";Uid=" + user_ + ";Pwd=" + password_ + ";";
}

std::string PostgresServer::SqlServerFormConnectionString() const {
  return "Provider=SQLOLEDB.1;Server=127.0.0.1," + std::to_string(port_) +
         ";Database=" + database_ + ";Uid=" + user_ + ";Pwd=" + password_ + ";";
}

}  // namespace testing_support
