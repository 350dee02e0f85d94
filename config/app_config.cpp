#include "config/app_config.h"

// toml++ 3.3.0 asserts that a table header starts with a key character before
// it checks that itself, so a hand-edited "[设置]" or "[=]" aborted every build
// without NDEBUG. The checks that follow its assertions turn such text into a
// parse error, as in release builds, where the assertions are already gone.
#define TOML_ASSERT(expr) static_assert(true)
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <system_error>

#include "config/app_config_platform.h"

namespace lumora {
namespace {

struct Names {
  std::string_view file;
  std::string_view display;
};

constexpr std::array<Names, kOverlayThemeColorCount> kThemeColorNames = {{
    {"white", "白"},
    {"pink", "粉"},
    {"green", "绿"},
    {"yellow", "黄"},
    {"blue", "蓝"},
    {"purple", "紫"},
}};

constexpr std::array<Names, kOverlayPositionCount> kPositionNames = {{
    {"center", "居中"},
    {"top_left", "左上"},
    {"top_right", "右上"},
    {"bottom_left", "左下"},
    {"bottom_right", "右下"},
}};

// Index into a name table; out-of-range values fall back to entry 0, the default.
template <size_t N>
const Names& NamesOf(std::int32_t value, const std::array<Names, N>& table) {
  return value > 0 && static_cast<size_t>(value) < N ? table[static_cast<size_t>(value)] : table[0];
}

template <size_t N>
std::int32_t IndexOfName(std::string_view text, const std::array<Names, N>& table) {
  std::string lowered(text.substr(0, 32));
  if (lowered.size() != text.size()) {
    return 0;  // longer than any name
  }
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  for (size_t i = 1; i < N; ++i) {
    if (lowered == table[i].file) {
      return static_cast<std::int32_t>(i);
    }
  }
  return 0;
}

// toml++ 3.3.0 asks whether each character it skips as blank space is a
// non-ASCII blank through a lookup whose table misses these ranges: for them
// it runs into __builtin_unreachable, so "auto_start = true、" or a "、" after
// a line-ending backslash in a """ string is undefined behaviour.
bool HitsTomlWhitespaceFault(char32_t c) {
  return (c >= 0xA1 && c <= 0x499) || (c >= 0x2C5E && c <= 0x2FFF) || (c >= 0x3001 && c <= 0x3057) ||
         (c >= 0xFB26 && c <= 0xFEFE);
}

// Moves every such character, where well-formed UTF-8 encodes it, to the same
// offset in plane 15 (private use), beyond the lookup's reach. TOML accepts both
// in the same places (strings and comments) and no key or value of ours holds
// one, and the move is one to one, so the settings read are the same.
std::string AvoidTomlWhitespaceFault(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0;
    size_t length = 0;
    if (byte(i) >= 0xC2 && byte(i) <= 0xDF && continuation(i + 1)) {
      c = (char32_t{byte(i)} & 0x1F) << 6 | (byte(i + 1) & 0x3F);
      length = 2;
    } else if ((byte(i) & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      c = (char32_t{byte(i)} & 0x0F) << 12 | (char32_t{byte(i + 1)} & 0x3F) << 6 | (byte(i + 2) & 0x3F);
      length = c >= 0x800 && (c < 0xD800 || c > 0xDFFF) ? 3 : 0;  // no overlong forms or surrogates
    }
    if (length == 0 || !HitsTomlWhitespaceFault(c)) {
      const size_t keep = length == 0 ? 1 : length;
      out.append(text.substr(i, keep));
      i += keep;
      continue;
    }
    const char32_t moved = c + 0xF0000;
    out += static_cast<char>(0xF0 | (moved >> 18));
    out += static_cast<char>(0x80 | ((moved >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((moved >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (moved & 0x3F));
    i += length;
  }
  return out;
}

bool IsListenPort(std::int64_t port) { return port >= kMinListenPort && port <= kMaxListenPort; }

std::int32_t ListenPortFrom(const toml::node& node) {
  if (const auto* integer = node.as_integer()) {
    return IsListenPort(integer->get()) ? static_cast<std::int32_t>(integer->get()) : kDefaultListenPort;
  }
  if (const auto* floating = node.as_floating_point()) {
    // NaN and the infinities fail the range test; the test comes before the
    // conversion, which would be undefined for them and for huge values.
    const double value = floating->get();
    if (value >= kMinListenPort && value <= kMaxListenPort && value == std::trunc(value)) {
      return static_cast<std::int32_t>(value);
    }
  }
  return kDefaultListenPort;
}

bool SwitchFrom(const toml::node& node, bool fallback) {
  if (const auto* boolean = node.as_boolean()) {
    return boolean->get();
  }
  if (const auto* integer = node.as_integer()) {
    return integer->get() != 0;
  }
  return fallback;
}

}  // namespace

std::string_view ThemeColorDisplayName(OverlayThemeColor color) {
  return NamesOf(static_cast<std::int32_t>(color), kThemeColorNames).display;
}

std::string_view PositionDisplayName(OverlayPosition position) {
  return NamesOf(static_cast<std::int32_t>(position), kPositionNames).display;
}

std::string_view ThemeColorFileName(OverlayThemeColor color) {
  return NamesOf(static_cast<std::int32_t>(color), kThemeColorNames).file;
}

std::string_view PositionFileName(OverlayPosition position) {
  return NamesOf(static_cast<std::int32_t>(position), kPositionNames).file;
}

OverlayThemeColor ParseThemeColor(std::string_view text) {
  return static_cast<OverlayThemeColor>(IndexOfName(text, kThemeColorNames));
}

OverlayPosition ParsePosition(std::string_view text) {
  return static_cast<OverlayPosition>(IndexOfName(text, kPositionNames));
}

std::filesystem::path ConfigFilePath() { return ConfigDirectory() / kConfigFileName; }

AppConfig ParseAppConfig(std::string_view text) noexcept {
  try {
    const toml::parse_result parsed = toml::parse(AvoidTomlWhitespaceFault(text));
    if (!parsed) {
      // Nothing of a malformed file is trusted, not even the keys before the fault.
      return AppConfig{};
    }
    const toml::table& table = parsed.table();
    AppConfig config;
    if (const toml::node* node = table.get("listen_port")) {
      config.listen_port = ListenPortFrom(*node);
    }
    if (const toml::node* node = table.get("press_enter_on_commit")) {
      config.press_enter_on_commit = SwitchFrom(*node, config.press_enter_on_commit);
    }
    if (const toml::node* node = table.get("use_clipboard_paste")) {
      config.use_clipboard_paste = SwitchFrom(*node, config.use_clipboard_paste);
    }
    if (const toml::node* node = table.get("auto_start")) {
      config.auto_start = SwitchFrom(*node, config.auto_start);
    }
    if (const auto* text_value = table.get_as<std::string>("overlay_theme_color")) {
      config.overlay_theme_color = ParseThemeColor(text_value->get());
    }
    if (const auto* text_value = table.get_as<std::string>("overlay_position")) {
      config.overlay_position = ParsePosition(text_value->get());
    }
    return config;
  } catch (...) {
    return AppConfig{};  // out of memory
  }
}

std::string FormatAppConfig(const AppConfig& config) {
  const std::int32_t port = IsListenPort(config.listen_port) ? config.listen_port : kDefaultListenPort;
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  // The names are lower-case letters and underscores: nothing in them needs
  // escaping inside a TOML string.
  std::string text;
  text.reserve(256);
  text += "# Parlino config\r\n";
  text += "listen_port = " + std::to_string(port) + "\r\n";
  text += std::string("press_enter_on_commit = ") + flag(config.press_enter_on_commit) + "\r\n";
  text += std::string("use_clipboard_paste = ") + flag(config.use_clipboard_paste) + "\r\n";
  text += std::string("auto_start = ") + flag(config.auto_start) + "\r\n";
  text += "overlay_theme_color = \"";
  text += ThemeColorFileName(config.overlay_theme_color);
  text += "\"\r\n";
  text += "overlay_position = \"";
  text += PositionFileName(config.overlay_position);
  text += "\"\r\n";
  return text;
}

namespace detail {

AppConfig LoadAppConfigFrom(const std::filesystem::path& file) noexcept {
  try {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) {
      return AppConfig{};
    }
    std::string bytes;
    if (!ReadConfigFile(file, bytes)) {
      return AppConfig{};
    }
    return ParseAppConfig(bytes);
  } catch (...) {
    return AppConfig{};
  }
}

bool SaveAppConfigTo(const std::filesystem::path& file, const AppConfig& config,
                     const SaveFault& fault) noexcept {
  try {
    // A folder that cannot be created shows as a replacement file that
    // cannot be opened.
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);

    const std::string bytes = FormatAppConfig(config);
    ReplacementFile replacement(file);
    if (!replacement.IsOpen()) {
      return false;
    }
    if (fault.fail_at == SaveStep::Write) {
      replacement.Write(std::string_view(bytes).substr(0, std::min(fault.bytes_written, bytes.size())));
      return false;
    }
    if (!replacement.Write(bytes)) {
      return false;
    }
    if (fault.fail_at == SaveStep::Flush || !replacement.Flush()) {
      return false;
    }
    return fault.fail_at != SaveStep::Replace && replacement.Replace();
  } catch (...) {
    return false;
  }
}

}  // namespace detail

AppConfig LoadAppConfig() noexcept {
  try {
    return detail::LoadAppConfigFrom(ConfigFilePath());
  } catch (...) {
    return AppConfig{};
  }
}

void SaveAppConfig(const AppConfig& config) noexcept {
  try {
    detail::SaveAppConfigTo(ConfigFilePath(), config);
  } catch (...) {
    // Settings that cannot be saved are lost; the caller carries on.
  }
}

}  // namespace lumora
