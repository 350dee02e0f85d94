// Feeds arbitrary bytes as config.toml and checks what the rest of the program
// relies on: every setting comes out in range whatever the file holds, and
// what a save writes reads back to the same settings, byte for byte when saved
// again. The same bytes also serve as a phone's name from the network, which
// a save must turn into a file that reads back, and as the phone that the user
// allows: once remembered it must be let in after a restart, and another
// device under its name must not.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "config/app_config.h"
#include "core/phone_gate.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool IsWellFormedUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = lumora::Utf8SequenceLength(text, i);
    if (length == 0) {
      return false;
    }
    i += length;
  }
  return true;
}

void CheckInRange(const lumora::AppConfig& config) {
  Check(config.listen_port >= lumora::kMinListenPort && config.listen_port <= lumora::kMaxListenPort);
  const auto color = static_cast<std::int32_t>(config.overlay_theme_color);
  const auto position = static_cast<std::int32_t>(config.overlay_position);
  Check(color >= 0 && color < lumora::kOverlayThemeColorCount);
  Check(position >= 0 && position < lumora::kOverlayPositionCount);
  // Phones: at most the file's share, each in the file's form, none twice.
  const auto& phones = config.known_phones;
  Check(phones.size() <= lumora::kMaxKnownPhones);
  for (auto it = phones.begin(); it != phones.end(); ++it) {
    Check(lumora::NormalizedKnownPhone(*it) == *it);
    Check(it->name.size() <= lumora::kMaxPhoneNameBytes && IsWellFormedUtf8(it->name));
    Check(std::find(phones.begin(), it, *it) == it);
  }
}

// The settings lines, confirm_new_phones, then known_phones on one line when
// empty, else its opening line, one line a phone and the closing line; each
// line ends in CR LF, and there is no other CR or LF.
void CheckSavedLayout(const std::string& text, size_t phones) {
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      Check(i > 0 && text[i - 1] == '\r');
      ++lines;
    } else if (text[i] == '\r') {
      Check(i + 1 < text.size() && text[i + 1] == '\n');
    }
  }
  Check(lines == (phones == 0 ? 9 : 10 + phones) && !text.empty() && text.back() == '\n');
}

// Saved, read back and saved again: the same record and the same bytes.
void CheckRoundTrip(const lumora::AppConfig& config, const lumora::AppConfig& expected) {
  const std::string saved = lumora::FormatAppConfig(config);
  CheckSavedLayout(saved, expected.known_phones.size());
  const lumora::AppConfig reread = lumora::ParseAppConfig(saved);
  Check(reread == expected);
  Check(lumora::FormatAppConfig(reread) == saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const lumora::AppConfig parsed = lumora::ParseAppConfig(input);
  CheckInRange(parsed);
  CheckRoundTrip(parsed, parsed);

  // The input as what a phone says of itself, beside a phone the file keeps as
  // it is. The address decides whether the file keeps the phone at all.
  const lumora::KnownPhone plain{"plain", "aa:bb:cc:dd:ee:ff", "10.0.0.1"};
  lumora::AppConfig from_network;
  from_network.known_phones = {
      {std::string(input), std::string(input), "192.168.1.23"}, {"", "", std::string(input)}, plain};
  lumora::AppConfig expected;
  for (const lumora::KnownPhone& phone : from_network.known_phones) {
    const std::optional<lumora::KnownPhone> kept = lumora::NormalizedKnownPhone(phone);
    if (kept && std::find(expected.known_phones.begin(), expected.known_phones.end(), *kept) ==
                    expected.known_phones.end()) {
      expected.known_phones.push_back(*kept);
    }
  }
  Check(expected.known_phones.size() >= 2 && expected.known_phones.back() == plain);
  CheckInRange(expected);
  CheckRoundTrip(from_network, expected);

  // The input as a phone's hello. Remembered, saved and read back, the gate
  // lets it in; another device with its name and address is asked.
  lumora::PhoneHello hello;
  hello.client = std::string(input);
  hello.address = 0xC0A80117;
  hello.hardware_address = "aa:bb:cc:dd:ee:01";
  lumora::AppConfig allowed;
  lumora::RememberPhone(allowed.known_phones, lumora::IdentifyPhone(hello));
  lumora::PhoneGate gate(nullptr);
  gate.Configure(lumora::ParseAppConfig(lumora::FormatAppConfig(allowed)));
  Check(gate.Admit(hello) == lumora::Admission::Serve);
  lumora::PhoneHello other = hello;
  other.hardware_address = "aa:bb:cc:dd:ee:02";
  Check(gate.Admit(other) == lumora::Admission::Hold);
  // And against whatever list the file held: let in exactly when it knows it.
  gate.Configure(parsed);
  const bool known = std::any_of(parsed.known_phones.begin(), parsed.known_phones.end(),
                                 [&](const lumora::KnownPhone& phone) {
                                   return lumora::IsSamePhone(phone, lumora::IdentifyPhone(hello));
                                 });
  Check(gate.Admit(hello) == (known || !parsed.confirm_new_phones ? lumora::Admission::Serve
                                                                   : lumora::Admission::Hold));

  // Names: any text gives a value in range, and only text as long as that value's name does.
  const auto color = static_cast<std::int32_t>(lumora::ParseThemeColor(input));
  const auto position = static_cast<std::int32_t>(lumora::ParsePosition(input));
  Check(color >= 0 && color < lumora::kOverlayThemeColorCount);
  Check(position >= 0 && position < lumora::kOverlayPositionCount);
  Check(color == 0 ||
        lumora::ThemeColorFileName(static_cast<lumora::OverlayThemeColor>(color)).size() == size);
  Check(position == 0 ||
        lumora::PositionFileName(static_cast<lumora::OverlayPosition>(position)).size() == size);
  return 0;
}
