#pragma once

// Can a phone on the LAN reach this program? The facts Windows holds about it
// (the network's category, the firewall's profile for it, the rules), read
// without changing anything. A question the system does not answer leaves its
// fact unknown, never "open".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

enum class NetworkCategory { Unknown, Public, Private, Domain };

// The firewall profiles as Windows numbers them (NET_FW_PROFILE2_*): a rule's
// profile mask uses these bits.
inline constexpr std::uint32_t kFirewallDomain = 1;
inline constexpr std::uint32_t kFirewallPrivate = 2;
inline constexpr std::uint32_t kFirewallPublic = 4;

// One rule as the platform reports it (strings UTF-8).
struct FirewallRule {
  bool enabled = false;
  bool inbound = false;
  bool allow = false;            // false: block
  std::uint32_t profiles = 0;    // mask of the bits above (all profiles: 0x7FFFFFFF)
  int protocol = 256;            // 6 TCP, 17 UDP, 256 any
  std::string application;       // full path (environment strings already expanded), empty: any program
  std::string service;           // a service name limits the rule to that service: then it never covers us
  std::string local_ports;       // "", "*", "47823", "1000-2000,47823"; keywords like "RPC" never match
  std::string remote_addresses;  // "", "*", "LocalSubnet", addresses...: see JudgeRules
};

enum class RuleCover { Unknown /*rules not read*/, None, Allows, Blocks };

// The enabled inbound TCP rules for `profile_mask` (their profiles share a bit
// with it) that cover this program (application empty or the same path,
// compared case-insensitively; no service) on `port` (local_ports empty, "*"
// or containing it), and whose remote addresses take a phone on the LAN ("",
// "*", or containing "LocalSubnet"; other lists are not counted either way).
// A covering block rule wins over any allow rule, as in Windows Firewall.
RuleCover JudgeRules(const std::vector<FirewallRule>& rules, std::string_view program_path, unsigned port,
                     std::uint32_t profile_mask);

struct ReachabilityFacts {
  NetworkCategory category = NetworkCategory::Unknown;
  std::string network_name;     // the network's name as Windows shows it (UTF-8), may be empty
  bool firewall_known = false;  // the policy for the profile could be read
  bool firewall_on = false;
  bool blocks_all_inbound = false;  // "block all incoming connections, including allowed apps"
  bool inbound_blocked_by_default = true;
  RuleCover rule = RuleCover::Unknown;
};

// What the firewall fields of `facts` add up to: it blocks when it is on and
// blocks everything, or a rule blocks, or it blocks by default and no rule
// allows; it is unknown when its policy was not read, or when only the
// unread rules could decide.
enum class FirewallVerdict { Open, Blocks, Unknown };
FirewallVerdict JudgeFirewall(const ReachabilityFacts& facts);

// For the network of the adapter `adapter_id` (GetAdaptersAddresses'
// AdapterName "{GUID}"): its category and name from the network list, and the
// firewall's policy and rules for the profile of that category. When the
// category cannot be read, the firewall's current profile stands in for it
// when exactly one is current; with several, the category stays unknown and
// the firewall is judged for each (it blocks if it blocks in any). Every
// failing call leaves its fact unknown. Reads dozens to hundreds of rules:
// meant for a worker thread. Posix: everything unknown.
ReachabilityFacts QueryReachability(const std::string& adapter_id, const std::string& program_path,
                                    unsigned port);

// The arguments for netsh.exe that add the one allow rule: inbound, allow,
// this program's path, TCP, the Private profile only, enabled, named after the
// product. Empty when the path cannot be passed safely: empty, not UTF-8, a
// quote, a control character, or a trailing backslash (which would escape the
// closing quote).
std::string FirewallRuleArguments(std::string_view program_path);

namespace detail {

// The questions QueryReachability asks of the system, one a call, so that the
// choice of profile and the way their answers add up run against a fake.
// Each answer is false when the system did not give it.
class ReachabilitySource {
 public:
  virtual ~ReachabilitySource() = default;
  // The category and name of the network that `adapter_id` is connected to;
  // the category stays Unknown when it cannot be read.
  virtual void ReadNetwork(const std::string& adapter_id, NetworkCategory& category, std::string& name) = 0;
  // The firewall profiles in force now (a mask of the kFirewall* bits).
  virtual bool CurrentProfiles(std::uint32_t& profiles) = 0;
  // The policy of one profile (a single kFirewall* bit).
  virtual bool FirewallEnabled(std::uint32_t profile, bool& enabled) = 0;
  virtual bool BlocksAllInbound(std::uint32_t profile, bool& blocks) = 0;
  virtual bool InboundBlockedByDefault(std::uint32_t profile, bool& blocked) = 0;
  // Every rule, all profiles and directions.
  virtual bool Rules(std::vector<FirewallRule>& rules) = 0;
};

// QueryReachability's decisions over `source`.
ReachabilityFacts CollectReachability(ReachabilitySource& source, const std::string& adapter_id,
                                      const std::string& program_path, unsigned port);

}  // namespace detail

}  // namespace lumora
