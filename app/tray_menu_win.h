#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_win.h"
#include "config/app_config.h"
#include "output/text_injector.h"

namespace lumora {

// Tray menu commands.
inline constexpr UINT IDM_SETTINGS = 1001;
inline constexpr UINT IDM_SHOW_INFO = 1002;
inline constexpr UINT IDM_EXIT = 1003;
inline constexpr UINT IDM_CONTACT = 1004;
inline constexpr UINT IDM_PRESS_ENTER = 1010;
inline constexpr UINT IDM_CLIPBOARD_PASTE = 1011;
inline constexpr UINT IDM_AUTO_START = 1012;
inline constexpr UINT IDM_THEME_BASE = 1100;
inline constexpr UINT IDM_POSITION_BASE = 1200;
// The recent texts, newest first: IDM_RECENT_BASE + index.
inline constexpr UINT IDM_RECENT_BASE = 1300;

// How many commits the tray keeps for "最近的文字".
inline constexpr std::size_t kRecentTextCount = 10;

inline constexpr UINT kTrayIconId = 1;

// The most a tray tip holds, in UTF-16 units, its terminating zero aside.
inline constexpr std::size_t kTrayTipMaxUnits = 127;

// The tray tip: product and version, the listening port, the server's state,
// `address_line` (the address to type) when not empty, and the phone:
// "手机：未连接" when `phone` is empty, else "手机：" and the phone as plain
// text on one line, cut with "…" so that the whole tip fits in
// kTrayTipMaxUnits and the lines above it are never lost.
std::wstring TrayTipText(int listen_port, bool server_running, std::wstring_view address_line,
                         std::wstring_view phone);

// The popup menu for the current settings and the recent texts (newest
// first), with its submenus.
ScopedMenu BuildTrayMenu(const AppConfig& config, const std::vector<OutputReport>& recent = {});

// A recent text as its menu item shows it: one line, at most 30 units, "&"
// shown as itself, marked when it was not typed.
std::wstring RecentTextLabel(const OutputReport& report);

// The notification for a text that was held: a title and plain words with
// the reason and where the text is kept.
struct Notice {
  std::wstring title;
  std::wstring text;
};
Notice HeldTextNotice(const OutputReport& report);

}  // namespace lumora
