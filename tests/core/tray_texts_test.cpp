#include "core/tray_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf16.h"

namespace lumora {
namespace {

OutputReport Report(std::string text, bool held = false) {
  OutputReport report;
  report.text = std::move(text);
  report.held = held;
  return report;
}

TEST(TrayTextTest, TipShowsThePortTheServerAndThePhone) {
  // With the address to type; without one its line is left out.
  const std::u16string running =
      u"Lumora语音输入 1.0.0\n监听端口 47823\n状态：运行中\n地址 192.168.1.5\n手机：";
  const std::u16string stopped = u"Lumora语音输入 1.0.0\n监听端口 50000\n状态：已停止\n手机：";
  // What is left of the tip for the phone on the running line, "…" included.
  const std::size_t room = kTrayTipMaxUnits - running.size();
  struct Case {
    const char* what;
    bool server_running;
    std::u16string phone;
    std::u16string want;
  };
  const Case cases[] = {
      {"no phone", true, u"", running + u"未连接"},
      {"a phone, the server stopped", false, u"Pixel 8（192.168.1.23）",
       stopped + u"Pixel 8（192.168.1.23）"},
      // The name made one line of plain text is PhoneDisplayText's rule, tested
      // there; what the tip shows when nothing is left is its own.
      {"a name of control characters only", true, u"\x01\r\n", running + u"未命名手机"},
      {"exactly as long as the tip holds", true, std::u16string(room, u'x'),
       running + std::u16string(room, u'x')},
      {"too long: cut, the lines above kept", true, std::u16string(200, u'x'),
       running + std::u16string(room - 1, u'x') + u"\u2026"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string tip =
        Utf8ToUtf16(TrayTipText(c.server_running ? 47823 : 50000, c.server_running,
                                c.server_running ? "地址 192.168.1.5" : "", Utf16ToUtf8(c.phone)));
    EXPECT_EQ(tip, c.want);
    EXPECT_LE(tip.size(), kTrayTipMaxUnits);
  }
}

// One line per item, a submenu's indented under it: the menu as a person
// reads it, with the command, the check box, grey and bold.
void Render(const std::vector<TrayMenuItem>& items, const std::string& indent,
            std::vector<std::string>& lines) {
  for (const TrayMenuItem& item : items) {
    std::string line = indent + (item.separator ? "---" : item.label);
    if (item.command != 0) {
      line += " #" + std::to_string(item.command);
    }
    if (item.checkable) {
      line += item.checked ? " [x]" : " [ ]";
    }
    line += item.enabled ? "" : " grey";
    line += item.is_default ? " bold" : "";
    lines.push_back(line);
    Render(item.submenu, indent + "  ", lines);
  }
}

std::vector<std::string> Rendered(const std::vector<TrayMenuItem>& items) {
  std::vector<std::string> lines;
  Render(items, "", lines);
  return lines;
}

std::string Id(std::uint32_t command) { return " #" + std::to_string(command); }

// The item of `command`, in the menu or a submenu.
const TrayMenuItem* Find(const std::vector<TrayMenuItem>& items, std::uint32_t command) {
  for (const TrayMenuItem& item : items) {
    const TrayMenuItem* found = item.command == command ? &item : Find(item.submenu, command);
    if (found != nullptr) {
      return found;
    }
  }
  return nullptr;
}

TEST(TrayMenuTest, ChecksFollowTheSettingsAndShowInfoIsTheOnlyDefault) {
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on);
    AppConfig config;
    config.auto_start = on;
    config.press_enter_on_commit = !on;
    config.use_clipboard_paste = on;
    config.overlay_theme_color = on ? OverlayThemeColor::Purple : OverlayThemeColor::White;
    config.overlay_position = on ? OverlayPosition::BottomRight : OverlayPosition::Center;
    const std::vector<TrayMenuItem> items = TrayMenuItems(config, {});
    const auto checked = [&](std::uint32_t command) {
      const TrayMenuItem* item = Find(items, command);
      EXPECT_TRUE(item != nullptr && item->checkable) << command;
      return item != nullptr && item->checked;
    };
    EXPECT_EQ(checked(kTrayCommandAutoStart), on);
    EXPECT_EQ(checked(kTrayCommandPressEnter), !on);
    EXPECT_EQ(checked(kTrayCommandClipboardPaste), on);
    for (std::uint32_t i = 0; i <= static_cast<std::uint32_t>(OverlayThemeColor::Purple); ++i) {
      EXPECT_EQ(checked(kTrayCommandThemeBase + i),
                i == static_cast<std::uint32_t>(config.overlay_theme_color));
    }
    for (std::uint32_t i = 0; i <= static_cast<std::uint32_t>(OverlayPosition::BottomRight); ++i) {
      EXPECT_EQ(checked(kTrayCommandPositionBase + i),
                i == static_cast<std::uint32_t>(config.overlay_position));
    }
    std::vector<std::string> defaults;
    for (const std::string& line : Rendered(items)) {
      if (line.ends_with(" bold")) {
        defaults.push_back(line);
      }
    }
    EXPECT_EQ(defaults.size(), 1u);
    EXPECT_TRUE(Find(items, kTrayCommandShowInfo)->is_default);
  }
}

TEST(TrayMenuTest, ARecentTextIsOneLineCutWholeWithItsAmpersandShownAndMarkedWhenHeld) {
  const struct {
    OutputReport report;
    std::string label;
  } cases[] = {
      // A lone "&" would mark an access key.
      {Report("鱼 & 熊掌\r\n二者不可得兼", true), "（未输入）鱼 && 熊掌 二者不可得兼"},
      {Report("typed"), "typed"},
      // The cut never splits the emoji.
      {Report(std::string(20, 'x') + "一二三四五六七八九十" + "\xF0\x9F\x98\x80"),
       std::string(20, 'x') + "一二三四五六七八九…"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecentTextLabel(c.report), c.label);
  }
}

TEST(TrayMenuTest, RecentTextsFromNoneToMoreThanTheMenuHolds) {
  struct Case {
    std::size_t count;
    std::vector<std::string> want;  // the submenu's lines
  };
  // Newest first: t11 down to t2.
  std::vector<std::string> ten;
  for (int i = 11; i > 1; --i) {
    ten.push_back("  t" + std::to_string(i) + Id(kTrayCommandRecentBase + 11 - i));
  }
  const Case cases[] = {
      {0, {"  （还没有） grey"}},  // nothing to choose
      {1, {"  t1" + Id(kTrayCommandRecentBase)}},
      {11, ten},  // the oldest is left out
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    std::vector<OutputReport> recent;
    for (std::size_t i = c.count; i > 0; --i) {
      recent.push_back(Report("t" + std::to_string(i)));
    }
    std::vector<std::string> lines = Rendered({TrayMenuItems(AppConfig{}, recent).front()});
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.want);
  }
}

TEST(TrayNoticeTest, HeldTextSaysWhyInTheDesktopsWordsAndWhereItIsKept) {
  struct Case {
    HoldReason reason;
    DesktopKind desktop;
    bool partly_typed;
    const char* title;
    const char* why;
  };
  const Case cases[] = {
      {HoldReason::OwnWindow, DesktopKind::Windows, false, "文字没有输入", "本程序自己的窗口"},
      {HoldReason::OwnWindow, DesktopKind::X11, false, "文字没有输入", "本程序自己的窗口"},
      {HoldReason::Elevated, DesktopKind::Windows, false, "文字没有输入", "以管理员身份运行，Windows 不允许"},
      {HoldReason::Elevated, DesktopKind::X11, false, "文字没有输入", "以管理员身份运行"},
      {HoldReason::OtherDesktop, DesktopKind::Windows, false, "文字没有输入",
       "屏幕已锁定，或正在显示安全提示。"},
      {HoldReason::OtherDesktop, DesktopKind::X11, false, "文字没有输入", "屏幕已锁定。"},
      {HoldReason::ModifiersHeld, DesktopKind::Windows, false, "文字没有输入",
       "Ctrl、Alt、Shift 或 Windows 键"},
      {HoldReason::ModifiersHeld, DesktopKind::X11, false, "文字没有输入", "Ctrl、Alt、Shift 或 Super 键"},
      {HoldReason::InputRefused, DesktopKind::Windows, true, "文字只输入了一部分", "Windows 没有接受输入"},
      {HoldReason::InputRefused, DesktopKind::X11, true, "文字只输入了一部分", "系统没有接受输入"},
      {HoldReason::QueueFull, DesktopKind::X11, false, "文字没有输入", "等待输入的文字太多"},
      {HoldReason::PasteNotRead, DesktopKind::X11, true, "文字只输入了一部分", "没有及时读取剪贴板"},
  };
  for (const Case& c : cases) {
    OutputReport report = Report("secret", true);
    report.reason = c.reason;
    report.partly_typed = c.partly_typed;
    const Notice notice = HeldTextNotice(report, c.desktop);
    SCOPED_TRACE(notice.text);
    EXPECT_EQ(notice.title, c.title);
    EXPECT_NE(notice.text.find(c.why), std::string::npos);
    EXPECT_NE(notice.text.find("「最近的文字」"), std::string::npos);
    EXPECT_EQ(notice.text.find("secret"), std::string::npos);
    if (c.desktop == DesktopKind::X11) {
      EXPECT_EQ(notice.text.find("Windows"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace lumora
