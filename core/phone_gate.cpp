#include "core/phone_gate.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/utf8.h"

namespace lumora {
namespace {

std::string DottedAddress(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// At most `max_chars` characters and `max_bytes` bytes of `text`, whole UTF-8
// sequences only; with `printable_only`, control characters (C0, DEL, C1,
// line and paragraph separators, bidirectional marks) and invalid bytes are
// left out.
std::string CutText(const std::string& text, std::size_t max_chars, std::size_t max_bytes, bool printable_only) {
  std::string out;
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < text.size() && chars < max_chars) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      ++i;  // not UTF-8: never kept
      continue;
    }
    const std::string_view sequence(text.data() + i, length);
    i += length;
    if (printable_only) {
      const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(sequence[k]); };
      // Besides the controls, the marks that reorder text (U+061C, U+200E,
      // U+200F, U+202A to U+202E, U+2066 to U+2069): a name must not turn
      // what the prompt says around it.
      const bool control =
          (length == 1 && (byte(0) < 0x20 || byte(0) == 0x7F)) ||
          (length == 2 && ((byte(0) == 0xC2 && byte(1) < 0xA0) || (byte(0) == 0xD8 && byte(1) == 0x9C))) ||
          (length == 3 && byte(0) == 0xE2 && byte(1) == 0x80 &&
           (byte(2) == 0x8E || byte(2) == 0x8F || (byte(2) >= 0xA8 && byte(2) <= 0xAE))) ||
          (length == 3 && byte(0) == 0xE2 && byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9);
      if (control) {
        continue;
      }
    }
    if (out.size() + length > max_bytes) {
      break;
    }
    out += sequence;
    ++chars;
  }
  return out;
}

}  // namespace

KnownPhone IdentifyPhone(const PhoneHello& hello) {
  KnownPhone phone{hello.client, hello.hardware_address, DottedAddress(hello.address)};
  // In the form the settings file gives back, so that a remembered phone is
  // still the same phone after a restart.
  if (std::optional<KnownPhone> normalized = NormalizedKnownPhone(phone)) {
    return *std::move(normalized);
  }
  return phone;
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

std::string PhoneLabel(const std::string& client, const std::string& peer_or_address) {
  constexpr std::size_t kShownChars = 40;
  const std::string clean = CutText(client, client.size(), client.size(), true);
  std::string name = CutText(clean, kShownChars, clean.size(), false);
  if (name.empty()) {
    name = "未命名手机";
  } else if (name.size() < clean.size()) {
    name += "…";
  }
  return name + " (" + peer_or_address + ")";
}

PhoneGate::PhoneGate(SubnetQuery own_subnets) : own_subnets_(std::move(own_subnets)) {}

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

Admission PhoneGate::Admit(const PhoneHello& hello) const {
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
