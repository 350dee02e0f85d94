#pragma once

// The phone simulator's command line. Pure functions.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

enum class SimMode : int {
  Check = 0,    // hello, ping, pong, bye
  Script = 1,   // --script
  Dictate = 2,  // --dictate
};

struct SimOptions {
  std::string host;
  std::array<std::uint8_t, 4> address{};
  std::uint16_t port = 0;
  std::string client;
  std::string version;
  bool send_hello = true;
  SimMode mode = SimMode::Check;
  std::string script_path;  // "-" reads standard input
  std::string sentence;
  unsigned interval_ms = 150;
  bool press_enter = true;
  unsigned timeout_ms = 3000;
  bool help = false;
};

extern const char kPhoneSimUsage[];

// `args` without the program name. False with the reason in `error` on any
// usage error; with --help, true and nothing else is checked.
bool ParseSimArguments(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// A dotted IPv4 address (four decimal numbers 0 to 255, no leading zeros, so
// nothing can be mistaken for octal) or "localhost".
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view host);

}  // namespace lumora
