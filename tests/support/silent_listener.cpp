#include "tests/support/silent_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testing_support {

SilentListener::SilentListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, 64) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("silent listener set-up failed");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] {
    while (!stop_) {
      int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) break;
      clients_.push_back(client);
      ++accepted_;
    }
  });
}

SilentListener::~SilentListener() {
  stop_ = true;
  ::shutdown(fd_, SHUT_RDWR);  // wakes the accept
  thread_.join();
  ::close(fd_);
  for (int c : clients_) ::close(c);
}

}  // namespace testing_support
