#include "app/tray_menu_win.h"

#include <utility>

#include "base/product.h"
#include "base/win32_util_win.h"
#include "ui/phone_text_win.h"

namespace lumora {

namespace {

// Hands `submenu` to `menu` once it is attached; until then it is still the
// wrapper's to destroy.
void AppendSubmenu(HMENU menu, ScopedMenu submenu, const wchar_t* text) {
  if (AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu.get()), text)) {
    submenu.Release();
  }
}

}  // namespace

std::wstring TrayTipText(int listen_port, bool server_running, std::wstring_view address_line,
                         std::wstring_view phone) {
  std::wstring tip = std::wstring(kProductName) + L" " + Utf8ToWide(kProductVersion) + L"\n监听端口 " +
                     std::to_wstring(listen_port) + (server_running ? L"\n状态：运行中" : L"\n状态：已停止");
  if (!address_line.empty()) {
    tip += L"\n";
    tip += address_line;
  }
  tip += L"\n手机：";
  if (phone.empty()) {
    tip += L"未连接";
    return tip;
  }
  // The phone's name comes from the phone: a line break in it must not make
  // a line of its own.
  const std::size_t room = tip.size() < kTrayTipMaxUnits ? kTrayTipMaxUnits - tip.size() : 0;
  const std::wstring shown = PhoneDisplayText(phone, room);
  tip += shown.empty() ? L"未命名手机" : shown;
  return CutDisplayText(tip, kTrayTipMaxUnits);
}

ScopedMenu BuildTrayMenu(const AppConfig& config, const std::vector<OutputReport>& recent) {
  const auto checked = [](bool on) { return MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED); };

  ScopedMenu owned(CreatePopupMenu());
  const HMENU menu = owned.get();
  // First: after a notice about held text, this is what the user came for.
  ScopedMenu texts(CreatePopupMenu());
  for (std::size_t i = 0; i < recent.size() && i < kRecentTextCount; ++i) {
    AppendMenuW(texts.get(), MF_STRING, IDM_RECENT_BASE + static_cast<UINT>(i),
                RecentTextLabel(recent[i]).c_str());
  }
  if (recent.empty()) {
    AppendMenuW(texts.get(), MF_STRING | MF_GRAYED, 0, L"（还没有）");
  }
  AppendSubmenu(menu, std::move(texts), L"最近的文字");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"设置...");
  AppendMenuW(menu, MF_STRING, IDM_SHOW_INFO, L"显示 IP 和端口...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, checked(config.auto_start), IDM_AUTO_START, L"开机自启动");
  AppendMenuW(menu, checked(config.press_enter_on_commit), IDM_PRESS_ENTER, L"提交时按 Enter");
  AppendMenuW(menu, checked(config.use_clipboard_paste), IDM_CLIPBOARD_PASTE, L"使用剪贴板粘贴（兼容模式）");

  ScopedMenu themes(CreatePopupMenu());
  for (std::int32_t value = 0; value < kOverlayThemeColorCount; ++value) {
    const auto theme = static_cast<OverlayThemeColor>(value);
    AppendMenuW(themes.get(), checked(theme == config.overlay_theme_color),
                IDM_THEME_BASE + static_cast<UINT>(value), Utf8ToWide(ThemeColorDisplayName(theme)).c_str());
  }
  AppendSubmenu(menu, std::move(themes), L"主题颜色");

  ScopedMenu positions(CreatePopupMenu());
  for (std::int32_t value = 0; value < kOverlayPositionCount; ++value) {
    const auto position = static_cast<OverlayPosition>(value);
    AppendMenuW(positions.get(), checked(position == config.overlay_position),
                IDM_POSITION_BASE + static_cast<UINT>(value),
                Utf8ToWide(PositionDisplayName(position)).c_str());
  }
  AppendSubmenu(menu, std::move(positions), L"悬浮窗位置");

  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  // The doubled ampersand shows as one "&" rather than marking a shortcut.
  AppendMenuW(menu, MF_STRING, IDM_CONTACT, L"联系作者 && 问题反馈...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, IDM_EXIT, L"退出");
  // Bold: what a left click on the icon does.
  SetMenuDefaultItem(menu, IDM_SHOW_INFO, FALSE);
  return owned;
}

std::wstring RecentTextLabel(const OutputReport& report) {
  constexpr std::size_t kLabelUnits = 30;
  // Line breaks and other control characters go: an item is one line.
  std::wstring shown = PhoneDisplayText(Utf8ToWide(report.text), kLabelUnits);
  std::wstring label = report.held ? L"（未输入）" : L"";
  for (wchar_t unit : shown) {
    label += unit;
    if (unit == L'&') {
      label += L'&';  // a single one would mark a shortcut key
    }
  }
  return label;
}

Notice HeldTextNotice(const OutputReport& report) {
  std::wstring why;
  switch (report.reason) {
    case HoldReason::OwnWindow:
      why = L"当时在最前面的是本程序自己的窗口。";
      break;
    case HoldReason::Elevated:
      why = L"当时在最前面的程序以管理员身份运行，Windows 不允许向它输入。";
      break;
    case HoldReason::OtherDesktop:
      why = L"屏幕已锁定，或正在显示安全提示。";
      break;
    case HoldReason::ModifiersHeld:
      why = L"Ctrl、Alt、Shift 或 Windows 键一直按着。";
      break;
    case HoldReason::InputRefused:
      why = L"Windows 没有接受输入。";
      break;
    case HoldReason::QueueFull:
      why = L"等待输入的文字太多，这段没有排上队。";
      break;
    case HoldReason::PasteNotRead:
      why = L"粘贴后，最前面的程序没有及时读取剪贴板，不能确定文字是否已输入。";
      break;
    case HoldReason::Exiting:
      break;  // never reported: the program is closing
  }
  Notice notice;
  notice.title = report.partly_typed ? L"文字只输入了一部分" : L"文字没有输入";
  notice.text = why + L"整段文字已保留：在托盘菜单「最近的文字」中选择它即可复制。";
  return notice;
}

}  // namespace lumora
