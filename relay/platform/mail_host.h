#pragma once
// What the mail engine asks of the operating system about its own end of a session: the host's
// names, and the local address a connection to the server would leave from. The engine is a
// module of its own (libdbrelay_mail.so) and cannot reach DbRelay's Env, so these calls have this
// seam of their own; only posix_mail_host.cpp includes the platform headers.

#include <string>
#include <vector>

namespace dbrelay {

// The host's name as the system is set up with it (gethostname), "" when there is none.
std::string LocalHostName();

// The canonical name the resolver gives host_name (/etc/hosts, then DNS), "" when it gives none.
std::string CanonicalHostName(const std::string& host_name);

// One address of the server and the local address the system would use to reach it.
struct MailRoute {
  std::string remote;  // numeric, IPv6 without brackets
  std::string local;   // numeric, IPv6 without brackets or zone
};

// Every address host resolves to for a TCP connection to port, in the resolver's order, with its
// local address. The local end is found by asking the system for the route (a datagram socket
// connected to the address; no packet is sent). Addresses with no route are left out.
std::vector<MailRoute> RoutesToMailServer(const std::string& host, int port);

}  // namespace dbrelay
