#include "relay/platform/mail_host.h"

#include <gtest/gtest.h>

#include "relay/mail/mail_message.h"

namespace {

// The local end of a route is the address a connection to the server leaves from.
TEST(MailHostTest, RouteToALoopbackServerLeavesFromLoopback) {
  auto v4 = dbrelay::RoutesToMailServer("127.0.0.1", 25);
  ASSERT_EQ(v4.size(), 1u);
  EXPECT_EQ(v4[0].remote, "127.0.0.1");
  EXPECT_EQ(v4[0].local, "127.0.0.1");
  auto v6 = dbrelay::RoutesToMailServer("::1", 25);
  if (!v6.empty()) {  // a machine without IPv6 has no route there
    EXPECT_EQ(v6[0].remote, "::1");
    EXPECT_EQ(v6[0].local, "::1");
  }
}

TEST(MailHostTest, HostNameIsThereAndItsCanonicalNameIsAName) {
  std::string host = dbrelay::LocalHostName();
  EXPECT_FALSE(host.empty());
  std::string canonical = dbrelay::CanonicalHostName(host);
  EXPECT_TRUE(canonical.empty() || canonical.find_first_of(" \r\n") == std::string::npos);
  EXPECT_EQ(dbrelay::CanonicalHostName(""), "");
}

}  // namespace
