#include "net/addresses.h"

#include <gtest/gtest.h>

#include <set>

#include "net/socket_platform.h"

namespace lumora {
namespace {

TEST(SelectReachableAddressesTest, Table) {
  struct Case {
    const char* name;
    std::vector<AdapterAddresses> adapters;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"no network", {}, {}},
      {"wifi and ethernet, in adapter order",
       {{true, false, {"192.168.1.20"}}, {true, false, {"10.0.0.5"}}},
       {"192.168.1.20", "10.0.0.5"}},
      {"two addresses on one adapter keep their order",
       {{true, false, {"192.168.1.20", "172.16.0.9"}}},
       {"192.168.1.20", "172.16.0.9"}},
      {"adapter that is down contributes nothing",
       {{false, false, {"192.168.1.20"}}, {true, false, {"10.0.0.5"}}},
       {"10.0.0.5"}},
      {"loopback adapter and loopback addresses elsewhere are left out",
       {{true, true, {"127.0.0.1", "10.9.9.9"}}, {true, false, {"127.0.1.1", "192.168.1.20"}}},
       {"192.168.1.20"}},
      {"link-local and duplicates are kept",
       {{true, false, {"169.254.3.4", "10.0.0.5"}}, {true, false, {"10.0.0.5"}}},
       {"169.254.3.4", "10.0.0.5", "10.0.0.5"}},
      {"127 only as a prefix", {{true, false, {"12.7.0.1", "1.127.0.1"}}}, {"12.7.0.1", "1.127.0.1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SelectReachableAddresses(c.adapters), c.want);
  }
}

TEST(GetLocalIPv4AddressesTest, ListsDottedAddressesButNoLoopback) {
  for (const std::string& address : GetLocalIPv4Addresses()) {
    SCOPED_TRACE(address);
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1);
    EXPECT_LE(address.size(), 15u);
    EXPECT_NE(address.rfind("127.", 0), 0u);
  }
}

TEST(GetLocalIPv4AddressesTest, PlatformListIncludesTheLoopbackAdapter) {
  // Both platforms report loopback; the filter, not the listing, drops it.
  std::vector<AdapterAddresses> adapters;
  ASSERT_TRUE(EnsureWinsock());
  ASSERT_TRUE(detail::ListAdapters(adapters));
  bool saw_loopback = false;
  for (const AdapterAddresses& adapter : adapters) {
    for (const std::string& address : adapter.ipv4) {
      saw_loopback = saw_loopback || (adapter.loopback && address == "127.0.0.1");
    }
  }
  EXPECT_TRUE(saw_loopback);
}

TEST(GetLocalIPv4AddressesTest, PlatformListGivesEachAddressItsSubnet) {
  std::vector<AdapterAddresses> adapters;
  ASSERT_TRUE(EnsureWinsock());
  ASSERT_TRUE(detail::ListAdapters(adapters));
  bool saw_loopback = false;
  for (const AdapterAddresses& adapter : adapters) {
    ASSERT_EQ(adapter.subnets.size(), adapter.ipv4.size());
    for (std::size_t i = 0; i < adapter.ipv4.size(); ++i) {
      SCOPED_TRACE(adapter.ipv4[i]);
      in_addr parsed{};
      ASSERT_EQ(inet_pton(AF_INET, adapter.ipv4[i].c_str(), &parsed), 1);
      EXPECT_EQ(adapter.subnets[i].address, ntohl(parsed.s_addr));
      EXPECT_GE(adapter.subnets[i].prefix_length, 1);
      EXPECT_LE(adapter.subnets[i].prefix_length, 32);
      if (adapter.loopback && adapter.ipv4[i] == "127.0.0.1") {
        saw_loopback = true;
        EXPECT_EQ(adapter.subnets[i].prefix_length, 8);
      }
    }
  }
  EXPECT_TRUE(saw_loopback);
}

TEST(GetLocalIPv4AddressesTest, PlatformListHasEachAdapterOnce) {
  // Linux reports a labelled address ("eth0:1") as an entry of its own; it
  // belongs to its device's adapter all the same.
  std::vector<AdapterAddresses> adapters;
  ASSERT_TRUE(EnsureWinsock());
  ASSERT_TRUE(detail::ListAdapters(adapters));
  std::set<std::string> ids;
  for (const AdapterAddresses& adapter : adapters) {
    EXPECT_TRUE(ids.insert(adapter.id).second) << adapter.id;
  }
}

TEST(GetLocalIPv4SubnetsTest, MatchesTheAddressListWithoutLoopback) {
  const std::vector<std::string> addresses = GetLocalIPv4Addresses();
  const std::vector<Ipv4Subnet> subnets = GetLocalIPv4Subnets();
  ASSERT_EQ(subnets.size(), addresses.size());
  for (std::size_t i = 0; i < subnets.size(); ++i) {
    SCOPED_TRACE(addresses[i]);
    std::uint32_t address = 0;
    ASSERT_TRUE(ParseIpv4(addresses[i], address));
    EXPECT_EQ(subnets[i].address, address);
    EXPECT_NE(subnets[i].address >> 24, 127u);
    EXPECT_GE(subnets[i].prefix_length, 1);
    EXPECT_LE(subnets[i].prefix_length, 32);
  }
}

TEST(GetRankedAddressesTest, GivesWellFormedAddressesOfNamedAdapters) {
  const std::vector<ShownAddress> ranked = GetRankedAddresses();
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const ShownAddress& shown = ranked[i];
    SCOPED_TRACE(shown.address + " on " + shown.adapter_name);
    std::uint32_t address = 0;
    EXPECT_TRUE(ParseIpv4(shown.address, address));
    // At most one, and first.
    EXPECT_TRUE(!shown.recommended || i == 0);
    // The platform names every adapter: the id finds its network, the name
    // is what the user is shown.
    EXPECT_FALSE(shown.adapter_id.empty());
    EXPECT_FALSE(shown.adapter_name.empty());
  }
}

TEST(LookupHardwareAddressTest, NoneForAddressesThatHaveNoNeighbourEntry) {
  // Loopback and the unspecified address never sit in the neighbour table;
  // the answer must be empty, not a zero address or garbage.
  ASSERT_TRUE(EnsureWinsock());
  EXPECT_EQ(LookupHardwareAddress(0x7F000001), "");
  EXPECT_EQ(LookupHardwareAddress(0), "");
}

}  // namespace
}  // namespace lumora
