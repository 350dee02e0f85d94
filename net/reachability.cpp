#include "net/reachability.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/product.h"
#include "base/utf8.h"
#include "log/log.h"

namespace lumora {
namespace {

constexpr int kProtocolTcp = 6;
constexpr int kProtocolAny = 256;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows compares paths without regard to case; ASCII folding covers the
// drive letters and folder names that differ in practice.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// True when `matches` holds for one of the comma-separated items of `list`,
// each trimmed.
template <typename Matches>
bool AnyItem(std::string_view list, Matches matches) {
  while (true) {
    const std::size_t comma = list.find(',');
    if (matches(Trim(list.substr(0, comma)))) {
      return true;
    }
    if (comma == std::string_view::npos) {
      return false;
    }
    list.remove_prefix(comma + 1);
  }
}

// A port number of digits only, 1 to 65535; keywords and stray text are not.
bool ParsePort(std::string_view text, unsigned& port) {
  if (text.empty() || text.size() > 5) {
    return false;
  }
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) {
    return false;
  }
  port = value;
  return true;
}

bool LocalPortsCover(std::string_view list, unsigned port) {
  list = Trim(list);
  if (list.empty()) {
    return true;
  }
  return AnyItem(list, [port](std::string_view item) {
    if (item == "*") {
      return true;
    }
    const std::size_t dash = item.find('-');
    unsigned low = 0;
    if (dash == std::string_view::npos) {
      return ParsePort(item, low) && low == port;
    }
    // "RPC-EPMap" has a dash too: both halves must be numbers.
    unsigned high = 0;
    return ParsePort(Trim(item.substr(0, dash)), low) && ParsePort(Trim(item.substr(dash + 1)), high) &&
           low <= port && port <= high;
  });
}

// A phone on the LAN is a remote address of the local subnet; a rule for named
// addresses says nothing certain about it either way.
bool RemoteAddressesTakeLan(std::string_view list) {
  list = Trim(list);
  if (list.empty()) {
    return true;
  }
  return AnyItem(
      list, [](std::string_view item) { return item == "*" || EqualIgnoringAsciiCase(item, "LocalSubnet"); });
}

bool Covers(const FirewallRule& rule, std::string_view program_path, unsigned port,
            std::uint32_t profile_mask) {
  return rule.enabled && rule.inbound && (rule.profiles & profile_mask) != 0 &&
         (rule.protocol == kProtocolTcp || rule.protocol == kProtocolAny) && rule.service.empty() &&
         (rule.application.empty() || EqualIgnoringAsciiCase(rule.application, program_path)) &&
         LocalPortsCover(rule.local_ports, port) && RemoteAddressesTakeLan(rule.remote_addresses);
}

std::uint32_t ProfileOf(NetworkCategory category) {
  switch (category) {
    case NetworkCategory::Public:
      return kFirewallPublic;
    case NetworkCategory::Private:
      return kFirewallPrivate;
    case NetworkCategory::Domain:
      return kFirewallDomain;
    case NetworkCategory::Unknown:
      break;
  }
  return 0;
}

NetworkCategory CategoryOf(std::uint32_t profile) {
  switch (profile) {
    case kFirewallPublic:
      return NetworkCategory::Public;
    case kFirewallPrivate:
      return NetworkCategory::Private;
    case kFirewallDomain:
      return NetworkCategory::Domain;
    default:
      return NetworkCategory::Unknown;
  }
}

const char* CategoryName(NetworkCategory category) {
  switch (category) {
    case NetworkCategory::Public:
      return "public";
    case NetworkCategory::Private:
      return "private";
    case NetworkCategory::Domain:
      return "domain";
    case NetworkCategory::Unknown:
      break;
  }
  return "unknown";
}

const char* RuleCoverName(RuleCover cover) {
  switch (cover) {
    case RuleCover::None:
      return "none";
    case RuleCover::Allows:
      return "allows";
    case RuleCover::Blocks:
      return "blocks";
    case RuleCover::Unknown:
      break;
  }
  return "unknown";
}

// The rules are the same for every profile: read once, and only when a
// profile's firewall is on (hundreds of rules take a while to enumerate).
class RuleCache {
 public:
  explicit RuleCache(detail::ReachabilitySource& source) : source_(source) {}
  const std::vector<FirewallRule>* Get() {
    if (!tried_) {
      tried_ = true;
      read_ = source_.Rules(rules_);
    }
    return read_ ? &rules_ : nullptr;
  }
  std::size_t count() const { return rules_.size(); }

 private:
  detail::ReachabilitySource& source_;
  bool tried_ = false;
  bool read_ = false;
  std::vector<FirewallRule> rules_;
};

// The firewall fields for one profile. Any policy value that cannot be read
// leaves the whole policy unknown: a half-read policy is no all-clear.
ReachabilityFacts ReadProfile(detail::ReachabilitySource& source, RuleCache& rules, std::uint32_t profile,
                              const std::string& program_path, unsigned port) {
  ReachabilityFacts facts;
  bool on = false;
  if (!source.FirewallEnabled(profile, on)) {
    return facts;
  }
  if (!on) {
    // Nothing else of the profile matters while its firewall is off.
    facts.firewall_known = true;
    return facts;
  }
  bool blocks_all = false;
  bool blocked_by_default = true;
  if (!source.BlocksAllInbound(profile, blocks_all) ||
      !source.InboundBlockedByDefault(profile, blocked_by_default)) {
    return facts;
  }
  facts.firewall_known = true;
  facts.firewall_on = true;
  facts.blocks_all_inbound = blocks_all;
  facts.inbound_blocked_by_default = blocked_by_default;
  if (const std::vector<FirewallRule>* read = rules.Get()) {
    facts.rule = JudgeRules(*read, program_path, port, profile);
  }
  return facts;
}

int Severity(FirewallVerdict verdict) {
  switch (verdict) {
    case FirewallVerdict::Open:
      return 0;
    case FirewallVerdict::Unknown:
      return 1;
    case FirewallVerdict::Blocks:
      return 2;
  }
  return 1;
}

}  // namespace

RuleCover JudgeRules(const std::vector<FirewallRule>& rules, std::string_view program_path, unsigned port,
                     std::uint32_t profile_mask) {
  RuleCover cover = RuleCover::None;
  for (const FirewallRule& rule : rules) {
    if (!Covers(rule, program_path, port, profile_mask)) {
      continue;
    }
    if (!rule.allow) {
      return RuleCover::Blocks;
    }
    cover = RuleCover::Allows;
  }
  return cover;
}

FirewallVerdict JudgeFirewall(const ReachabilityFacts& facts) {
  if (!facts.firewall_known) {
    return FirewallVerdict::Unknown;
  }
  if (!facts.firewall_on) {
    return FirewallVerdict::Open;
  }
  if (facts.blocks_all_inbound || facts.rule == RuleCover::Blocks) {
    return FirewallVerdict::Blocks;
  }
  // Rules that could not be read may hold a block rule even where the
  // default lets connections in: that is no all-clear.
  if (facts.rule == RuleCover::Unknown) {
    return FirewallVerdict::Unknown;
  }
  if (facts.inbound_blocked_by_default && facts.rule == RuleCover::None) {
    return FirewallVerdict::Blocks;
  }
  return FirewallVerdict::Open;
}

std::string FirewallRuleArguments(std::string_view program_path) {
  if (program_path.empty() || program_path.back() == '\\') {
    return {};
  }
  for (std::size_t pos = 0; pos < program_path.size();) {
    const std::size_t length = Utf8SequenceLength(program_path, pos);
    if (length == 0) {
      return {};
    }
    const char32_t c = DecodeUtf8(program_path, pos, length);
    if (c == U'"' || c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      return {};
    }
    pos += length;
  }
  std::string arguments =
      "advfirewall firewall add rule name=\"" PARLINO_PRODUCT_NAME_TEXT "\" dir=in action=allow program=\"";
  arguments.append(program_path);
  arguments += "\" protocol=TCP profile=private enable=yes";
  return arguments;
}

namespace detail {

ReachabilityFacts CollectReachability(ReachabilitySource& source, const std::string& adapter_id,
                                      const std::string& program_path, unsigned port) {
  ReachabilityFacts facts;
  source.ReadNetwork(adapter_id, facts.category, facts.network_name);
  std::vector<std::uint32_t> profiles;
  if (facts.category != NetworkCategory::Unknown) {
    profiles.push_back(ProfileOf(facts.category));
  } else if (std::uint32_t current = 0; source.CurrentProfiles(current)) {
    for (const std::uint32_t profile : {kFirewallDomain, kFirewallPrivate, kFirewallPublic}) {
      if ((current & profile) != 0) {
        profiles.push_back(profile);
      }
    }
    if (profiles.size() == 1) {
      facts.category = CategoryOf(profiles.front());
    }
  }
  // With several profiles in force and no telling which one is ours, the
  // strictest answer stands: blocking in one of them, else unknown in one.
  RuleCache rules(source);
  ReachabilityFacts chosen;
  std::uint32_t chosen_profile = 0;
  for (const std::uint32_t profile : profiles) {
    ReachabilityFacts one = ReadProfile(source, rules, profile, program_path, port);
    if (chosen_profile == 0 || Severity(JudgeFirewall(one)) > Severity(JudgeFirewall(chosen))) {
      chosen = one;
      chosen_profile = profile;
    }
    if (JudgeFirewall(chosen) == FirewallVerdict::Blocks) {
      break;
    }
  }
  facts.firewall_known = chosen.firewall_known;
  facts.firewall_on = chosen.firewall_on;
  facts.blocks_all_inbound = chosen.blocks_all_inbound;
  facts.inbound_blocked_by_default = chosen.inbound_blocked_by_default;
  facts.rule = chosen.rule;

  std::string line = "Reachability: network " + std::string(CategoryName(facts.category)) + " \"" +
                     LogSafeText(facts.network_name) + "\", firewall profile " +
                     std::to_string(chosen_profile);
  if (!facts.firewall_known) {
    line += " unknown";
  } else {
    line += facts.firewall_on ? " on" : " off";
    line += ", block all " + std::to_string(facts.blocks_all_inbound ? 1 : 0) + ", blocked by default " +
            std::to_string(facts.inbound_blocked_by_default ? 1 : 0) + ", rules " +
            RuleCoverName(facts.rule) + " (" + std::to_string(rules.count()) + " read)";
  }
  Log(LogLevel::Warn, "APP", line);
  return facts;
}

}  // namespace detail

}  // namespace lumora
