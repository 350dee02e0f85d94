#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
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

// An unknown device that keeps asking to type is not asked about every time:
// its kKnockLimit-th request within kKnockWindow from one address is refused,
// and so is every request from that address for kKnockPause after it.
inline constexpr std::size_t kKnockLimit = 3;
inline constexpr std::chrono::seconds kKnockWindow{60};
inline constexpr std::chrono::minutes kKnockPause{10};

// Which phones may type, for the server's gate. The accept thread asks; the
// UI thread tells it the user's settings. Safe from any thread.
class PhoneGate {
 public:
  using SubnetQuery = std::function<std::vector<Ipv4Subnet>()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `own_subnets` tells the subnets of the PC's adapters; asked only for a
  // source outside the private ranges. `clock` is for tests.
  explicit PhoneGate(SubnetQuery own_subnets, Clock clock = &std::chrono::steady_clock::now);

  void Configure(const AppConfig& config);

  // Loopback, the private, link-local and carrier-grade NAT ranges, and the
  // subnets of the PC's own adapters.
  bool AcceptSource(std::uint32_t address) const;
  // At a phone's hello: Review's answer, except that an unknown device that
  // keeps asking is refused (kKnockLimit), with a log line naming its
  // address. A known phone is never refused, whatever shares its address.
  Admission Admit(const PhoneHello& hello);
  // Whether the settings let `hello` type: Serve when the user does not want
  // to be asked or knows the phone, Hold (ask the user) otherwise. Counts
  // nothing: asked again about the connected phone when the settings change.
  Admission Review(const PhoneHello& hello) const;

 private:
  struct Knocks {
    std::vector<std::chrono::steady_clock::time_point> recent;  // within kKnockWindow
    std::chrono::steady_clock::time_point paused_until{};
  };
  // True when the address has asked too often; counts this request.
  bool KnockedTooOften(std::uint32_t address);

  const SubnetQuery own_subnets_;
  const Clock clock_;
  mutable std::mutex mutex_;  // guards the settings below
  bool confirm_new_phones_ = true;
  std::vector<KnownPhone> known_phones_;
  std::mutex knocks_mutex_;
  std::map<std::uint32_t, Knocks> knocks_;  // under knocks_mutex_
};

}  // namespace lumora
