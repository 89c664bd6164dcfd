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
  // @D@ stands for the folder.
  std::string conf = R"(base_dir = @D@/run
state_dir = @D@/state
log_path = @D@/dovecot.log
protocols =
ssl = no
auth_mechanisms = plain login
auth_verbose = yes
# Postfix lets AUTH through only inside TLS (smtpd_tls_auth_only).
disable_plaintext_auth = no
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @D@/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent
}
service auth {
  unix_listener @D@/auth-client {
    mode = 0666
  }
}
)";
  for (size_t at = conf.find("@D@"); at != std::string::npos; at = conf.find("@D@", at)) {
    conf.replace(at, 3, folder_);
  }
  WriteFileBytes(folder_ + "/dovecot.conf", conf);
  process_ = std::make_unique<ServiceProcess>(
      std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", folder_ + "/dovecot.conf"},
      [this] { return FileExists(socket_path_); });
}

std::string DovecotAuth::Log() const { return ReadFileBytes(folder_ + "/dovecot.log"); }

}  // namespace testing_support
