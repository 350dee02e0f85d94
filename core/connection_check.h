#pragma once

// Why a phone cannot reach this program, in words for the user: the facts of
// the network and the firewall turned into a verdict, the lines that explain
// it and the buttons that can fix it.

#include <string>
#include <vector>

#include "net/reachability.h"

namespace lumora {

struct ConnectionDiagnosis {
  enum class Verdict { CanConnect, Blocked, Unknown } verdict = Verdict::Unknown;
  std::vector<std::string> lines;  // UTF-8, shown in order, each a sentence or two
  bool offer_firewall_rule = false;  // the "允许手机连接" button: the firewall blocks on a Private network
  bool offer_network_settings = false;  // the button that opens Windows' network settings: Public network
};

// has_network: a usable (recommended) address exists. A fact that could not
// be read makes the verdict Unknown, never CanConnect. The program never
// changes a network's category and never opens the Public profile: on a
// Public network the user is sent to the network settings.
ConnectionDiagnosis DiagnoseConnection(bool has_network, const ReachabilityFacts& facts);

}  // namespace lumora
