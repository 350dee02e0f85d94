#include <gtest/gtest.h>

#include <string>

#include "net/addresses.h"

namespace lumora {
namespace {

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(IsLocalNetworkSourceTest, Table) {
  struct Case {
    const char* name;
    std::uint32_t address;
    std::vector<Ipv4Subnet> own;
    bool want;
  };
  const std::vector<Ipv4Subnet> none;
  const Case cases[] = {
      {"loopback", Ip(127, 0, 0, 1), none, true},
      {"loopback, far end", Ip(127, 255, 255, 254), none, true},
      {"10/8 first", Ip(10, 0, 0, 0), none, true},
      {"10/8 last", Ip(10, 255, 255, 255), none, true},
      {"just below 10/8", Ip(9, 255, 255, 255), none, false},
      {"just above 10/8", Ip(11, 0, 0, 0), none, false},
      {"just below 172.16/12", Ip(172, 15, 255, 255), none, false},
      {"172.16/12 first", Ip(172, 16, 0, 0), none, true},
      {"172.16/12 last", Ip(172, 31, 255, 255), none, true},
      {"just above 172.16/12", Ip(172, 32, 0, 0), none, false},
      {"just below 192.168/16", Ip(192, 167, 255, 255), none, false},
      {"192.168/16", Ip(192, 168, 1, 20), none, true},
      {"just above 192.168/16", Ip(192, 169, 0, 0), none, false},
      {"link-local", Ip(169, 254, 3, 4), none, true},
      {"just above link-local", Ip(169, 255, 0, 0), none, false},
      {"just below CGNAT", Ip(100, 63, 255, 255), none, false},
      {"CGNAT first", Ip(100, 64, 0, 0), none, true},
      {"CGNAT last", Ip(100, 127, 255, 255), none, true},
      {"just above CGNAT", Ip(100, 128, 0, 0), none, false},
      {"public", Ip(8, 8, 8, 8), none, false},
      {"unspecified", 0, none, false},
      {"broadcast", Ip(255, 255, 255, 255), none, false},
      {"multicast", Ip(224, 0, 0, 251), none, false},
      {"public inside an own /24", Ip(141, 20, 5, 77), {{Ip(141, 20, 5, 10), 24}}, true},
      {"public beside an own /24", Ip(141, 20, 6, 77), {{Ip(141, 20, 5, 10), 24}}, false},
      {"the second own subnet covers it",
       Ip(141, 20, 5, 77),
       {{Ip(192, 168, 1, 2), 24}, {Ip(141, 20, 0, 1), 16}},
       true},
      {"own /32 is its own address only", Ip(141, 20, 5, 10), {{Ip(141, 20, 5, 10), 32}}, true},
      {"own /32, neighbour", Ip(141, 20, 5, 11), {{Ip(141, 20, 5, 10), 32}}, false},
      {"own /8 is the widest taken", Ip(141, 99, 0, 1), {{Ip(141, 20, 5, 10), 8}}, true},
      {"own /0 lets nothing in", Ip(8, 8, 8, 8), {{Ip(141, 20, 5, 10), 0}}, false},
      {"own /7 lets nothing in", Ip(140, 0, 0, 1), {{Ip(141, 20, 5, 10), 7}}, false},
      {"own prefix beyond 32 is ignored", Ip(141, 20, 5, 10), {{Ip(141, 20, 5, 10), 33}}, false},
      {"negative prefix is ignored", Ip(141, 20, 5, 10), {{Ip(141, 20, 5, 10), -1}}, false},
      {"an own subnet never admits multicast", Ip(239, 1, 2, 3), {{Ip(239, 1, 2, 3), 8}}, false},
      {"an own subnet never admits broadcast", Ip(255, 255, 255, 255), {{Ip(255, 255, 255, 0), 24}}, false},
      {"an own subnet never admits 0/8", Ip(0, 1, 2, 3), {{Ip(0, 1, 2, 1), 24}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsLocalNetworkSource(c.address, c.own), c.want) << c.name;
  }
}

TEST(Ipv4TextTest, Table) {
  struct Case {
    std::string text;
    bool ok;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"192.168.1.20", true, 0xC0A80114},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"10.0.0.1", true, 0x0A000001},
      {"256.0.0.1", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"1.2.3.4.", false, 0},
      {".1.2.3.4", false, 0},
      {"1..3.4", false, 0},
      {"01.2.3.4", false, 0},
      {"1.2.3.0004", false, 0},
      {"1.2.3.-4", false, 0},
      {"+1.2.3.4", false, 0},
      {" 1.2.3.4", false, 0},
      {"1.2.3.4 ", false, 0},
      {"1.2.3.4\n", false, 0},
      {"1.2.3.4:47823", false, 0},
      {"1.2.3.4/24", false, 0},
      {"1000.2.3.4", false, 0},
      {"\xEF\xBC\x91.2.3.4", false, 0},  // a full-width digit
      {std::string("1.2.3.4\0", 8), false, 0},
      {"localhost", false, 0},
      {"::1", false, 0},
      {"0x7f.0.0.1", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(ParseIpv4(c.text, address), c.ok) << c.text;
    EXPECT_EQ(address, c.ok ? c.want : 0xDEADBEEF) << c.text;
    if (c.ok) {
      EXPECT_EQ(FormatIpv4(address), c.text);
    }
  }
}

TEST(FindHardwareAddressInArpTableTest, Table) {
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "192.168.1.1      0x1         0x2         a4:2b:b0:01:02:03     *        wlan0\n"
      "192.168.1.30     0x1         0x0         00:00:00:00:00:00     *        wlan0\n"
      "192.168.1.31     0x1         0x2         00:00:00:00:00:00     *        wlan0\n"
      "192.168.1.40     0x1         0x2         3C:A9:F4:0E:1D:AB     *        wlan0\n"
      "192.168.1.50     0x1         0x6         02:00:5e:10:00:01     *        eth0\n"
      "192.168.1.60     0x1         0x2         a4:2b:b0:01:02        *        wlan0\n"
      "192.168.1.61     0x1         0x2         a4:2b:b0:01:02:03:04  *        wlan0\n"
      "192.168.1.62     0x1         0x2         a4-2b-b0-01-02-03     *        wlan0\n"
      "192.168.1.63     0x1         zz          a4:2b:b0:01:02:03     *        wlan0\n"
      "192.168.1.64     0x1         0x2\n"
      "garbage that is not a table line\n"
      "\n"
      "10.0.0.7         0x1         0x0         00:00:00:00:00:00     *        eth1\n"
      "10.0.0.7         0x1         0x2         de:ad:be:ef:00:07     *        wlan0\n"
      "10.0.0.8\t0x1\t0x2\t5c:e9:1e:00:00:08\t*\teth0\r\n"
      "10.0.0.9         0x1         0x2         5c:e9:1e:00:00:09     *        eth0";
  struct Case {
    const char* name;
    std::uint32_t address;
    const char* want;
  };
  const Case cases[] = {
      {"complete entry", Ip(192, 168, 1, 1), "a4:2b:b0:01:02:03"},
      {"incomplete entry", Ip(192, 168, 1, 30), ""},
      {"zero hardware address", Ip(192, 168, 1, 31), ""},
      {"upper case normalised", Ip(192, 168, 1, 40), "3c:a9:f4:0e:1d:ab"},
      {"permanent entry", Ip(192, 168, 1, 50), "02:00:5e:10:00:01"},
      {"five bytes", Ip(192, 168, 1, 60), ""},
      {"seven bytes", Ip(192, 168, 1, 61), ""},
      {"wrong separator", Ip(192, 168, 1, 62), ""},
      {"flags not hex", Ip(192, 168, 1, 63), ""},
      {"line cut short", Ip(192, 168, 1, 64), ""},
      {"incomplete on one interface, complete on another", Ip(10, 0, 0, 7), "de:ad:be:ef:00:07"},
      {"tabs and CR LF", Ip(10, 0, 0, 8), "5c:e9:1e:00:00:08"},
      {"last line without a line feed", Ip(10, 0, 0, 9), "5c:e9:1e:00:00:09"},
      {"not in the table", Ip(192, 168, 1, 2), ""},
      {"192.168.1.4 is not 192.168.1.40", Ip(192, 168, 1, 4), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(detail::FindHardwareAddressInArpTable(table, c.address), c.want) << c.name;
  }
  EXPECT_EQ(detail::FindHardwareAddressInArpTable("", Ip(192, 168, 1, 1)), "");
  EXPECT_EQ(detail::FindHardwareAddressInArpTable(
                "IP address       HW type     Flags       HW address            Mask     Device\n",
                Ip(192, 168, 1, 1)),
            "");
}

TEST(SelectReachableSubnetsTest, Table) {
  struct Case {
    const char* name;
    std::vector<AdapterAddresses> adapters;
    std::vector<std::pair<std::uint32_t, int>> want;
  };
  const Case cases[] = {
      {"no network", {}, {}},
      {"wifi and ethernet, in adapter order",
       {{true, false, {"192.168.1.20"}, {{Ip(192, 168, 1, 20), 24}}},
        {true, false, {"10.0.0.5"}, {{Ip(10, 0, 0, 5), 8}}}},
       {{Ip(192, 168, 1, 20), 24}, {Ip(10, 0, 0, 5), 8}}},
      {"adapter that is down contributes nothing",
       {{false, false, {"192.168.1.20"}, {{Ip(192, 168, 1, 20), 24}}}},
       {}},
      {"loopback adapter and loopback addresses elsewhere are left out",
       {{true, true, {"127.0.0.1", "10.9.9.9"}, {{Ip(127, 0, 0, 1), 8}, {Ip(10, 9, 9, 9), 8}}},
        {true, false, {"127.0.1.1", "141.20.5.10"}, {{Ip(127, 0, 1, 1), 8}, {Ip(141, 20, 5, 10), 22}}}},
       {{Ip(141, 20, 5, 10), 22}}},
      {"prefix lengths pass as reported",
       {{true, false, {"1.2.3.4"}, {{Ip(1, 2, 3, 4), 0}}}},
       {{Ip(1, 2, 3, 4), 0}}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::uint32_t, int>> got;
    for (const Ipv4Subnet& subnet : SelectReachableSubnets(c.adapters)) {
      got.emplace_back(subnet.address, subnet.prefix_length);
    }
    EXPECT_EQ(got, c.want) << c.name;
  }
}

}  // namespace
}  // namespace lumora
