#pragma once
// Dovecot from Debian (dovecot-core) as nothing but a SASL authentication service for a test's
// Postfix: its configuration, state and log in a folder of the test's, no protocols, no listening
// port, one user with a plain password. Stopped when the object goes.

#include <memory>
#include <string>

#include "tests/support/service_process.h"

namespace testing_support {

class DovecotAuth {
 public:
  // Starts dovecot in folder (made readable to the daemons' users); throws std::runtime_error when
  // it does not come up.
  DovecotAuth(const std::string& folder, const std::string& user, const std::string& password);

  // The socket Postfix speaks the dovecot SASL protocol on (smtpd_sasl_path).
  const std::string& socket_path() const { return socket_path_; }
  // dovecot's own log: every login it was asked to check.
  std::string Log() const;

 private:
  std::string folder_;
  std::string socket_path_;
  std::unique_ptr<ServiceProcess> process_;
};

}  // namespace testing_support
