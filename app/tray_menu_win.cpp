#include "app/tray_menu_win.h"

#include "base/product.h"
#include "base/win32_util_win.h"

namespace lumora {

std::wstring TrayTipText(int listen_port, bool server_running) {
  return std::wstring(kProductName) + L" " + Utf8ToWide(kProductVersion) + L"\n\u76D1\u542C\u7AEF\u53E3 " +
         std::to_wstring(listen_port) +
         (server_running ? L"\n\u72B6\u6001\uFF1A\u8FD0\u884C\u4E2D"
                         : L"\n\u72B6\u6001\uFF1A\u5DF2\u505C\u6B62");
}

HMENU BuildTrayMenu(const AppConfig& config) {
  const auto checked = [](bool on) { return MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED); };

  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"\u8BBE\u7F6E...");
  AppendMenuW(menu, MF_STRING, IDM_SHOW_INFO, L"\u663E\u793A IP \u548C\u7AEF\u53E3...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, checked(config.auto_start), IDM_AUTO_START, L"\u5F00\u673A\u81EA\u542F\u52A8");
  AppendMenuW(menu, checked(config.press_enter_on_commit), IDM_PRESS_ENTER,
              L"\u63D0\u4EA4\u65F6\u6309 Enter");
  AppendMenuW(menu, checked(config.use_clipboard_paste), IDM_CLIPBOARD_PASTE,
              L"\u4F7F\u7528\u526A\u8D34\u677F\u7C98\u8D34\uFF08\u517C\u5BB9\u6A21\u5F0F\uFF09");

  HMENU themes = CreatePopupMenu();
  for (std::int32_t value = 0; value < kOverlayThemeColorCount; ++value) {
    const auto theme = static_cast<OverlayThemeColor>(value);
    AppendMenuW(themes, checked(theme == config.overlay_theme_color),
                IDM_THEME_BASE + static_cast<UINT>(value), Utf8ToWide(ThemeColorDisplayName(theme)).c_str());
  }
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(themes), L"\u4E3B\u9898\u989C\u8272");

  HMENU positions = CreatePopupMenu();
  for (std::int32_t value = 0; value < kOverlayPositionCount; ++value) {
    const auto position = static_cast<OverlayPosition>(value);
    AppendMenuW(positions, checked(position == config.overlay_position),
                IDM_POSITION_BASE + static_cast<UINT>(value),
                Utf8ToWide(PositionDisplayName(position)).c_str());
  }
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(positions), L"\u60AC\u6D6E\u7A97\u4F4D\u7F6E");

  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  // The doubled ampersand shows as one "&" rather than marking a shortcut.
  AppendMenuW(menu, MF_STRING, IDM_CONTACT, L"\u8054\u7CFB\u4F5C\u8005 && \u95EE\u9898\u53CD\u9988...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_EXIT, L"\u9000\u51FA");
  return menu;
}

std::wstring ConnectionInfoText(int listen_port, const std::vector<std::string>& addresses) {
  const std::wstring port = std::to_wstring(listen_port);
  std::wstring text = std::wstring(kProductName) + L"\u6B63\u5728\u76D1\u542C\u7AEF\u53E3 " + port +
                      L"\u3002\n\n\u672C\u673A IPv4 \u5730\u5740\uFF1A\n";
  if (addresses.empty()) {
    text += L"  \uFF08\u65E0\u53EF\u7528\u7F51\u7EDC\u63A5\u53E3\uFF09\n";
  }
  for (const std::string& address : addresses) {
    text += L"  " + Utf8ToWide(address) + L":" + port + L"\n";
  }
  text +=
      L"\n\u8BF7\u5728\u5B89\u5353 APP "
      L"\u7684\u8FDE\u63A5\u9875\u9762\u4E2D\u4F7F\u7528\u4EE5\u4E0A\u4FE1\u606F\u3002";
  return text;
}

}  // namespace lumora
