// The socket library: dotted text and reverse lookup through the node's hosts table or the
// system resolver.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

#include "platform/node.h"

namespace nsk {
namespace {

const std::string SIXTY_BYTES = "a-host-name-of-sixty-bytes-for-the-cut.long.example.internal";

void use_hosts(std::optional<std::map<std::string, std::string>> hosts) {
  node::Node n;
  n.hosts = std::move(hosts);
  node::set_current(n);
}

std::uint32_t address(const char* dotted) {
  std::uint32_t a = 0;
  EXPECT_EQ(::inet_pton(AF_INET, dotted, &a), 1);
  return a;
}

const char* lookup(std::uint32_t a) {
  const HostEntry* entry = GRD_gethostbyaddr_(reinterpret_cast<const char*>(&a), 4, 2);
  return entry == nullptr ? nullptr : entry->h_name;
}

TEST(Sockets, InetAddrConvertsDottedText) {
  EXPECT_EQ(inet_addr("192.0.2.17"), address("192.0.2.17"));
  EXPECT_EQ(inet_addr("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(inet_addr("10.*.*.*"), INADDR_NONE_);
  EXPECT_EQ(inet_addr(""), INADDR_NONE_);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE_);
}

TEST(Sockets, TheHostsTableHoldsTheOnlyNamesKnown) {
  ASSERT_EQ(SIXTY_BYTES.size(), 60u);
  use_hosts(std::map<std::string, std::string>{{"192.0.2.17", "ws17.test.example"},
                                               {"10.1.2.3", SIXTY_BYTES},
                                               {"255.255.255.255", "all.example"},
                                               {"not an address", "never.example"}});
  ASSERT_NE(lookup(address("192.0.2.17")), nullptr);
  EXPECT_STREQ(lookup(address("192.0.2.17")), "ws17.test.example");
  EXPECT_STREQ(lookup(address("10.1.2.3")), SIXTY_BYTES.c_str());  // whole: the caller cuts
  EXPECT_STREQ(lookup(INADDR_NONE_), "all.example");  // the error value is looked up too
  EXPECT_EQ(lookup(address("127.0.0.1")), nullptr);   // the resolver is not asked
  EXPECT_EQ(lookup(address("192.0.2.99")), nullptr);
}

TEST(Sockets, TheEntryLastsUntilTheNextCall) {
  use_hosts(std::map<std::string, std::string>{{"192.0.2.1", "one.example"},
                                               {"192.0.2.2", "two.example"}});
  const std::uint32_t one = address("192.0.2.1");
  const HostEntry* first = GRD_gethostbyaddr_(reinterpret_cast<const char*>(&one), 4, 2);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->h_name, "one.example");
  EXPECT_STREQ(lookup(address("192.0.2.2")), "two.example");
  EXPECT_STREQ(first->h_name, "two.example");  // the one static entry, overwritten
}

TEST(Sockets, OnlyIpv4AddressesAreLookedUp) {
  use_hosts(std::map<std::string, std::string>{{"192.0.2.17", "ws17.test.example"}});
  const std::uint32_t a = address("192.0.2.17");
  EXPECT_EQ(GRD_gethostbyaddr_(reinterpret_cast<const char*>(&a), 16, 2), nullptr);
  EXPECT_EQ(GRD_gethostbyaddr_(reinterpret_cast<const char*>(&a), 4, 10), nullptr);
  EXPECT_EQ(GRD_gethostbyaddr_(nullptr, 4, 2), nullptr);
}

TEST(Sockets, AnEmptyHostsTableKnowsNoName) {
  use_hosts(std::map<std::string, std::string>{});
  EXPECT_EQ(lookup(address("127.0.0.1")), nullptr);
}

TEST(Sockets, WithoutAHostsTableTheSystemResolverAnswers) {
  use_hosts(std::nullopt);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(0x7F000001);
  char expected[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, expected, sizeof expected,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    GTEST_SKIP() << "the system resolver knows no name for 127.0.0.1";
  }
  ASSERT_NE(lookup(htonl(0x7F000001)), nullptr);
  EXPECT_STREQ(lookup(htonl(0x7F000001)), expected);
}

}  // namespace
}  // namespace nsk
