#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "net/addresses.h"
#include "net/server.h"

namespace lumora {

// A phone as it is remembered, from what the PC learnt of it at its hello:
// the client name (cut to what the settings file keeps), the hardware address
// from the neighbour table, the IPv4 address.
KnownPhone IdentifyPhone(const PhoneHello& hello);

// Whether `seen` is the remembered phone `known`: the same client name, and
// the same hardware address when both are known, else the same IPv4 address.
// So another device that later gets the phone's address is asked again; a
// device that copies both its name and its hardware address is not told apart.
bool IsSamePhone(const KnownPhone& known, const KnownPhone& seen);

// Adds `phone` at the end of the list, dropping an older entry for the same
// phone (its address may have changed) and, beyond kMaxKnownPhones, the
// oldest ones.
void RememberPhone(std::vector<KnownPhone>& known, KnownPhone phone);

// Which phones may type, for the server's gate. The accept thread asks; the
// UI thread tells it the user's settings. Safe from any thread.
class PhoneGate {
 public:
  using SubnetQuery = std::function<std::vector<Ipv4Subnet>()>;
  // `own_subnets` tells the subnets of the PC's adapters; asked only for a
  // source outside the private ranges.
  explicit PhoneGate(SubnetQuery own_subnets);

  void Configure(const AppConfig& config);

  // Loopback, the private, link-local and carrier-grade NAT ranges, and the
  // subnets of the PC's own adapters.
  bool AcceptSource(std::uint32_t address) const;
  // Serve when the user does not want to be asked or knows the phone; hold
  // it for the user's answer otherwise.
  Admission Admit(const PhoneHello& hello) const;

 private:
  const SubnetQuery own_subnets_;
  mutable std::mutex mutex_;  // guards the settings below
  bool confirm_new_phones_ = true;
  std::vector<KnownPhone> known_phones_;
};

}  // namespace lumora
