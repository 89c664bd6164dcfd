#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "relay/platform/mail_host.h"

namespace dbrelay {

namespace {

// The numeric form of address; an IPv4 address mapped into IPv6 is given as IPv4.
bool NumericAddress(const sockaddr* address, std::string* text) {
  char buffer[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(address);
    if (::inet_ntop(AF_INET, &a->sin_addr, buffer, sizeof buffer) == nullptr) return false;
  } else if (address->sa_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr)) {
      if (::inet_ntop(AF_INET, &a->sin6_addr.s6_addr[12], buffer, sizeof buffer) == nullptr) {
        return false;
      }
    } else {
      if (::inet_ntop(AF_INET6, &a->sin6_addr, buffer, sizeof buffer) == nullptr) return false;
    }
  } else {
    return false;
  }
  *text = buffer;
  return true;
}

// The local address of a route to address, or false when the system has none.
bool LocalAddressTowards(const addrinfo* address, std::string* local) {
  int fd = ::socket(address->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_storage own{};
  socklen_t length = sizeof own;
  bool ok = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) == 0 &&
            NumericAddress(reinterpret_cast<sockaddr*>(&own), local);
  ::close(fd);
  return ok;
}

}  // namespace

std::string LocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string CanonicalHostName(const std::string& host_name) {
  if (host_name.empty()) return "";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &found) != 0) return "";
  std::string name = found != nullptr && found->ai_canonname != nullptr ? found->ai_canonname : "";
  ::freeaddrinfo(found);
  return name;
}

std::vector<MailRoute> RoutesToMailServer(const std::string& host, int port) {
  std::vector<MailRoute> routes;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return routes;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    MailRoute route;
    if (NumericAddress(a->ai_addr, &route.remote) && LocalAddressTowards(a, &route.local)) {
      routes.push_back(route);
    }
  }
  ::freeaddrinfo(found);
  return routes;
}

}  // namespace dbrelay
