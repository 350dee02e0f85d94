#pragma once

// Start with the desktop session, the XDG way: a desktop entry in the
// autostart folder of the user's configuration home, written when the
// setting is on and removed when it is off. Every desktop that follows the
// XDG autostart rules (deepin, UOS, openKylin, GNOME, KDE, Xfce, MATE,
// Cinnamon) starts what it finds there at login.

#include <filesystem>
#include <string>
#include <string_view>

namespace lumora {

// The entry's name in the autostart folder.
inline constexpr char kAutoStartEntryName[] = "lumora-voice-input.desktop";

// $XDG_CONFIG_HOME/autostart (or ~/.config/autostart): beside the folder of
// config.toml.
std::filesystem::path AutoStartDirectory();
std::filesystem::path AutoStartEntryPath();

// The Exec value that starts `program`: quoted when it needs to be, with the
// characters the desktop entry rules reserve escaped. Empty when the path
// cannot be written in an entry at all (a line break in it).
std::string DesktopEntryExec(std::string_view program);

// The whole entry that starts `program` at login; empty when DesktopEntryExec is.
std::string AutoStartEntry(std::string_view program);

// Brings the autostart folder in line with `enable` for `program` (this
// executable when empty). True when the entry is as asked afterwards; a
// failure is logged with the system's error.
bool ApplyAutoStart(bool enable, const std::filesystem::path& program = {});

}  // namespace lumora
