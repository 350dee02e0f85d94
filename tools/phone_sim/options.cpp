#include "tools/phone_sim/options.h"

#include "net/addresses.h"
#include "net/protocol.h"
#include "tools/phone_sim/script.h"
#include "tools/phone_sim/text.h"

namespace lumora {
namespace {

constexpr unsigned kMaxTimeoutMs = 10u * 60u * 1000u;
constexpr unsigned kMaxIntervalMs = 60u * 1000u;

}  // namespace

const char kPhoneSimUsage[] =
    "usage: phone_sim HOST PORT [options]\n"
    "Plays the phone against a Parlino PC: connects, waits for the welcome, says hello, then\n"
    "  (default)          sends a ping, expects the pong, says bye: is the PC reachable?\n"
    "  --script FILE      runs the steps of FILE (- for standard input)\n"
    "  --dictate TEXT     streams TEXT as growing partial texts, commits, expects the ack\n"
    "options:\n"
    "  --client NAME      client name in the hello (default phone_sim)\n"
    "  --version V        version in the hello (default the PC's own version)\n"
    "  --no-hello         send no hello (to see the PC give up on a silent phone)\n"
    "  --interval MS      --dictate: time between partials (default 150)\n"
    "  --no-enter         --dictate: commit with press_enter false\n"
    "  --timeout MS       longest wait for the connection and each answer (default 3000)\n"
    "HOST is a dotted IPv4 address or localhost. Script steps, one a line:\n"
    "  {...}  text WORDS  commit [noenter]  clear  key NAME  ping [TS]  bye\n"
    "  raw BYTES (\\n \\r \\t \\\\ \\xNN)  sleep MS  expect TYPE [FIELD=VALUE]...\n"
    "  wait-close  close  # comment\n"
    "Exit status: 0 the PC answered as expected, 1 it did not or the connection ended early,\n"
    "2 usage error or no connection.\n";

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view host) {
  if (host == "localhost") {
    return std::array<std::uint8_t, 4>{127, 0, 0, 1};
  }
  std::uint32_t address = 0;
  if (!ParseIpv4(host, address)) {
    return std::nullopt;
  }
  return std::array<std::uint8_t, 4>{
      static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
      static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
}

bool ParseSimArguments(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
  options = SimOptions{};
  options.client = "phone_sim";
  options.version = std::string(kServerVersion);

  std::vector<std::string> positional;
  bool script = false;
  bool dictate = false;
  bool interval = false;
  bool no_enter = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string& out) -> bool {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    const auto milliseconds = [&](unsigned min, unsigned max, unsigned& out) -> bool {
      std::string text;
      if (!value(text)) {
        return false;
      }
      if (!ParseUnsigned(text, max, out) || out < min) {
        error = arg + " takes milliseconds from " + std::to_string(min) + " to " + std::to_string(max);
        return false;
      }
      return true;
    };

    bool ok = true;
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return true;
    } else if (arg == "--client") {
      ok = value(options.client);
    } else if (arg == "--version") {
      ok = value(options.version);
    } else if (arg == "--no-hello") {
      options.send_hello = false;
    } else if (arg == "--script") {
      ok = value(options.script_path);
      script = true;
    } else if (arg == "--dictate") {
      ok = value(options.sentence);
      dictate = true;
    } else if (arg == "--interval") {
      ok = milliseconds(0, kMaxIntervalMs, options.interval_ms);
      interval = true;
    } else if (arg == "--no-enter") {
      options.press_enter = false;
      no_enter = true;
    } else if (arg == "--timeout") {
      ok = milliseconds(1, kMaxTimeoutMs, options.timeout_ms);
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
    if (!ok) {
      return false;
    }
  }

  if (positional.size() != 2) {
    error = "expected HOST and PORT";
    return false;
  }
  const auto address = ParseIpv4(positional[0]);
  if (!address) {
    error = "HOST must be a dotted IPv4 address or localhost, not \"" + positional[0] + "\"";
    return false;
  }
  options.host = positional[0];
  options.address = *address;
  unsigned port = 0;
  if (!ParseUnsigned(positional[1], 65535, port) || port == 0) {
    error = "PORT must be a number from 1 to 65535, not \"" + positional[1] + "\"";
    return false;
  }
  options.port = static_cast<std::uint16_t>(port);

  if (script && dictate) {
    error = "--script and --dictate exclude each other";
    return false;
  }
  if ((interval || no_enter) && !dictate) {
    error = "--interval and --no-enter only apply to --dictate";
    return false;
  }
  if (!IsValidUtf8(options.client) || !IsValidUtf8(options.version)) {
    error = "--client and --version must be UTF-8";
    return false;
  }
  if (dictate) {
    if (!IsValidUtf8(options.sentence)) {
      error = "the --dictate text is not valid UTF-8";
      return false;
    }
    if (GrowingPartials(options.sentence).empty()) {
      error = "the --dictate text is empty";
      return false;
    }
    options.mode = SimMode::Dictate;
  } else if (script) {
    if (options.script_path.empty()) {
      error = "--script needs a file name, or - for standard input";
      return false;
    }
    options.mode = SimMode::Script;
  }
  return true;
}

}  // namespace lumora
