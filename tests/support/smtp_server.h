#pragma once
// A real SMTP server (aiosmtpd, run by the system's Python) on a free loopback port, for tests. It
// stores every message it accepts so a test reads back the exact bytes that arrived, and is stopped
// when the object goes.

#include <string>
#include <vector>

#include <memory>

#include "tests/support/relay_sandbox.h"
#include "tests/support/service_process.h"

namespace testing_support {

struct SmtpServerOptions {
  // When user is set, the server offers AUTH (PLAIN, LOGIN) over plain text and accepts mail only
  // after a login with exactly this user and password.
  std::string user{};
  std::string password{};
  bool reject_recipient = false;  // every RCPT TO gets 550
  bool reject_message = false;    // DATA gets 554 after the message has been sent
  bool refuse_greeting = false;   // greets with 554 and hangs up
  bool silent = false;            // accepts connections and never answers
  bool stall_data = false;        // takes a whole message after DATA and never answers it
};

struct ReceivedMail {
  std::string sender;                   // MAIL FROM address, without brackets
  std::vector<std::string> recipients;  // RCPT TO addresses, without brackets
  std::string data;                     // DATA bytes as received, dot-stuffing removed
};

class SmtpServer {
 public:
  explicit SmtpServer(SmtpServerOptions options = {});  // throws std::runtime_error on failure
  ~SmtpServer();
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Every message accepted so far, in order. A message is stored before the server acknowledges
  // its DATA, so a client that has seen its send succeed finds it here.
  std::vector<ReceivedMail> Messages() const;
  // How many connections the server has accepted so far.
  int Connections() const;
  // Waits until at least n messages are stored; false after seconds.
  bool WaitForMessages(size_t n, double seconds) const;

 private:
  TempDir store_;
  std::unique_ptr<ServiceProcess> process_;  // stopped before its store goes
  int port_ = 0;
};

// A loopback port with nothing listening on it (bound, then closed), for the unreachable server.
int ClosedLoopbackPort();

}  // namespace testing_support
