#include "tests/support/smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace testing_support {

namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string NextLine(const std::string& text, size_t* pos) {
  size_t end = text.find('\n', *pos);
  if (end == std::string::npos) end = text.size();
  std::string line = text.substr(*pos, end - *pos);
  *pos = std::min(text.size(), end + 1);
  return line;
}

}  // namespace

SmtpServer::SmtpServer(SmtpServerOptions options) {
  std::vector<std::string> argv = {"/usr/bin/python3", "-u",
                                   std::string(DBRELAY_SOURCE_DIR) + "/tests/support/smtp_server.py",
                                   store_.path()};
  if (!options.user.empty()) {
    argv.insert(argv.end(), {"--user", Hex(options.user), "--password", Hex(options.password)});
  }
  if (options.reject_recipient) argv.push_back("--reject-recipient");
  if (options.reject_message) argv.push_back("--reject-message");
  if (options.refuse_greeting) argv.push_back("--refuse-greeting");
  if (options.silent) argv.push_back("--silent");
  if (options.stall_data) argv.push_back("--stall-data");

  // The script prints its port once the socket listens.
  process_ = std::make_unique<ServiceProcess>(argv);
  port_ = std::stoi(process_->first_line());
}

SmtpServer::~SmtpServer() = default;

std::vector<ReceivedMail> SmtpServer::Messages() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(store_.path())) {
    if (entry.path().extension() == ".msg") names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<ReceivedMail> mails;
  for (const std::string& name : names) {
    std::string text = ReadFileBytes(name);
    size_t pos = 0;
    ReceivedMail mail;
    mail.sender = NextLine(text, &pos);
    int count = std::stoi(NextLine(text, &pos));
    for (int i = 0; i < count; ++i) mail.recipients.push_back(NextLine(text, &pos));
    mail.data = text.substr(pos);
    mails.push_back(std::move(mail));
  }
  return mails;
}

int SmtpServer::Connections() const {
  std::string log = ReadFileBytes(store_.path() + "/connections.log");
  return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

bool SmtpServer::WaitForMessages(size_t n, double seconds) const {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  for (;;) {
    if (Messages().size() >= n) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int ClosedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot find a free port");
  }
  int port = ntohs(addr.sin_port);
  ::close(fd);  // never listened: connecting is refused
  return port;
}

}  // namespace testing_support
