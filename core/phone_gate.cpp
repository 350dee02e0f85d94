#include "core/phone_gate.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "base/ipv4.h"
#include "log/log.h"

namespace lumora {

KnownPhone IdentifyPhone(const PhoneHello& hello) {
  // In the form the settings file gives back, so that a remembered phone is
  // still the same phone after a restart. The file keeps every address that
  // FormatIpv4 writes.
  return *NormalizedKnownPhone({hello.client, hello.hardware_address, FormatIpv4(hello.address)});
}

bool IsSamePhone(const KnownPhone& known, const KnownPhone& seen) {
  if (known.name != seen.name) {
    return false;
  }
  if (!known.hardware_address.empty() && !seen.hardware_address.empty()) {
    return known.hardware_address == seen.hardware_address;
  }
  return known.address == seen.address;
}

void RememberPhone(std::vector<KnownPhone>& known, KnownPhone phone) {
  known.erase(std::remove_if(known.begin(), known.end(),
                             [&](const KnownPhone& entry) { return IsSamePhone(entry, phone); }),
              known.end());
  known.push_back(std::move(phone));
  if (known.size() > kMaxKnownPhones) {
    known.erase(known.begin(), known.end() - static_cast<std::ptrdiff_t>(kMaxKnownPhones));
  }
}

PhoneGate::PhoneGate(SubnetQuery own_subnets, Clock clock)
    : own_subnets_(std::move(own_subnets)), clock_(std::move(clock)) {}

void PhoneGate::Configure(const AppConfig& config) {
  std::lock_guard<std::mutex> lock(mutex_);
  confirm_new_phones_ = config.confirm_new_phones;
  known_phones_ = config.known_phones;
}

bool PhoneGate::AcceptSource(std::uint32_t address) const {
  if (IsLocalNetworkSource(address, {})) {
    return true;
  }
  return own_subnets_ && IsLocalNetworkSource(address, own_subnets_());
}

Admission PhoneGate::Admit(const PhoneHello& hello) {
  const Admission admission = Review(hello);
  if (admission == Admission::Hold && KnockedTooOften(hello.address)) {
    return Admission::Refuse;
  }
  return admission;
}

bool PhoneGate::KnockedTooOften(std::uint32_t address) {
  const auto now = clock_();
  std::lock_guard<std::mutex> lock(knocks_mutex_);
  // Addresses that have been quiet long enough are forgotten, so that the
  // table stays as small as the devices that ask right now.
  for (auto it = knocks_.begin(); it != knocks_.end();) {
    Knocks& entry = it->second;
    entry.recent.erase(std::remove_if(entry.recent.begin(), entry.recent.end(),
                                      [&](const auto& at) { return now - at >= kKnockWindow; }),
                       entry.recent.end());
    it = entry.recent.empty() && now >= entry.paused_until ? knocks_.erase(it) : std::next(it);
  }
  Knocks& entry = knocks_[address];
  if (now < entry.paused_until) {
    return true;  // logged when the pause began
  }
  entry.recent.push_back(now);
  if (entry.recent.size() < kKnockLimit) {
    return false;
  }
  entry.recent.clear();
  entry.paused_until = now + kKnockPause;
  Log(LogLevel::Warn, "APP",
      "PhoneGate: " + FormatIpv4(address) + " asked " + std::to_string(kKnockLimit) + " times within " +
          std::to_string(kKnockWindow.count()) + " s; refused without asking for " +
          std::to_string(kKnockPause.count()) + " min");
  return true;
}

Admission PhoneGate::Review(const PhoneHello& hello) const {
  const KnownPhone seen = IdentifyPhone(hello);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!confirm_new_phones_) {
    return Admission::Serve;
  }
  const bool known = std::any_of(known_phones_.begin(), known_phones_.end(),
                                 [&](const KnownPhone& entry) { return IsSamePhone(entry, seen); });
  return known ? Admission::Serve : Admission::Hold;
}

}  // namespace lumora
