#pragma once

// What the tray shows, on every desktop: its menu, its tip and its notices,
// as UTF-8 for the host to put into its own tray. The Windows and the Linux
// hosts show these and spell none of their own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/app_config.h"
#include "output/text_injector.h"

namespace lumora {

// Tray menu commands.
inline constexpr std::uint32_t kTrayCommandSettings = 1001;
inline constexpr std::uint32_t kTrayCommandShowInfo = 1002;
inline constexpr std::uint32_t kTrayCommandExit = 1003;
inline constexpr std::uint32_t kTrayCommandContact = 1004;
inline constexpr std::uint32_t kTrayCommandPressEnter = 1010;
inline constexpr std::uint32_t kTrayCommandClipboardPaste = 1011;
inline constexpr std::uint32_t kTrayCommandAutoStart = 1012;
// The theme and position items: base + the enumeration's value.
inline constexpr std::uint32_t kTrayCommandThemeBase = 1100;
inline constexpr std::uint32_t kTrayCommandPositionBase = 1200;
// The recent texts, newest first: base + index.
inline constexpr std::uint32_t kTrayCommandRecentBase = 1300;

// How many commits the tray keeps for "最近的文字".
inline constexpr std::size_t kRecentTextCount = 10;

// The most a tray tip holds, in UTF-16 units, its terminating zero aside
// (the size of Windows' NOTIFYICONDATA tip).
inline constexpr std::size_t kTrayTipMaxUnits = 127;

// One entry of the tray menu. Labels mark an access key with "&", and "&&"
// shows one "&" (Win32 menus and Qt alike). An item with a submenu opens it
// and has no command; a separator has nothing else.
struct TrayMenuItem {
  std::uint32_t command = 0;
  std::string label;
  bool separator = false;
  bool checkable = false;
  bool checked = false;
  bool enabled = true;
  bool is_default = false;  // shown in bold: what a left click on the icon does
  std::vector<TrayMenuItem> submenu;
};

// The popup menu for the current settings and the recent texts (newest
// first; at most kRecentTextCount of them get an item).
std::vector<TrayMenuItem> TrayMenuItems(const AppConfig& config, const std::vector<OutputReport>& recent);

// The tray tip: product and version, the listening port, the server's state,
// `address_line` (the address to type) when not empty, and the phone:
// "手机：未连接" when `phone` is empty, else "手机：" and the phone as plain
// text on one line, cut with "…" so that the whole tip fits in
// kTrayTipMaxUnits and the lines above it are never lost.
std::string TrayTipText(int listen_port, bool server_running, std::string_view address_line,
                        std::string_view phone);

// A recent text as its menu item shows it: one line, at most 30 UTF-16
// units, "&" shown as itself, marked when it was not typed.
std::string RecentTextLabel(const OutputReport& report);

// Puts `report` first among the recent texts and keeps at most
// kRecentTextCount of them.
void KeepRecentText(std::vector<OutputReport>& recent, OutputReport report);

// A notification from the tray icon.
struct Notice {
  std::string title;
  std::string text;
};

// The desktop whose words a notice uses, where they differ.
enum class DesktopKind { Windows, X11 };

// For a text that was held: plain words with the reason and where the text
// is kept. Never the text itself.
Notice HeldTextNotice(const OutputReport& report, DesktopKind desktop);

// After a recent text was chosen in the menu: on the clipboard, or not.
Notice CopiedTextNotice(bool copied);

// Start with the system could not be changed to `enable`.
Notice AutoStartUnchangedNotice(bool enable, DesktopKind desktop);

// The phone prompt's notices; `phone` is the phone as PhoneDisplayLabel
// shows it.
Notice PhoneAskingNotice(std::string_view phone);
Notice PhoneAllowedNotice(std::string_view phone);
Notice PhoneRefusedNotice(std::string_view phone);
Notice PhoneLeftUnansweredNotice(std::string_view phone);
Notice PhoneTookOverNotice(std::string_view phone);

// The warning when the configured port cannot be served at the start.
std::string PortTakenText(int port);

}  // namespace lumora
