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
#include <mutex>
#include <system_error>

#include "base/ipv4.h"
#include "base/utf8.h"
#include "config/app_config_platform.h"
#include "log/log.h"

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

constexpr char32_t kFaultMove = 0xF0000;

// Moves every such character, where well-formed UTF-8 encodes it, to the same
// offset in plane 15 (private use), beyond the lookup's reach. TOML accepts both
// in the same places (strings and comments), and the move is one to one: of our
// values only phone names can hold such characters, and they are moved back
// (RestoreTomlWhitespaceFault) when anything was moved.
std::string AvoidTomlWhitespaceFault(std::string_view text, bool& moved_any) {
  moved_any = false;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = std::max<size_t>(Utf8SequenceLength(text, i), 1);
    const char32_t c = length > 1 ? DecodeUtf8(text, i, length) : 0;  // none below 0x80 is concerned
    if (HitsTomlWhitespaceFault(c)) {
      AppendUtf8(out, c + kFaultMove);
      moved_any = true;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

// Undoes AvoidTomlWhitespaceFault in a string value. Only called for a file in
// which something was moved: there a plane-15 character at a moved offset
// cannot be told from a moved one, and is taken for one. The program's own
// files never need it, as FormatAppConfig escapes every such character.
std::string RestoreTomlWhitespaceFault(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = std::max<size_t>(Utf8SequenceLength(text, i), 1);
    const char32_t c = length == 4 ? DecodeUtf8(text, i, length) : 0;
    if (c >= kFaultMove && HitsTomlWhitespaceFault(c - kFaultMove)) {
      AppendUtf8(out, c - kFaultMove);
    } else {
      out.append(text.substr(i, length));
    }
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

// Well-formed UTF-8 of at most kMaxPhoneNameBytes: each byte that does not
// begin a well-formed sequence becomes U+FFFD, and the text ends before the
// first character that would not fit whole.
std::string SanitizedPhoneName(std::string_view name) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const size_t length = Utf8SequenceLength(name, i);
    const std::string_view character = length == 0 ? kReplacement : name.substr(i, length);
    if (out.size() + character.size() > kMaxPhoneNameBytes) {
      break;
    }
    out += character;
    i += std::max<size_t>(length, 1);
  }
  return out;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// "aa:bb:cc:dd:ee:ff" in any letter case, lower-cased; anything else is empty.
std::string NormalizedHardwareAddress(std::string_view text) {
  if (text.size() != 17) {
    return {};
  }
  std::string lowered(text);
  for (size_t i = 0; i < lowered.size(); ++i) {
    char& c = lowered[i];
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    const bool ok = i % 3 == 2 ? c == ':' : IsHexDigit(c);
    if (!ok) {
      return {};
    }
  }
  return lowered;
}

// Adds the phone in the file's form unless the file cannot keep it, keeps it
// already, or is full. False once it is full.
bool KeepPhone(std::vector<KnownPhone>& kept, const KnownPhone& phone) {
  if (kept.size() >= kMaxKnownPhones) {
    return false;
  }
  std::optional<KnownPhone> normal = NormalizedKnownPhone(phone);
  if (normal && std::find(kept.begin(), kept.end(), *normal) == kept.end()) {
    kept.push_back(std::move(*normal));
  }
  return kept.size() < kMaxKnownPhones;
}

// A field of a known_phones entry: absent is empty; a value that is not a
// string spoils the entry.
bool PhoneFieldFrom(const toml::table& entry, std::string_view key, std::string& out) {
  const toml::node* node = entry.get(key);
  if (node == nullptr) {
    out.clear();
    return true;
  }
  const auto* text = node->as_string();
  if (text == nullptr) {
    return false;
  }
  out = text->get();
  return true;
}

std::vector<KnownPhone> KnownPhonesFrom(const toml::node& node, bool restore_moved) {
  std::vector<KnownPhone> kept;
  const toml::array* entries = node.as_array();
  if (entries == nullptr) {
    return kept;
  }
  for (const toml::node& item : *entries) {
    const toml::table* entry = item.as_table();
    KnownPhone phone;
    if (entry == nullptr || !PhoneFieldFrom(*entry, "name", phone.name) ||
        !PhoneFieldFrom(*entry, "hardware_address", phone.hardware_address) ||
        !PhoneFieldFrom(*entry, "address", phone.address)) {
      continue;
    }
    if (restore_moved) {
      phone.name = RestoreTomlWhitespaceFault(phone.name);
    }
    if (!KeepPhone(kept, phone)) {
      break;
    }
  }
  return kept;
}

// A TOML basic string. Besides the quote and the backslash, every control
// character is escaped (TOML forbids them raw), and so is every character of
// the ranges above: otherwise reading the file would move them, and a name
// that holds their plane-15 images as well could not be read back exactly.
std::string TomlBasicString(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const size_t length = std::max<size_t>(Utf8SequenceLength(text, i), 1);
    // Names reach here well-formed; a stray byte would make the file unreadable.
    const char32_t c = Utf8SequenceLength(text, i) == 0 ? 0xFFFD : DecodeUtf8(text, i, length);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20 || c == 0x7F || HitsTomlWhitespaceFault(c)) {
          out += "\\u";
          for (int shift = 12; shift >= 0; shift -= 4) {
            out += kHex[(c >> shift) & 0xF];
          }
        } else {
          out.append(text.substr(i, length));
        }
    }
    i += length;
  }
  out += '"';
  return out;
}

// The files this process found but could not read (another program held
// them, the disk failed). The settings in memory are defaults then, and a
// save would put them in the place of the user's port and phones: such a
// file is kept until it has been read.
class UnreadFiles {
 public:
  void Remember(const std::filesystem::path& file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(files_.begin(), files_.end(), Key(file)) == files_.end()) {
      files_.push_back(Key(file));
    }
  }
  void Forget(const std::filesystem::path& file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::erase(files_, Key(file));
  }
  bool Holds(const std::filesystem::path& file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::find(files_.begin(), files_.end(), Key(file)) != files_.end();
  }

 private:
  static std::filesystem::path Key(const std::filesystem::path& file) { return file.lexically_normal(); }

  std::mutex mutex_;
  std::vector<std::filesystem::path> files_;
};

UnreadFiles& Unread() {
  static UnreadFiles files;
  return files;
}

// The file's name for a log line; its folder holds the user's name.
std::string LogName(const std::filesystem::path& file) {
  return LogSafeText(reinterpret_cast<const char*>(file.filename().u8string().c_str()));
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

AppConfig MergeDialogChoices(const AppConfig& opened, const AppConfig& chosen, AppConfig live) {
  const auto take = [](const auto& was, const auto& now, auto& into) {
    if (now != was) {
      into = now;
    }
  };
  take(opened.listen_port, chosen.listen_port, live.listen_port);
  take(opened.overlay_theme_color, chosen.overlay_theme_color, live.overlay_theme_color);
  take(opened.overlay_position, chosen.overlay_position, live.overlay_position);
  take(opened.press_enter_on_commit, chosen.press_enter_on_commit, live.press_enter_on_commit);
  take(opened.use_clipboard_paste, chosen.use_clipboard_paste, live.use_clipboard_paste);
  take(opened.auto_start, chosen.auto_start, live.auto_start);
  take(opened.confirm_new_phones, chosen.confirm_new_phones, live.confirm_new_phones);
  for (const KnownPhone& phone : opened.known_phones) {
    if (std::find(chosen.known_phones.begin(), chosen.known_phones.end(), phone) ==
        chosen.known_phones.end()) {
      std::erase(live.known_phones, phone);
    }
  }
  return live;
}

std::optional<KnownPhone> NormalizedKnownPhone(const KnownPhone& phone) {
  std::uint32_t address = 0;
  if (!ParseIpv4(phone.address, address)) {
    return std::nullopt;
  }
  return KnownPhone{SanitizedPhoneName(phone.name), NormalizedHardwareAddress(phone.hardware_address),
                    phone.address};
}

std::filesystem::path ConfigFilePath() { return ConfigDirectory() / kConfigFileName; }

AppConfig ParseAppConfig(std::string_view text) noexcept {
  try {
    bool moved = false;
    const toml::parse_result parsed = toml::parse(AvoidTomlWhitespaceFault(text, moved));
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
    if (const toml::node* node = table.get("confirm_new_phones")) {
      config.confirm_new_phones = SwitchFrom(*node, config.confirm_new_phones);
    }
    if (const toml::node* node = table.get("known_phones")) {
      config.known_phones = KnownPhonesFrom(*node, moved);
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
  text.reserve(320);
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
  // The six lines above are all that older versions read: what follows they
  // skip as unknown keys.
  text += std::string("confirm_new_phones = ") + flag(config.confirm_new_phones) + "\r\n";
  std::vector<KnownPhone> phones;
  for (const KnownPhone& phone : config.known_phones) {
    if (!KeepPhone(phones, phone)) {
      break;
    }
  }
  if (phones.empty()) {
    text += "known_phones = []\r\n";
    return text;
  }
  text += "known_phones = [\r\n";
  for (const KnownPhone& phone : phones) {
    // The hardware address and the address are hex digits, colons, digits and
    // dots once normalised: nothing in them needs escaping.
    text += "  { name = " + TomlBasicString(phone.name) + ", hardware_address = \"" + phone.hardware_address +
            "\", address = \"" + phone.address + "\" },\r\n";
  }
  text += "]\r\n";
  return text;
}

namespace detail {

AppConfig LoadAppConfigFrom(const std::filesystem::path& file) noexcept {
  try {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
      Unread().Forget(file);  // nothing there to keep
      return AppConfig{};
    }
    std::string bytes;
    int error = ec.value();
    if (ec || !ReadConfigFile(file, bytes, error)) {
      Unread().Remember(file);
      Log(LogLevel::Error, "APP",
          "config: " + LogName(file) + " exists but cannot be read (error " + std::to_string(error) +
              "): the defaults are used, and the file is kept as it is until it has been read");
      return AppConfig{};
    }
    // Read, malformed or not: what it held is known, so a save may replace it.
    Unread().Forget(file);
    return ParseAppConfig(bytes);
  } catch (...) {
    return AppConfig{};
  }
}

bool SaveAppConfigTo(const std::filesystem::path& file, const AppConfig& config,
                     const SaveFault& fault) noexcept {
  try {
    if (Unread().Holds(file)) {
      std::error_code ec;
      if (std::filesystem::status(file, ec).type() != std::filesystem::file_type::not_found) {
        Log(LogLevel::Error, "APP",
            "config: settings not saved: " + LogName(file) +
                " could not be read at start, and saving would replace the user's settings with defaults");
        return false;
      }
      Unread().Forget(file);
    }
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
