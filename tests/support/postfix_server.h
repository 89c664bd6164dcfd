#pragma once
// A real Postfix from Debian for the mail tests, with its strict checks on: its own configuration,
// queue, mailboxes and log under a temporary folder, no system service, loopback only, dovecot for
// SASL AUTH and a throwaway CA of its own. Started on first use in a test program and stopped at
// exit. Postfix's master must run as root (CI does); CanRun() says when it cannot.
//
// It takes mail for ops@example.org and dba@example.org (delivered to Maildirs the test reads
// back), refuses refused@example.org at RCPT, and relays nothing: only a logged-in client may send.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/dovecot_auth.h"
#include "tests/support/relay_sandbox.h"
#include "tests/support/service_process.h"
#include "tests/support/test_ca.h"

namespace testing_support {

class PostfixServer {
 public:
  // False, with the reason, when this test process cannot run Postfix.
  static bool CanRun(std::string* why_not);
  // The server of this test program; throws std::runtime_error when it cannot be started.
  static PostfixServer& Get();

  // STARTTLS offered, AUTH only inside TLS: "127.0.0.1:port" and "[::1]:port" (empty without IPv6).
  std::string starttls_address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string starttls_v6_address() const;
  // TLS from the first byte on port 465, on an address of its own in 127.0.0.0/8 so that test
  // programs running side by side do not compete for the port.
  std::string implicit_tls_address() const { return implicit_host_ + ":465"; }
  // STARTTLS with a certificate the CA issued for another name (mail.other.test).
  std::string other_name_address() const { return "127.0.0.1:" + std::to_string(other_port_); }
  // STARTTLS with a certificate for the right names from a CA nobody trusts.
  std::string untrusted_address() const { return "127.0.0.1:" + std::to_string(untrusted_port_); }

  // The CA a client must trust to reach the server.
  const std::string& ca_file() const { return ca_.ca_file(); }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }

  // The messages delivered to mailbox ("ops", "dba"), oldest first, with line ends as CRLF and the
  // lines Postfix puts in front (Return-Path, X-Original-To, Delivered-To, Received) taken off, so
  // what is left is what the client sent.
  std::vector<std::string> Mailbox(const std::string& mailbox) const;
  void EmptyMailboxes() const;

  // Postfix's log, from offset (a size LogSize() returned) on.
  size_t LogSize() const;
  std::string LogSince(size_t offset) const;
  // Waits until every session the log shows opened since offset has ended and every message queued
  // since then has left the queue (delivered or bounced); false after seconds.
  bool WaitUntilQuiet(size_t offset, double seconds = 20) const;
  // The lines since offset in which Postfix complains: warnings, rejections, errors, lost or
  // broken sessions, protocol violations.
  std::vector<std::string> Complaints(size_t offset) const;
  // The names clients greeted with (EHLO) since offset, one per recipient the server checked.
  std::vector<std::string> Greetings(size_t offset) const;
  // The log of dovecot, which checks every login Postfix is offered.
  std::string AuthLog() const { return dovecot_->Log(); }

  ~PostfixServer();
  PostfixServer(const PostfixServer&) = delete;
  PostfixServer& operator=(const PostfixServer&) = delete;

 private:
  PostfixServer();
  void WriteConfiguration() const;
  void Start();

  TempDir dir_;  // goes last, once the daemons have stopped
  TestCertificateAuthority ca_;
  std::unique_ptr<DovecotAuth> dovecot_;
  std::unique_ptr<ServiceProcess> master_;
  std::string user_ = "relay";
  std::string password_ = "s3cr%t pass";
  int port_ = 0;
  int other_port_ = 0;
  int untrusted_port_ = 0;
  bool v6_ = false;
  std::string implicit_host_;
};

}  // namespace testing_support
