#include <string>

#include "net/reachability.h"

namespace lumora {

// No network list and no Windows Firewall to ask: every fact stays unknown,
// which the diagnosis reports as "cannot check", never as open.
ReachabilityFacts QueryReachability(const std::string& /*adapter_id*/, const std::string& /*program_path*/,
                                    unsigned /*port*/) {
  return {};
}

}  // namespace lumora
