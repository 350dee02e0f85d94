#include "core/connection_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

using V = ConnectionDiagnosis::Verdict;
using Cat = NetworkCategory;
using R = RuleCover;

// The firewall of the profile: not read, off, on and blocking or allowing by
// default, on and blocking all inbound.
enum class Fw { Unread, Off, On, OnOpen, AllIn };
enum class O { No, Rule, Net };  // the button offered: none, the allow rule, the network settings

ReachabilityFacts F(Cat category, Fw firewall, R rule, const char* name = "咖啡馆") {
  ReachabilityFacts facts;
  facts.category = category;
  facts.network_name = name;
  facts.firewall_known = firewall != Fw::Unread;
  facts.firewall_on = firewall != Fw::Unread && firewall != Fw::Off;
  facts.blocks_all_inbound = firewall == Fw::AllIn;
  facts.inbound_blocked_by_default = firewall != Fw::OnOpen;
  facts.rule = rule;
  return facts;
}

TEST(DiagnoseConnectionTest, Table) {
  // Each line is told by a few words of its own.
  const std::string kPublic = "是公用网络", kButton = "请点「允许手机连接」", kDomain = "单位的域网络",
                    kBlockRule = "有一条规则阻止本程序", kBlockAll = "设置为阻止所有传入连接",
                    kCategory = "网络类型：无法检查", kFirewall = "防火墙：无法检查",
                    kSeeYourself = "自行查看", kCan = "可以连接", kSameWifi = "同一个 Wi-Fi（";
  const std::vector<std::string> kOpen = {kCan, kSameWifi}, kFirewallUnread = {kFirewall, kSeeYourself};
  struct Case {
    const char* name;
    ReachabilityFacts facts;
    V verdict;
    O offer;
    std::vector<std::string> lines;  // a distinctive part of each line, in order
    bool has_network = true;
  };
  const Case cases[] = {
      {"no network", F(Cat::Private, Fw::On, R::Allows), V::Blocked, O::No, {"没有网络"}, false},
      {"no network, nothing read", {}, V::Blocked, O::No, {"没有网络"}, false},
      {"private, no rule", F(Cat::Private, Fw::On, R::None), V::Blocked, O::Rule, {kButton}},
      {"private, a rule allows", F(Cat::Private, Fw::On, R::Allows), V::CanConnect, O::No, kOpen},
      {"private, open by default", F(Cat::Private, Fw::OnOpen, R::None), V::CanConnect, O::No, kOpen},
      {"private, firewall off", F(Cat::Private, Fw::Off, R::Unknown), V::CanConnect, O::No, kOpen},
      {"private, a block rule", F(Cat::Private, Fw::On, R::Blocks), V::Blocked, O::No, {kBlockRule}},
      {"private, open, a block rule",
       F(Cat::Private, Fw::OnOpen, R::Blocks),
       V::Blocked,
       O::No,
       {kBlockRule}},
      {"private, block all, an allow", F(Cat::Private, Fw::AllIn, R::Allows), V::Blocked, O::No, {kBlockAll}},
      {"private, block all, a block",
       F(Cat::Private, Fw::AllIn, R::Blocks),
       V::Blocked,
       O::No,
       {kBlockRule, kBlockAll}},
      {"private, block all, rules unread",
       F(Cat::Private, Fw::AllIn, R::Unknown),
       V::Blocked,
       O::No,
       {kBlockAll}},
      {"private, rules unread", F(Cat::Private, Fw::On, R::Unknown), V::Unknown, O::No, kFirewallUnread},
      {"private, open, rules unread", F(Cat::Private, Fw::OnOpen, R::Unknown), V::Unknown, O::No,
       kFirewallUnread},
      {"private, firewall unread", F(Cat::Private, Fw::Unread, R::Unknown), V::Unknown, O::No,
       kFirewallUnread},
      {"public by name", F(Cat::Public, Fw::On, R::None), V::Blocked, O::Net, {"网络「咖啡馆」" + kPublic}},
      {"public without a name",
       F(Cat::Public, Fw::On, R::None, ""),
       V::Blocked,
       O::Net,
       {"「当前网络」" + kPublic}},
      {"public, a rule allows", F(Cat::Public, Fw::On, R::Allows), V::CanConnect, O::No, kOpen},
      {"public, firewall off", F(Cat::Public, Fw::Off, R::Unknown), V::CanConnect, O::No, kOpen},
      {"public, block all", F(Cat::Public, Fw::AllIn, R::Allows), V::Blocked, O::Net, {kPublic, kBlockAll}},
      {"public, a block rule", F(Cat::Public, Fw::On, R::Blocks), V::Blocked, O::Net, {kPublic, kBlockRule}},
      {"public, rules unread: the likely cause and its fix",
       F(Cat::Public, Fw::On, R::Unknown),
       V::Unknown,
       O::Net,
       {kPublic, kFirewall, kSeeYourself}},
      {"domain, no rule", F(Cat::Domain, Fw::On, R::None), V::Blocked, O::No, {kDomain}},
      {"domain, a rule allows", F(Cat::Domain, Fw::On, R::Allows), V::CanConnect, O::No, kOpen},
      {"domain, a block rule", F(Cat::Domain, Fw::On, R::Blocks), V::Blocked, O::No, {kBlockRule}},
      {"category unread, no rule: no button to point at",
       F(Cat::Unknown, Fw::On, R::None),
       V::Blocked,
       O::No,
       {"允许应用通过防火墙", kCategory}},
      {"category unread, open",
       F(Cat::Unknown, Fw::On, R::Allows),
       V::Unknown,
       O::No,
       {kCategory, kSeeYourself}},
      {"nothing read", {}, V::Unknown, O::No, {kCategory, kFirewall, kSeeYourself}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ConnectionDiagnosis diagnosis = DiagnoseConnection(c.has_network, c.facts);
    EXPECT_EQ(diagnosis.verdict, c.verdict);
    EXPECT_EQ(diagnosis.offer_firewall_rule, c.offer == O::Rule);
    EXPECT_EQ(diagnosis.offer_network_settings, c.offer == O::Net);
    ASSERT_EQ(diagnosis.lines.size(), c.lines.size());
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_NE(diagnosis.lines[i].find(c.lines[i]), std::string::npos) << diagnosis.lines[i];
    }
  }
}

}  // namespace
}  // namespace lumora
