#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

TEST(ClassifyAdapterTest, Table) {
  struct Case {
    std::uint32_t if_type;
    const char* description;
    const char* name;
    AdapterKind want;
  };
  const Case cases[] = {
      // Windows: IfType, Description, FriendlyName as adapters report them.
      {71, "Intel(R) Wi-Fi 6 AX201 160MHz", "WLAN", AdapterKind::WiFi},
      {6, "Realtek PCIe GbE Family Controller", "以太网", AdapterKind::Ethernet},
      {6, "Remote NDIS based Internet Sharing Device", "以太网 4", AdapterKind::Ethernet},
      {243, "Generic Mobile Broadband Adapter", "手机网络", AdapterKind::Other},
      {24, "Software Loopback Interface 1", "Loopback Pseudo-Interface 1", AdapterKind::Other},
      {6, "Hyper-V Virtual Ethernet Adapter", "vEthernet (WSL)", AdapterKind::HyperV},
      {6, "Hyper-V Virtual Ethernet Adapter #2", "vEthernet (Default Switch)", AdapterKind::HyperV},
      {6, "Hyper-V Virtual Ethernet Adapter #3", "vEthernet (DockerNAT)", AdapterKind::Docker},
      {6, "VirtualBox Host-Only Ethernet Adapter", "VirtualBox Host-Only Network", AdapterKind::VirtualBox},
      {6, "VMware Virtual Ethernet Adapter for VMnet8", "VMware Network Adapter VMnet8", AdapterKind::VMware},
      {6, "TAP-Windows Adapter V9", "以太网 2", AdapterKind::Tunnel},
      {53, "Wintun Userspace Tunnel", "OpenVPN Wintun", AdapterKind::Tunnel},
      {53, "WireGuard Tunnel", "home", AdapterKind::Tunnel},
      {53, "Tailscale Tunnel", "Tailscale", AdapterKind::Tunnel},
      {6, "ZeroTier Virtual Port", "ZeroTier One [8056c2e21c000001]", AdapterKind::Tunnel},
      {6, "Fortinet SSL VPN Virtual Ethernet Adapter", "以太网 3", AdapterKind::Tunnel},
      {23, "WAN Miniport (PPPOE)", "宽带连接", AdapterKind::Tunnel},
      {6, "Bluetooth Device (Personal Area Network)", "蓝牙网络连接", AdapterKind::BluetoothPan},
      {6, "Cisco AnyConnect Secure Mobility Client Virtual Miniport Adapter for Windows x64", "以太网 5",
       AdapterKind::Tunnel},
      // The mobile hotspot's adapter: phones that join the PC's own hotspot use it.
      {71, "Microsoft Wi-Fi Direct Virtual Adapter #2", "本地连接* 2", AdapterKind::WiFi},
      // Linux: the type mapped from sysfs, no description, the interface name.
      {6, "", "enp3s0", AdapterKind::Ethernet},
      {71, "", "wlp2s0", AdapterKind::WiFi},
      {6, "", "br0", AdapterKind::Ethernet},
      {6, "", "br-lan", AdapterKind::Ethernet},
      {6, "", "br-", AdapterKind::Ethernet},
      {0, "", "wwan0", AdapterKind::Other},
      {6, "", "docker0", AdapterKind::Docker},
      {6, "", "br-3f2a9c1d7e4b", AdapterKind::Docker},
      {6, "", "virbr0", AdapterKind::Docker},
      {6, "", "veth1a2b3c4", AdapterKind::Docker},
      {6, "", "lxdbr0", AdapterKind::Docker},
      {6, "", "vboxnet0", AdapterKind::VirtualBox},
      {6, "", "vmnet8", AdapterKind::VMware},
      {0, "", "tun0", AdapterKind::Tunnel},
      {6, "", "tap0", AdapterKind::Tunnel},
      {0, "", "wg0", AdapterKind::Tunnel},
      {0, "", "tailscale0", AdapterKind::Tunnel},
      {6, "", "ztks57ab3c", AdapterKind::Tunnel},
      {23, "", "ppp0", AdapterKind::Tunnel},
      {131, "", "gre1", AdapterKind::Tunnel},
      {6, "", "bnep0", AdapterKind::BluetoothPan},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyAdapter(c.if_type, c.description, c.name), c.want) << c.description << " / " << c.name;
  }
}

// An adapter that is up, its id made from its name.
AdapterAddresses Adapter(AdapterKind kind, const char* name, std::vector<std::string> addresses,
                         bool gateway = false, std::uint32_t metric = 0) {
  AdapterAddresses adapter(true, false, std::move(addresses));
  adapter.kind = kind;
  adapter.has_gateway = gateway;
  adapter.route_metric = metric;
  adapter.id = std::string("{") + name + "}";
  adapter.name = name;
  return adapter;
}

AdapterAddresses Down(AdapterAddresses adapter) {
  adapter.up = false;
  return adapter;
}

TEST(RankAddressesTest, Table) {
  using K = AdapterKind;
  struct Case {
    const char* name;
    std::vector<AdapterAddresses> adapters;
    // "address@adapter", "*" before the recommended one, " ll" after a link-local one.
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"no network", {}, {}},
      {"Wi-Fi behind Hyper-V in platform order",
       {Adapter(K::HyperV, "vEthernet (WSL)", {"172.29.0.1"}),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 35)},
       {"*192.168.1.20@WLAN", "172.29.0.1@vEthernet (WSL)"}},
      {"a VPN listed first with the lowest metric is not recommended",
       {Adapter(K::Tunnel, "OpenVPN", {"10.8.0.6"}, true, 1),
        Adapter(K::Ethernet, "以太网", {"192.168.0.5"}, true, 25)},
       {"*192.168.0.5@以太网", "10.8.0.6@OpenVPN"}},
      {"two real with gateways: the lower metric wins",
       {Adapter(K::Ethernet, "Ethernet", {"10.0.0.5"}, true, 25),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 5)},
       {"*192.168.1.20@WLAN", "10.0.0.5@Ethernet"}},
      {"equal metrics: platform order",
       {Adapter(K::Ethernet, "Ethernet", {"10.0.0.5"}, true, 25),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 25)},
       {"*10.0.0.5@Ethernet", "192.168.1.20@WLAN"}},
      {"a gateway beats a lower metric without one",
       {Adapter(K::Ethernet, "Ethernet", {"10.0.0.5"}, false, 1),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 50)},
       {"*192.168.1.20@WLAN", "10.0.0.5@Ethernet"}},
      {"no gateway at all: the first real address, link-local ones last",
       {Adapter(K::VirtualBox, "VirtualBox", {"192.168.56.1"}),
        Adapter(K::Ethernet, "Ethernet", {"169.254.7.7", "192.168.2.3"}),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"})},
       {"*192.168.2.3@Ethernet", "192.168.1.20@WLAN", "192.168.56.1@VirtualBox", "169.254.7.7@Ethernet ll"}},
      {"a gateway on an adapter with only a link-local address",
       {Adapter(K::Ethernet, "Ethernet", {"169.254.1.1"}, true, 1),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"})},
       {"*192.168.1.20@WLAN", "169.254.1.1@Ethernet ll"}},
      {"only link-local",
       {Adapter(K::HyperV, "vEthernet", {"169.254.9.9"}), Adapter(K::Ethernet, "Ethernet", {"169.254.3.4"})},
       {"169.254.9.9@vEthernet ll", "169.254.3.4@Ethernet ll"}},
      {"only virtual, gateways or not",
       {Adapter(K::HyperV, "vEthernet", {"172.29.0.1"}, true, 5),
        Adapter(K::Tunnel, "Tailscale", {"100.101.1.2"})},
       {"172.29.0.1@vEthernet", "100.101.1.2@Tailscale"}},
      {"adapters that are down show nothing",
       {Down(Adapter(K::Ethernet, "Ethernet", {"10.0.0.5"}, true, 1)),
        Down(Adapter(K::Ethernet, "Ethernet 2", {"10.0.1.5"})),
        Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 50)},
       {"*192.168.1.20@WLAN"}},
      {"127.x on a real adapter and the loopback adapter",
       {AdapterAddresses(true, true, {"127.0.0.1"}),
        Adapter(K::Ethernet, "Ethernet", {"127.0.1.1", "192.168.1.20"}, true, 0)},
       {"*192.168.1.20@Ethernet"}},
      {"the recommended adapter's second address goes with the other real ones",
       {Adapter(K::Docker, "docker0", {"172.17.0.1"}), Adapter(K::Ethernet, "eth0", {"10.0.0.5"}),
        Adapter(K::WiFi, "wlan0", {"192.168.1.20", "192.168.1.21"}, true, 600)},
       {"*192.168.1.20@wlan0", "10.0.0.5@eth0", "192.168.1.21@wlan0", "172.17.0.1@docker0"}},
      {"a Bluetooth tether's gateway yields to a real adapter without one",
       {Adapter(K::BluetoothPan, "Bluetooth", {"192.168.44.2"}, true, 1),
        Adapter(K::Ethernet, "Ethernet", {"192.168.2.3"})},
       {"*192.168.2.3@Ethernet", "192.168.44.2@Bluetooth"}},
      {"a USB modem is a real adapter",
       {Adapter(K::HyperV, "vEthernet", {"172.29.0.1"}),
        Adapter(K::Other, "手机网络", {"10.64.2.3"}, true, 10)},
       {"*10.64.2.3@手机网络", "172.29.0.1@vEthernet"}},
      {"the same address on a VPN stays listed",
       {Adapter(K::WiFi, "WLAN", {"192.168.1.20"}, true, 35), Adapter(K::Tunnel, "VPN", {"192.168.1.20"})},
       {"*192.168.1.20@WLAN", "192.168.1.20@VPN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> got;
    for (const ShownAddress& shown : RankAddresses(c.adapters)) {
      got.push_back((shown.recommended ? "*" : "") + shown.address + "@" + shown.adapter_name +
                    (shown.link_local ? " ll" : ""));
      // Each address carries its own adapter's kind and id.
      for (const AdapterAddresses& adapter : c.adapters) {
        if (adapter.name == shown.adapter_name) {
          EXPECT_EQ(shown.kind, adapter.kind) << shown.address;
          EXPECT_EQ(shown.adapter_id, adapter.id) << shown.address;
        }
      }
    }
    EXPECT_EQ(got, c.want);
  }
}

TEST(FindDefaultRoutesTest, TakesTheDefaultRoutesThatAreUp) {
  const std::string table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "tun0\t00000000\t0100080A\t0003\t0\t0\t0\t00000080\t0\t0\t0\n"
      "wlan1\t00000000\t0101A8C0\t0002\t0\t0\t50\t00000000\t0\t0\t0\n"
      "ppp0\t00000000\t00000000\t0001\t0\t0\t4294967295\t00000000\t0\t0\t0\n"
      "eth1\t00000000\t0100A8C0\t0003\t0\t0\t4294967296\t00000000\t0\t0\t0\n"
      "eth2\t00000000\t0100A8C0\t0003\t0\t0\t100\n"
      "not a route line at all\n"
      "\n"
      "wlan0 00000000 0101A8C0 0003 0 0 600 00000000 0 0 0";
  std::vector<std::pair<std::string, std::uint32_t>> got;
  for (const detail::DefaultRoute& route : detail::FindDefaultRoutes(table)) {
    got.emplace_back(route.interface_name, route.metric);
  }
  const std::vector<std::pair<std::string, std::uint32_t>> want = {
      {"eth0", 100}, {"ppp0", 4294967295u}, {"wlan0", 600}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(detail::FindDefaultRoutes("").empty());
}

}  // namespace
}  // namespace lumora
