#include "core/tray_texts.h"

#include <utility>

#include "base/display_text.h"
#include "base/product.h"
#include "base/utf16.h"

namespace lumora {
namespace {

TrayMenuItem Command(std::uint32_t command, std::string label) {
  TrayMenuItem item;
  item.command = command;
  item.label = std::move(label);
  return item;
}

TrayMenuItem Toggle(std::uint32_t command, std::string label, bool on) {
  TrayMenuItem item = Command(command, std::move(label));
  item.checkable = true;
  item.checked = on;
  return item;
}

TrayMenuItem Separator() {
  TrayMenuItem item;
  item.separator = true;
  return item;
}

TrayMenuItem Submenu(std::string label, std::vector<TrayMenuItem> items) {
  TrayMenuItem item;
  item.label = std::move(label);
  item.submenu = std::move(items);
  return item;
}

}  // namespace

std::vector<TrayMenuItem> TrayMenuItems(const AppConfig& config, const std::vector<OutputReport>& recent) {
  std::vector<TrayMenuItem> texts;
  for (std::size_t i = 0; i < recent.size() && i < kRecentTextCount; ++i) {
    texts.push_back(
        Command(kTrayCommandRecentBase + static_cast<std::uint32_t>(i), RecentTextLabel(recent[i])));
  }
  if (texts.empty()) {
    TrayMenuItem none = Command(0, "（还没有）");
    none.enabled = false;
    texts.push_back(std::move(none));
  }
  std::vector<TrayMenuItem> themes;
  for (std::int32_t value = 0; value < kOverlayThemeColorCount; ++value) {
    const auto theme = static_cast<OverlayThemeColor>(value);
    themes.push_back(Toggle(kTrayCommandThemeBase + static_cast<std::uint32_t>(value),
                            std::string(ThemeColorDisplayName(theme)), theme == config.overlay_theme_color));
  }
  std::vector<TrayMenuItem> positions;
  for (std::int32_t value = 0; value < kOverlayPositionCount; ++value) {
    const auto position = static_cast<OverlayPosition>(value);
    positions.push_back(Toggle(kTrayCommandPositionBase + static_cast<std::uint32_t>(value),
                               std::string(PositionDisplayName(position)),
                               position == config.overlay_position));
  }
  TrayMenuItem show_info = Command(kTrayCommandShowInfo, "显示 IP 和端口...");
  show_info.is_default = true;

  std::vector<TrayMenuItem> menu;
  // First: after a notice about held text, this is what the user came for.
  menu.push_back(Submenu("最近的文字", std::move(texts)));
  menu.push_back(Separator());
  menu.push_back(Command(kTrayCommandSettings, "设置..."));
  menu.push_back(std::move(show_info));
  menu.push_back(Separator());
  menu.push_back(Toggle(kTrayCommandAutoStart, "开机自启动", config.auto_start));
  menu.push_back(Toggle(kTrayCommandPressEnter, "提交时按 Enter", config.press_enter_on_commit));
  menu.push_back(
      Toggle(kTrayCommandClipboardPaste, "使用剪贴板粘贴（兼容模式）", config.use_clipboard_paste));
  menu.push_back(Submenu("主题颜色", std::move(themes)));
  menu.push_back(Submenu("悬浮窗位置", std::move(positions)));
  menu.push_back(Separator());
  // The doubled ampersand shows as one "&" rather than marking a shortcut.
  menu.push_back(Command(kTrayCommandContact, "联系作者 && 问题反馈..."));
  menu.push_back(Separator());
  menu.push_back(Command(kTrayCommandExit, "退出"));
  return menu;
}

std::string TrayTipText(int listen_port, bool server_running, std::string_view address_line,
                        std::string_view phone) {
  std::u16string tip =
      Utf8ToUtf16(std::string(PARLINO_PRODUCT_NAME_TEXT " ") + kProductVersion + "\n监听端口 " +
                  std::to_string(listen_port) + (server_running ? "\n状态：运行中" : "\n状态：已停止"));
  if (!address_line.empty()) {
    tip += u"\n";
    tip += Utf8ToUtf16(address_line);
  }
  tip += u"\n手机：";
  if (phone.empty()) {
    tip += u"未连接";
    return Utf16ToUtf8(tip);
  }
  // The phone's name comes from the phone: a line break in it must not make
  // a line of its own.
  const std::size_t room = tip.size() < kTrayTipMaxUnits ? kTrayTipMaxUnits - tip.size() : 0;
  const std::u16string shown = PhoneDisplayText(Utf8ToUtf16(phone), room);
  tip += shown.empty() ? u"未命名手机" : shown;
  return Utf16ToUtf8(CutDisplayText(tip, kTrayTipMaxUnits));
}

void KeepRecentText(std::vector<OutputReport>& recent, OutputReport report) {
  recent.insert(recent.begin(), std::move(report));
  if (recent.size() > kRecentTextCount) {
    recent.resize(kRecentTextCount);
  }
}

std::string RecentTextLabel(const OutputReport& report) {
  constexpr std::size_t kLabelUnits = 30;
  // Line breaks and other control characters go: an item is one line.
  const std::string shown = PhoneDisplayText(report.text, kLabelUnits);
  std::string label = report.held ? "（未输入）" : "";
  for (const char byte : shown) {
    label += byte;
    if (byte == '&') {
      label += '&';  // a single one would mark a shortcut key
    }
  }
  return label;
}

Notice HeldTextNotice(const OutputReport& report, DesktopKind desktop) {
  const bool windows = desktop == DesktopKind::Windows;
  std::string why;
  switch (report.reason) {
    case HoldReason::OwnWindow:
      why = "当时在最前面的是本程序自己的窗口。";
      break;
    case HoldReason::Elevated:
      why = windows ? "当时在最前面的程序以管理员身份运行，Windows 不允许向它输入。"
                    : "当时在最前面的程序以管理员身份运行，系统不允许向它输入。";
      break;
    case HoldReason::OtherDesktop:
      why = windows ? "屏幕已锁定，或正在显示安全提示。" : "屏幕已锁定。";
      break;
    case HoldReason::ModifiersHeld:
      why = windows ? "Ctrl、Alt、Shift 或 Windows 键一直按着。" : "Ctrl、Alt、Shift 或 Super 键一直按着。";
      break;
    case HoldReason::InputRefused:
      why = windows ? "Windows 没有接受输入。" : "系统没有接受输入。";
      break;
    case HoldReason::QueueFull:
      why = "等待输入的文字太多，这段没有排上队。";
      break;
    case HoldReason::PasteNotRead:
      why = "粘贴后，最前面的程序没有及时读取剪贴板，不能确定文字是否已输入。";
      break;
    case HoldReason::Exiting:
      break;  // never reported: the program is closing
  }
  return {report.partly_typed ? "文字只输入了一部分" : "文字没有输入",
          why + "整段文字已保留：在托盘菜单「最近的文字」中选择它即可复制。"};
}

Notice CopiedTextNotice(bool copied) {
  if (copied) {
    return {"文字已复制", "按 Ctrl+V 把它粘贴到需要的地方。"};
  }
  return {"文字没有复制", "剪贴板正被其他程序占用，请稍后再试。"};
}

Notice AutoStartUnchangedNotice(bool enable, DesktopKind desktop) {
  // A Latin word takes a blank before Chinese; "系统" does not.
  const std::string refused = desktop == DesktopKind::Windows ? "Windows 没有允许" : "系统没有允许";
  return {"开机自启动没有更改", enable ? refused + "写入启动项：登录时本程序不会自动启动。"
                                       : refused + "删除启动项：登录时本程序仍会自动启动。"};
}

Notice PhoneAskingNotice(std::string_view phone) {
  return {"新手机请求连接", std::string(phone) + " 请求向这台电脑输入文字。单击此通知或托盘图标来回答。"};
}

Notice PhoneAllowedNotice(std::string_view phone) {
  return {"已允许手机", std::string(phone) + " 现在可以输入文字，下次连接时不再询问。"};
}

Notice PhoneRefusedNotice(std::string_view phone) {
  return {"已拒绝手机", std::string(phone) + " 不能向这台电脑输入文字。"};
}

Notice PhoneLeftUnansweredNotice(std::string_view phone) {
  return {"已拒绝手机", std::string(phone) + " 没有得到允许，已断开。"};
}

Notice PhoneTookOverNotice(std::string_view phone) {
  return {"手机已接管", std::string(phone) + " 接替了之前连接的手机。"};
}

std::string PortTakenText(int port) {
  return "无法绑定 TCP 端口 " + std::to_string(port) +
         "。\n\n可能已有其他程序占用该端口。请打开「设置」更换端口。";
}

}  // namespace lumora
