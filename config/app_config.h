#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumora {

// Menus list the values in ascending order, so a menu index is the value.
enum class OverlayThemeColor : std::int32_t {
  White = 0,
  Pink = 1,
  Green = 2,
  Yellow = 3,
  Blue = 4,
  Purple = 5,
};
inline constexpr std::int32_t kOverlayThemeColorCount = 6;

enum class OverlayPosition : std::int32_t {
  Center = 0,
  TopLeft = 1,
  TopRight = 2,
  BottomLeft = 3,
  BottomRight = 4,
};
inline constexpr std::int32_t kOverlayPositionCount = 5;

inline constexpr std::int32_t kDefaultListenPort = 47823;
inline constexpr std::int32_t kMinListenPort = 1024;
inline constexpr std::int32_t kMaxListenPort = 65535;

inline constexpr std::string_view kConfigFileName = "config.toml";

// The user's settings. A default-constructed record holds every default.
struct AppConfig {
  std::int32_t listen_port = kDefaultListenPort;
  OverlayThemeColor overlay_theme_color = OverlayThemeColor::White;
  OverlayPosition overlay_position = OverlayPosition::Center;
  bool press_enter_on_commit = true;
  bool use_clipboard_paste = false;
  bool auto_start = true;

  friend bool operator==(const AppConfig&, const AppConfig&) = default;
};

// UTF-8 names for menus. Values outside the enumeration give the default's name.
std::string_view ThemeColorDisplayName(OverlayThemeColor color);
std::string_view PositionDisplayName(OverlayPosition position);

// The names used in config.toml. Values outside the enumeration give the
// default's name.
std::string_view ThemeColorFileName(OverlayThemeColor color);
std::string_view PositionFileName(OverlayPosition position);

// File name to value, ignoring the case of ASCII letters. Anything that is not
// exactly a name gives the default (White, Center).
OverlayThemeColor ParseThemeColor(std::string_view text);
OverlayPosition ParsePosition(std::string_view text);

// Windows: "Parlino" under the roaming application-data folder. Linux:
// "Parlino" under $XDG_CONFIG_HOME, else under ~/.config, else under the
// current directory.
std::filesystem::path ConfigDirectory();
std::filesystem::path ConfigFilePath();

// Reads config.toml. A missing, unreadable or malformed file gives every
// default; otherwise each setting that is absent or unusable gives its own
// default. Never throws and never logs.
AppConfig LoadAppConfig() noexcept;

// Replaces config.toml whole with the settings, creating its folder. The old
// file stays as it was unless the new one was written completely. Never
// throws, never logs and reports nothing: settings that cannot be saved are
// lost at exit.
void SaveAppConfig(const AppConfig& config) noexcept;

// The settings that TOML text holds, read by the rules of LoadAppConfig.
AppConfig ParseAppConfig(std::string_view text) noexcept;

// The bytes SaveAppConfig writes: seven lines ending in CR LF on every platform.
// Out-of-range values are written as their defaults.
std::string FormatAppConfig(const AppConfig& config);

namespace detail {

// A step of a save that a test can make fail, as a full disk, a pulled USB
// stick or a file locked by another program would.
enum class SaveStep : std::int32_t {
  None,
  Write,  // after `bytes_written` bytes of the new contents
  Flush,
  Replace,
};

struct SaveFault {
  SaveStep fail_at = SaveStep::None;
  std::size_t bytes_written = 0;
};

// LoadAppConfig and SaveAppConfig on a file of the caller's choosing. The save
// says whether the file now holds the new settings.
AppConfig LoadAppConfigFrom(const std::filesystem::path& file) noexcept;
bool SaveAppConfigTo(const std::filesystem::path& file, const AppConfig& config,
                     const SaveFault& fault = {}) noexcept;

}  // namespace detail
}  // namespace lumora
