#include "tests/support/postfix_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include "tests/support/smtp_server.h"

namespace testing_support {

namespace {

const char kMaster[] = "/usr/lib/postfix/sbin/master";

// Whether something accepts TCP connections at host:port (numeric host).
bool Accepts(const std::string& host, int port) {
  bool v6 = host.find(':') != std::string::npos;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET6, host.c_str(), &a->sin6_addr) != 1) return false;
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &a->sin_addr) != 1) return false;
    length = sizeof *a;
  }
  int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

// Whether this machine lets a test bind the IPv6 loopback address.
bool HasIpv6Loopback() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// An address in 127.0.0.0/8 other than 127.0.0.1 whose port 465 is free now.
std::string FreeImplicitTlsHost() {
  std::random_device random;
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string host = "127." + std::to_string(1 + random() % 254) + "." +
                       std::to_string(random() % 256) + "." + std::to_string(1 + random() % 254);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(465);
    ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    bool free = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    if (free) return host;
  }
  throw std::runtime_error("no loopback address with a free port 465");
}

void ChownTo(const std::string& path, const char* user) {
  passwd* pw = ::getpwnam(user);
  if (pw == nullptr || ::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
    throw std::runtime_error("cannot give " + path + " to " + user);
  }
}

std::string Id(const char* user, bool group) {
  passwd* pw = ::getpwnam(user);
  if (pw == nullptr) throw std::runtime_error(std::string("no user ") + user);
  return std::to_string(group ? pw->pw_gid : pw->pw_uid);
}

void Replace(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos;) {
    text->replace(at, from.size(), to);
    at = text->find(from, at + to.size());
  }
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Maildir files hold LF line ends; Postfix's own lines come first.
std::string AsSent(const std::string& stored) {
  std::string text;
  for (char c : stored) {
    if (c == '\n') text += '\r';
    text += c;
  }
  size_t pos = 0;
  bool in_added = false;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) break;
    std::string line = text.substr(pos, end - pos);
    bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    bool added = line.rfind("Return-Path:", 0) == 0 || line.rfind("X-Original-To:", 0) == 0 ||
                 line.rfind("Delivered-To:", 0) == 0 || line.rfind("Received:", 0) == 0;
    if (!(added || (continuation && in_added))) break;
    in_added = true;
    pos = end + 2;
  }
  return text.substr(pos);
}

}  // namespace

bool PostfixServer::CanRun(std::string* why_not) {
  if (::geteuid() != 0) {
    *why_not = "Postfix's master runs only as root";
    return false;
  }
  return true;
}

PostfixServer& PostfixServer::Get() {
  static PostfixServer server;
  return server;
}

PostfixServer::PostfixServer() : ca_(dir_.path()) {
  ::chmod(dir_.path().c_str(), 0755);  // the daemons' users read their files here
  dovecot_ = std::make_unique<DovecotAuth>(dir_.File("dovecot"), user_, password_);
  v6_ = HasIpv6Loopback();
  std::vector<std::string> names = {"localhost", "127.0.0.1"};
  if (v6_) names.push_back("::1");
  ca_.IssueServerCertificate("other-name", {"mail.other.test"});
  // A port taken between the probe and the start makes the master fail: try a few.
  for (int attempt = 0;; ++attempt) {
    implicit_host_ = FreeImplicitTlsHost();
    port_ = ClosedLoopbackPort();
    other_port_ = ClosedLoopbackPort();
    untrusted_port_ = ClosedLoopbackPort();
    std::vector<std::string> all = names;
    all.push_back(implicit_host_);  // the certificates name the 465 address too
    ca_.IssueServerCertificate("server", all);
    ca_.IssueServerCertificate("untrusted", all, /*untrusted=*/true);
    try {
      Start();
      return;
    } catch (const std::exception&) {
      master_.reset();
      if (attempt == 2) throw;
    }
  }
}

PostfixServer::~PostfixServer() {
  master_.reset();  // SIGTERM: the master stops its children, then the queue and log are left
  dovecot_.reset();
}

std::string PostfixServer::starttls_v6_address() const {
  return v6_ ? "[::1]:" + std::to_string(port_) : "";
}

void PostfixServer::Start() {
  for (const char* folder : {"conf", "queue", "data", "mail"}) {
    std::filesystem::create_directories(dir_.File(folder));
  }
  ChownTo(dir_.File("data"), "postfix");
  ChownTo(dir_.File("mail"), "postfix");
  WriteConfiguration();
  // "postfix check" makes the queue's folders with their owners and modes.
  ProcessResult check = RunProcess({"/usr/sbin/postfix", "-c", dir_.File("conf"), "check"});
  if (check.exit_status != 0) throw std::runtime_error("postfix check failed");
  int probes = 0;  // sessions the readiness checks opened
  auto accepts = [&probes](const std::string& host, int port) {
    bool ok = Accepts(host, port);
    probes += ok ? 1 : 0;
    return ok;
  };
  master_ = std::make_unique<ServiceProcess>(
      std::vector<std::string>{kMaster, "-c", dir_.File("conf"), "-d"}, [&] {
        return accepts("127.0.0.1", port_) && accepts(implicit_host_, 465) &&
               accepts("127.0.0.1", other_port_) && accepts("127.0.0.1", untrusted_port_) &&
               (!v6_ || accepts("::1", port_));
      });
  // The probes are sessions too: let their lines reach the log before a test looks at it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Count(LogSince(0), "]: disconnect from ") < static_cast<size_t>(probes)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      throw std::runtime_error("Postfix did not log its probes");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void PostfixServer::WriteConfiguration() const {
  const std::string& d = dir_.path();
  // @D@ stands for the server's folder.
  std::string main_cf = R"(compatibility_level = 3.6
queue_directory = @D@/queue
data_directory = @D@/data
mail_owner = postfix
setgid_group = postdrop
maillog_file = @D@/maillog
maillog_file_prefixes = @D@
myhostname = mail.relay-test.example
mydomain = relay-test.example
mydestination =
mynetworks = 127.0.0.1/32
inet_interfaces = loopback-only
inet_protocols = @PROTOCOLS@
alias_maps =
alias_database =
local_recipient_maps =
biff = no
smtputf8_enable = no
virtual_mailbox_domains = example.org
virtual_mailbox_base = @D@/mail
virtual_mailbox_maps = texthash:@D@/conf/mailboxes
virtual_uid_maps = static:@UID@
virtual_gid_maps = static:@GID@
smtpd_banner = $myhostname ESMTP
# No tarpit after a refused command: the tests would only wait.
smtpd_error_sleep_time = 0s
smtpd_tls_chain_files = @D@/server.pem
smtpd_tls_security_level = may
smtpd_tls_loglevel = 1
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = @SASL@
# The strict checks: AUTH only inside TLS, no bare line ends, envelopes and greetings as the RFCs
# write them, no commands sent ahead of the answers.
smtpd_tls_auth_only = yes
smtpd_forbid_bare_newline = yes
smtpd_forbid_bare_newline_exclusions =
smtpd_forbid_unauth_pipelining = yes
strict_rfc821_envelopes = yes
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname,
  check_helo_access regexp:@D@/conf/helo
smtpd_sender_restrictions = reject_non_fqdn_sender
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = reject_non_fqdn_recipient,
  check_recipient_access texthash:@D@/conf/refused
smtpd_data_restrictions = reject_unauth_pipelining
)";
  Replace(&main_cf, "@PROTOCOLS@", v6_ ? "all" : "ipv4");
  Replace(&main_cf, "@UID@", Id("postfix", false));
  Replace(&main_cf, "@GID@", Id("postfix", true));
  Replace(&main_cf, "@SASL@", dovecot_->socket_path());
  Replace(&main_cf, "@D@", d);
  WriteFileBytes(d + "/conf/main.cf", main_cf);
  WriteFileBytes(d + "/conf/mailboxes", "ops@example.org ops/\ndba@example.org dba/\n");
  WriteFileBytes(d + "/conf/refused", "refused@example.org REJECT no such desk\n");
  // Logs the name every accepted greeting gave ("info: ... helo=<name>"), checked at each RCPT.
  WriteFileBytes(d + "/conf/helo", "/./ INFO greeting seen\n");

  std::string port = std::to_string(port_);
  std::string smtpd = " inet n - n - - smtpd";
  std::string master_cf = "127.0.0.1:" + port + smtpd + "\n";
  if (v6_) master_cf += "[::1]:" + port + smtpd + "\n";
  master_cf += implicit_host_ + ":465" + smtpd + " -o smtpd_tls_wrappermode=yes\n";
  master_cf += "127.0.0.1:" + std::to_string(other_port_) + smtpd +
               " -o smtpd_tls_chain_files=" + d + "/other-name.pem\n";
  master_cf += "127.0.0.1:" + std::to_string(untrusted_port_) + smtpd +
               " -o smtpd_tls_chain_files=" + d + "/untrusted.pem\n";
  // The daemons a delivery to a Maildir needs, none of them chrooted.
  master_cf +=
      "pickup unix n - n 60 1 pickup\n"
      "cleanup unix n - n - 0 cleanup\n"
      "qmgr unix n - n 300 1 qmgr\n"
      "tlsmgr unix - - n 1000? 1 tlsmgr\n"
      "rewrite unix - - n - - trivial-rewrite\n"
      "bounce unix - - n - 0 bounce\n"
      "defer unix - - n - 0 bounce\n"
      "trace unix - - n - 0 bounce\n"
      "verify unix - - n - 1 verify\n"
      "flush unix n - n 1000? 0 flush\n"
      "proxymap unix - - n - - proxymap\n"
      "proxywrite unix - - n - 1 proxymap\n"
      "smtp unix - - n - - smtp\n"
      "relay unix - - n - - smtp\n"
      "showq unix n - n - - showq\n"
      "error unix - - n - - error\n"
      "retry unix - - n - - error\n"
      "discard unix - - n - - discard\n"
      "virtual unix - n n - - virtual\n"
      "anvil unix - - n - 1 anvil\n"
      "scache unix - - n - 1 scache\n"
      "postlog unix-dgram n - n - 1 postlogd\n";
  WriteFileBytes(d + "/conf/master.cf", master_cf);
}

size_t PostfixServer::LogSize() const { return ReadFileBytes(dir_.File("maillog")).size(); }

std::string PostfixServer::LogSince(size_t offset) const {
  std::string log = ReadFileBytes(dir_.File("maillog"));
  return offset < log.size() ? log.substr(offset) : "";
}

bool PostfixServer::WaitUntilQuiet(size_t offset, double seconds) const {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  for (;;) {
    std::string log = LogSince(offset);
    bool sessions_ended = Count(log, "]: connect from ") == Count(log, "]: disconnect from ");
    bool queue_empty = Count(log, "/cleanup[") == Count(log, ": removed\n");
    if (sessions_ended && queue_empty) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::vector<std::string> PostfixServer::Complaints(size_t offset) const {
  static const char* const kSigns[] = {"warning:",
                                       "reject:",
                                       "error:",
                                       "fatal:",
                                       "panic:",
                                       "lost connection",
                                       "improper",
                                       "bare <",
                                       "too many errors",
                                       "SSL_accept error",
                                       "authentication failed",
                                       "timeout after",
                                       "status=bounced",
                                       "status=deferred",
                                       "Protocol error"};
  std::vector<std::string> lines;
  std::string log = LogSince(offset);
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = std::min(log.find('\n', pos), log.size());
    std::string line = log.substr(pos, end - pos);
    for (const char* sign : kSigns) {
      if (line.find(sign) != std::string::npos) {
        lines.push_back(line);
        break;
      }
    }
    pos = end + 1;
  }
  return lines;
}

std::vector<std::string> PostfixServer::Greetings(size_t offset) const {
  std::vector<std::string> names;
  std::string log = LogSince(offset);
  for (size_t at = log.find("greeting seen;"); at != std::string::npos;
       at = log.find("greeting seen;", at + 1)) {
    size_t start = log.find(" helo=<", at);
    size_t end = start == std::string::npos ? start : log.find(">\n", start);
    if (end != std::string::npos) names.push_back(log.substr(start + 7, end - start - 7));
  }
  return names;
}

std::vector<std::string> PostfixServer::Mailbox(const std::string& mailbox) const {
  std::vector<std::pair<std::filesystem::file_time_type, std::string>> files;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(dir_.File("mail/" + mailbox + "/new"), ec)) {
    files.emplace_back(entry.last_write_time(), entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> messages;
  for (const auto& file : files) messages.push_back(AsSent(ReadFileBytes(file.second)));
  return messages;
}

void PostfixServer::EmptyMailboxes() const {
  std::error_code ec;
  for (const char* mailbox : {"ops", "dba"}) {
    for (const auto& entry : std::filesystem::directory_iterator(
             dir_.File(std::string("mail/") + mailbox + "/new"), ec)) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

}  // namespace testing_support
