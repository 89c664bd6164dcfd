#include "tests/support/dovecot_auth.h"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/relay_sandbox.h"

namespace testing_support {

DovecotAuth::DovecotAuth(const std::string& folder, const std::string& user,
                         const std::string& password)
    : folder_(folder), socket_path_(folder + "/auth-client") {
  std::filesystem::create_directories(folder_);
  ::chmod(folder_.c_str(), 0755);
  // passwd-file lines are "user:password"; a ":" or a line end would make another field or entry.
  if (user.find_first_of(":\r\n") != std::string::npos ||
      password.find_first_of("\r\n") != std::string::npos) {
    throw std::runtime_error("dovecot test user or password not representable");
  }
  WriteFileBytes(folder_ + "/passwd", user + ":{PLAIN}" + password + "\n");
  WriteFileBytes(folder_ + "/dovecot.conf",
                 "base_dir = " + folder_ + "/run\n"
                 "state_dir = " + folder_ + "/state\n"
                 "log_path = " + folder_ + "/dovecot.log\n"
                 "protocols =\n"
                 "ssl = no\n"
                 "auth_mechanisms = plain login\n"
                 "auth_verbose = yes\n"
                 // Postfix lets AUTH through only inside TLS (smtpd_tls_auth_only)
                 "disable_plaintext_auth = no\n"
                 "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " +
                     folder_ + "/passwd\n}\n"
                 "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=/nonexistent\n}\n"
                 "service auth {\n  unix_listener " + socket_path_ + " {\n    mode = 0666\n  }\n}\n");
  process_ = std::make_unique<ServiceProcess>(
      std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", folder_ + "/dovecot.conf"},
      [this] { return FileExists(socket_path_); });
}

std::string DovecotAuth::Log() const { return ReadFileBytes(folder_ + "/dovecot.log"); }

}  // namespace testing_support
