#include "ui/connection_view.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace lumora {
namespace {

ShownAddress Address(const char* text, AdapterKind kind, bool recommended, bool link_local = false,
                     const char* name = "") {
  ShownAddress address;
  address.address = text;
  address.kind = kind;
  address.recommended = recommended;
  address.link_local = link_local;
  address.adapter_name = name;
  return address;
}

TEST(ConnectionViewTest, EachAddressSaysWhatItIs) {
  struct Case {
    ShownAddress address;
    std::u16string line;
  };
  const Case cases[] = {
      {Address("192.168.1.5", AdapterKind::WiFi, true, false, "WLAN"), u"192.168.1.5:47823（推荐）"},
      {Address("169.254.7.1", AdapterKind::Ethernet, false, true, "以太网"),
       u"169.254.7.1:47823（没有网络）"},
      {Address("172.20.0.1", AdapterKind::HyperV, false, false, "vEthernet (WSL)"),
       u"172.20.0.1:47823（" + AdapterKindWords(AdapterKind::HyperV) + u"）"},
      {Address("10.0.0.7", AdapterKind::Ethernet, false, false, "以太网 2"), u"10.0.0.7:47823（以太网 2）"},
      {Address("10.0.0.8", AdapterKind::Other, false), u"10.0.0.8:47823"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddressLine(c.address, 47823), c.line) << c.address.address;
  }
  for (const AdapterKind kind : {AdapterKind::HyperV, AdapterKind::VirtualBox, AdapterKind::VMware,
                                 AdapterKind::Tunnel, AdapterKind::BluetoothPan, AdapterKind::Docker}) {
    EXPECT_FALSE(AdapterKindWords(kind).empty()) << static_cast<int>(kind);
  }
  EXPECT_EQ(AddressLines({}, 47823), std::vector<std::u16string>{u"（无可用网络接口）"});
}

TEST(ConnectionViewTest, TheTipAndTheNoticeFollowTheAddressToType) {
  const std::vector<ShownAddress> only_virtual = {Address("172.20.0.1", AdapterKind::HyperV, false)};
  EXPECT_EQ(TipAddressLine({Address("192.168.1.5", AdapterKind::WiFi, true)}), u"地址 192.168.1.5");
  EXPECT_EQ(TipAddressLine(only_virtual), u"地址：没有网络");
  EXPECT_FALSE(RecommendedAddress(only_virtual).has_value());

  struct Case {
    const char* before;
    const char* now;
    std::optional<std::u16string> text;  // nullopt: no notice
  };
  const Case cases[] = {
      {"192.168.1.5", "192.168.1.5", std::nullopt},
      {"", "", std::nullopt},
      {"192.168.1.5", "192.168.1.7", u"192.168.1.7:50000"},
      {"", "10.0.0.3", u"10.0.0.3:50000"},
      {"192.168.1.5", "", u"Wi-Fi"},
  };
  for (const Case& c : cases) {
    const std::optional<AddressNotice> notice = AddressChangeNotice(c.before, c.now, 50000);
    ASSERT_EQ(notice.has_value(), c.text.has_value()) << c.before << " -> " << c.now;
    if (notice) {
      EXPECT_NE(notice->text.find(*c.text), std::u16string::npos) << c.before << " -> " << c.now;
    }
  }
}

TEST(ConnectionViewTest, APortNobodyServesIsNeverCalledReachable) {
  ConnectionDiagnosis clear;
  clear.verdict = ConnectionDiagnosis::Verdict::CanConnect;
  clear.lines = {"可以连接", "hint"};
  ConnectionDiagnosis blocked;
  blocked.verdict = ConnectionDiagnosis::Verdict::Blocked;
  blocked.lines = {"firewall"};
  blocked.offer_firewall_rule = true;
  const std::vector<ShownAddress> ranked = {Address("192.168.1.5", AdapterKind::WiFi, true)};

  EXPECT_EQ(CheckedView(47823, true, ranked, clear).diagnosis, u"可以连接\nhint");
  const ConnectionView idle = CheckedView(47823, false, ranked, clear);
  EXPECT_EQ(idle.diagnosis.find(u"可以连接"), std::u16string::npos);
  EXPECT_NE(idle.heading, CheckedView(47823, true, ranked, clear).heading);
  const ConnectionView idle_blocked = CheckedView(47823, false, ranked, blocked);
  EXPECT_NE(idle_blocked.diagnosis.find(u"\nfirewall"), std::u16string::npos);
  EXPECT_TRUE(idle_blocked.offer_firewall_rule);
}

}  // namespace
}  // namespace lumora
