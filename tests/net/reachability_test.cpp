#include "net/reachability.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumora {
namespace {

using FR = FirewallRule;
constexpr char kPath[] = "C:\\Program Files\\Lumora\\LumoraVoiceInput.exe";
constexpr unsigned kPort = 47823;

// An enabled inbound TCP allow rule for this program, its port and the LAN on
// the Private profile, with one field changed.
template <typename T = int, typename U = int>
FirewallRule Allow(T FR::*field = nullptr, U value = {}) {
  FirewallRule rule;
  rule.enabled = rule.inbound = rule.allow = true;
  rule.profiles = kFirewallPrivate;
  rule.protocol = 6;
  rule.application = kPath;
  rule.local_ports = "47823";
  rule.remote_addresses = "LocalSubnet";
  if (field != nullptr) {
    rule.*field = value;
  }
  return rule;
}

template <typename T = int, typename U = int>
FirewallRule Block(T FR::*field = nullptr, U value = {}) {
  FirewallRule rule = Allow(field, value);
  rule.allow = false;
  return rule;
}

TEST(JudgeRulesTest, Table) {
  const struct {
    const char* name;
    std::vector<FirewallRule> rules;
    RuleCover want;
  } cases[] = {
      {"no rules", {}, RuleCover::None},
      {"a covering allow rule", {Allow()}, RuleCover::Allows},
      {"the path in another case",
       {Allow(&FR::application, "c:\\PROGRAM FILES\\lumora\\LumoraVoiceInput.EXE")},
       RuleCover::Allows},
      {"another program", {Allow(&FR::application, "C:\\Program Files\\Other\\Other.exe")}, RuleCover::None},
      {"a longer path", {Allow(&FR::application, std::string(kPath) + ".bak")}, RuleCover::None},
      {"any program", {Allow(&FR::application, "")}, RuleCover::Allows},
      {"a service's rule", {Allow(&FR::service, "Dnscache")}, RuleCover::None},
      {"any port", {Allow(&FR::local_ports, "*")}, RuleCover::Allows},
      {"no port list", {Allow(&FR::local_ports, "")}, RuleCover::Allows},
      {"the port in a list", {Allow(&FR::local_ports, "80, 47823")}, RuleCover::Allows},
      {"the port in a range", {Allow(&FR::local_ports, "1000-2000,47000-48000")}, RuleCover::Allows},
      {"a range of the port alone", {Allow(&FR::local_ports, "47823-47823")}, RuleCover::Allows},
      {"a range above it", {Allow(&FR::local_ports, "47824-48000")}, RuleCover::None},
      {"a range below it", {Allow(&FR::local_ports, "47000-47822")}, RuleCover::None},
      {"a reversed range", {Allow(&FR::local_ports, "48000-47000")}, RuleCover::None},
      {"another port", {Allow(&FR::local_ports, "4782")}, RuleCover::None},
      {"digits past the port", {Allow(&FR::local_ports, "478230")}, RuleCover::None},
      {"a keyword", {Allow(&FR::local_ports, "RPC")}, RuleCover::None},
      {"a keyword with a dash", {Allow(&FR::local_ports, "RPC-EPMap")}, RuleCover::None},
      {"UDP only", {Allow(&FR::protocol, 17)}, RuleCover::None},
      {"any protocol", {Allow(&FR::protocol, 256)}, RuleCover::Allows},
      {"disabled", {Allow(&FR::enabled, false)}, RuleCover::None},
      {"outbound", {Allow(&FR::inbound, false)}, RuleCover::None},
      {"other profiles", {Allow(&FR::profiles, kFirewallPublic | kFirewallDomain)}, RuleCover::None},
      {"all profiles", {Allow(&FR::profiles, 0x7FFFFFFFu)}, RuleCover::Allows},
      {"any remote address", {Allow(&FR::remote_addresses, "*")}, RuleCover::Allows},
      {"no remote list", {Allow(&FR::remote_addresses, "")}, RuleCover::Allows},
      {"the local subnet in a list",
       {Allow(&FR::remote_addresses, "10.0.0.1/255.255.255.255, localsubnet")},
       RuleCover::Allows},
      {"a named remote address", {Allow(&FR::remote_addresses, "192.168.1.5")}, RuleCover::None},
      {"a block for a named address",
       {Allow(), Block(&FR::remote_addresses, "192.168.1.5")},
       RuleCover::Allows},
      {"a covering block rule", {Block()}, RuleCover::Blocks},
      {"block wins over an earlier allow", {Allow(), Block()}, RuleCover::Blocks},
      {"block wins over a later allow", {Block(&FR::application, ""), Allow()}, RuleCover::Blocks},
      {"a block for another program", {Block(&FR::application, "C:\\x.exe"), Allow()}, RuleCover::Allows},
      {"a disabled block rule", {Block(&FR::enabled, false), Allow()}, RuleCover::Allows},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeRules(c.rules, kPath, kPort, kFirewallPrivate), c.want);
  }
}

TEST(FirewallRuleArgumentsTest, Table) {
  const struct {
    const char* name;
    std::string path;
    std::string want;  // empty: refused
  } cases[] = {
      {"a plain path", "C:\\x\\LumoraVoiceInput.exe",
       "advfirewall firewall add rule name=\"Lumora语音输入\" dir=in action=allow "
       "program=\"C:\\x\\LumoraVoiceInput.exe\" protocol=TCP profile=private enable=yes"},
      {"spaces and Chinese", "C:\\Program Files\\语音 输入\\LumoraVoiceInput.exe",
       "advfirewall firewall add rule name=\"Lumora语音输入\" dir=in action=allow "
       "program=\"C:\\Program Files\\语音 输入\\LumoraVoiceInput.exe\" protocol=TCP profile=private "
       "enable=yes"},
      {"empty", "", ""},
      {"a quote", "C:\\x\" dir=out \"\\a.exe", ""},
      {"a line break", "C:\\x\n\\a.exe", ""},
      {"a tab", "C:\\x\t\\a.exe", ""},
      {"a C1 control", "C:\\x\xC2\x85\\a.exe", ""},
      {"not UTF-8", "C:\\x\xFF\\a.exe", ""},
      {"a trailing backslash", "C:\\x\\", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FirewallRuleArguments(c.path), c.want);
  }
}

// One profile's answers (enabled, blocks all, blocked by default); nullopt:
// the system did not answer.
using Policy = std::vector<std::optional<bool>>;

// Answers as configured and records what it was asked.
class RecordingSource final : public detail::ReachabilitySource {
 public:
  NetworkCategory category = NetworkCategory::Unknown;
  std::optional<std::uint32_t> current;
  std::map<std::uint32_t, Policy> policies;
  std::optional<std::vector<FirewallRule>> rules;

  std::string asked_adapter;
  bool current_asked = false;
  std::uint32_t policies_asked = 0;  // the profiles whose firewall state was asked
  int rules_asked = 0;

  void ReadNetwork(const std::string& adapter_id, NetworkCategory& out, std::string& name) override {
    asked_adapter = adapter_id;
    out = category;
    name = category == NetworkCategory::Unknown ? "" : "Home";
  }
  bool CurrentProfiles(std::uint32_t& out) override {
    current_asked = true;
    return Answer(current, out);
  }
  bool FirewallEnabled(std::uint32_t profile, bool& out) override {
    policies_asked |= profile;
    return Answer(Field(profile, 0), out);
  }
  bool BlocksAllInbound(std::uint32_t profile, bool& out) override { return Answer(Field(profile, 1), out); }
  bool InboundBlockedByDefault(std::uint32_t profile, bool& out) override {
    return Answer(Field(profile, 2), out);
  }
  bool Rules(std::vector<FirewallRule>& out) override {
    ++rules_asked;
    return Answer(rules, out);
  }

 private:
  std::optional<bool> Field(std::uint32_t profile, std::size_t i) {
    const Policy& policy = policies[profile];
    return i < policy.size() ? policy[i] : std::nullopt;
  }
  template <typename T>
  static bool Answer(const std::optional<T>& value, T& out) {
    if (value) {
      out = *value;
    }
    return value.has_value();
  }
};

TEST(CollectReachabilityTest, ChoosesTheProfileAndAddsUpItsAnswers) {
  constexpr std::uint32_t kDomain = kFirewallDomain, kPrivate = kFirewallPrivate, kPublic = kFirewallPublic;
  using Cat = NetworkCategory;
  const Policy open = {true, false, false}, closed = {true, false, true}, off = {false}, unread = {};
  const std::vector<FirewallRule> allow = {Allow()};  // on the Private profile
  // The firewall facts: known, on, blocks all, blocked by default, rule.
  struct Want {
    bool known, on, all, by_default;
    RuleCover rule;
  };
  const struct {
    const char* name;
    Cat network;
    std::optional<std::uint32_t> current;
    std::map<std::uint32_t, Policy> policies;
    std::optional<std::vector<FirewallRule>> rules;
    Cat category;
    Want want;
    std::uint32_t asked;  // the profiles whose policy was read
    int rules_asked;
  } cases[] = {
      // clang-format off
      {"the network's category picks the profile", Cat::Private, kPublic, {{kPrivate, closed}, {kPublic, off}},
       allow, Cat::Private, {true, true, false, true, RuleCover::Allows}, kPrivate, 1},
      {"one current profile stands in for the category", Cat::Unknown, kPublic, {{kPublic, closed}},
       allow, Cat::Public, {true, true, false, true, RuleCover::None}, kPublic, 1},
      {"of several profiles a blocking one counts", Cat::Unknown, kPrivate | kPublic,
       {{kPrivate, closed}, {kPublic, closed}}, allow,
       Cat::Unknown, {true, true, false, true, RuleCover::None}, kPrivate | kPublic, 1},
      {"of several profiles an unread one counts", Cat::Unknown, kDomain | kPrivate,
       {{kDomain, unread}, {kPrivate, open}}, allow,
       Cat::Unknown, {false, false, false, true, RuleCover::Unknown}, kDomain | kPrivate, 1},
      {"several profiles, all open", Cat::Unknown, kDomain | kPrivate, {{kDomain, off}, {kPrivate, closed}},
       allow, Cat::Unknown, {true, false, false, true, RuleCover::Unknown}, kDomain | kPrivate, 1},
      {"no category and no current profile", Cat::Unknown, std::nullopt, {{kPrivate, closed}},
       allow, Cat::Unknown, {false, false, false, true, RuleCover::Unknown}, 0, 0},
      {"a firewall that is off needs no rules", Cat::Private, std::nullopt, {{kPrivate, off}},
       allow, Cat::Private, {true, false, false, true, RuleCover::Unknown}, kPrivate, 0},
      {"a half-read policy is unknown", Cat::Private, std::nullopt, {{kPrivate, {true, false}}},
       allow, Cat::Private, {false, false, false, true, RuleCover::Unknown}, kPrivate, 0},
      {"everything blocked", Cat::Public, std::nullopt, {{kPublic, {true, true, true}}},
       allow, Cat::Public, {true, true, true, true, RuleCover::None}, kPublic, 1},
      {"rules that cannot be read", Cat::Domain, std::nullopt, {{kDomain, open}},
       std::nullopt, Cat::Domain, {true, true, false, false, RuleCover::Unknown}, kDomain, 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSource source;
    source.category = c.network;
    source.current = c.current;
    source.policies = c.policies;
    source.rules = c.rules;
    const ReachabilityFacts facts = detail::CollectReachability(source, "{ADAPTER}", kPath, kPort);
    EXPECT_EQ(source.asked_adapter, "{ADAPTER}");
    EXPECT_EQ(facts.category, c.category);
    EXPECT_EQ(facts.network_name, c.network == Cat::Unknown ? "" : "Home");
    EXPECT_EQ(facts.firewall_known, c.want.known);
    EXPECT_EQ(facts.firewall_on, c.want.on);
    EXPECT_EQ(facts.blocks_all_inbound, c.want.all);
    EXPECT_EQ(facts.inbound_blocked_by_default, c.want.by_default);
    EXPECT_EQ(facts.rule, c.want.rule);
    EXPECT_EQ(source.current_asked, c.network == Cat::Unknown);
    EXPECT_EQ(source.policies_asked, c.asked);
    EXPECT_EQ(source.rules_asked, c.rules_asked);
  }
}

}  // namespace
}  // namespace lumora
