#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// What config.toml holds of the allowed phones: the first kMaxKnownPhones
// distinct ones, each name at most kMaxPhoneNameBytes of UTF-8. Names come
// from the network, so the file bounds them.
inline constexpr std::size_t kMaxKnownPhones = 32;
inline constexpr std::size_t kMaxPhoneNameBytes = 120;

// The user's settings. A default-constructed record holds every default.
struct AppConfig {
  std::int32_t listen_port = kDefaultListenPort;
  OverlayThemeColor overlay_theme_color = OverlayThemeColor::White;
  OverlayPosition overlay_position = OverlayPosition::Center;
  bool press_enter_on_commit = true;
  bool use_clipboard_paste = false;
  bool auto_start = true;

  // A phone the user allowed. Identified by what the PC could learn of it: the
  // hello's client name, the hardware address from the neighbour table (empty
  // when the PC could not learn it) and the IPv4 address it was allowed from.
  // (The empty braces, here and on known_phones, spare designated
  // initializers that leave these out GCC's missing-initializer warning.)
  struct KnownPhone {
    std::string name{};
    std::string hardware_address{};  // "aa:bb:cc:dd:ee:ff" or empty
    std::string address{};           // dotted decimal
    friend bool operator==(const KnownPhone&, const KnownPhone&) = default;
  };
  bool confirm_new_phones = true;          // false: every phone on the LAN is served at once, as before
  std::vector<KnownPhone> known_phones{};  // in the order they were allowed

  friend bool operator==(const AppConfig&, const AppConfig&) = default;
};

using KnownPhone = AppConfig::KnownPhone;

// What the settings dialog's OK makes of the live settings: the dialog opened
// on `opened` and returned `chosen`, and meanwhile `live` may have changed
// (a tray toggle, a phone allowed). Only what the user changed in the dialog
// replaces the live value; of the phones, only those forgotten in the dialog
// go, and phones allowed meanwhile stay.
AppConfig MergeDialogChoices(const AppConfig& opened, const AppConfig& chosen, AppConfig live);

// UTF-8 names for menus. Values outside the enumeration give the default's name.
std::string_view ThemeColorDisplayName(OverlayThemeColor color);
std::string_view PositionDisplayName(OverlayPosition position);

// The phone as config.toml keeps it, or nothing when the file cannot keep it
// because its address is not strict dotted-decimal IPv4 (four numbers 0..255,
// no leading zeros, nothing else). The name becomes well-formed UTF-8 (each
// byte that does not begin a well-formed sequence is replaced by U+FFFD), cut
// at a character boundary to at most kMaxPhoneNameBytes; the hardware address
// is lower-cased, and emptied unless it is six hex pairs joined by colons.
// Saving and loading keep exactly these forms, so a record that is to be
// compared with a loaded one should hold them too.
std::optional<KnownPhone> NormalizedKnownPhone(const KnownPhone& phone);

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
// default. Of known_phones, an entry that is not a table, that has a field
// that is not a string, or whose address NormalizedKnownPhone refuses is
// skipped; the others are kept in NormalizedKnownPhone's form, in file order,
// a repeated one once, the first kMaxKnownPhones of them. Never throws. A file
// that exists but cannot be read (held by another program, an I/O error) is
// logged, and from then on protected: see SaveAppConfig.
AppConfig LoadAppConfig() noexcept;

// Replaces config.toml whole with the settings, creating its folder. The old
// file stays as it was unless the new one was written completely. Never
// throws and reports nothing: settings that cannot be saved are lost at exit.
// A file that this process failed to read (and has not read since) is never
// replaced: the settings in memory are then defaults, and saving them would
// overwrite the user's port and phones. Each such refused save is logged;
// once that file is gone, a save writes a new one.
void SaveAppConfig(const AppConfig& config) noexcept;

// The settings that TOML text holds, read by the rules of LoadAppConfig.
AppConfig ParseAppConfig(std::string_view text) noexcept;

// The bytes SaveAppConfig writes, every line ending in CR LF on every platform:
// the comment line and the six settings that every version of the program
// reads, then confirm_new_phones and known_phones, an array of one inline
// table a line ("known_phones = []" when empty), which older versions skip as
// unknown keys. Out-of-range values are written as their defaults; of the
// phones, exactly what loading the file gives back (see LoadAppConfig).
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
