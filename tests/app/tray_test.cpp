// The tray: its tip, its menu and what each command does to the live
// settings, the file and the registry, on a real host under Wine; the icon,
// its tip and its notices as the shell holds them.

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/auto_start_win.h"
#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "base/scoped_win.h"
#include "log/log.h"
#include "net/socket_platform.h"
#include "tests/support/clipboard_win.h"
#include "tests/support/free_port.h"
#include "tests/support/shell_tray_win.h"
#include "ui/connection_view.h"

namespace lumora {
namespace {

TEST(TrayTextTest, TipShowsThePortTheServerAndThePhone) {
  // With the address to type; without one its line is left out.
  const std::wstring running =
      L"Lumora语音输入 1.0.0\n监听端口 47823\n状态：运行中\n地址 192.168.1.5\n手机：";
  const std::wstring stopped = L"Lumora语音输入 1.0.0\n监听端口 50000\n状态：已停止\n手机：";
  const std::wstring smile = L"\xD83D\xDE00";  // U+1F600, a surrogate pair
  // What is left of the tip for the phone on the running line, "…" included.
  const std::size_t room = kTrayTipMaxUnits - running.size();
  struct Case {
    const char* what;
    bool server_running;
    std::wstring phone;
    std::wstring want;
  };
  const Case cases[] = {
      {"no phone", true, L"", running + L"未连接"},
      {"a phone, the server stopped", false, L"Pixel 8 (192.168.1.23)", stopped + L"Pixel 8 (192.168.1.23)"},
      {"a line break in the name makes no line", true, L"My\r\nPhone\t(10.0.0.2)",
       running + L"My Phone (10.0.0.2)"},
      {"a name of control characters only", true, L"\x01\r\n", running + L"未命名手机"},
      {"exactly as long as the tip holds", true, std::wstring(room, L'x'),
       running + std::wstring(room, L'x')},
      {"too long: cut, the lines above kept", true, std::wstring(200, L'x'),
       running + std::wstring(room - 1, L'x') + L"\x2026"},
      {"a character of two units at the cut goes whole", true, std::wstring(room - 2, L'x') + smile + L"yz",
       running + std::wstring(room - 2, L'x') + L"\x2026"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring tip = TrayTipText(c.server_running ? 47823 : 50000, c.server_running,
                                         c.server_running ? L"地址 192.168.1.5" : L"", c.phone);
    EXPECT_EQ(tip, c.want);
    EXPECT_LE(tip.size(), kTrayTipMaxUnits);
  }
}

struct Item {
  std::wstring text;
  UINT id;
  bool checked;
  bool separator;
  bool submenu;
};

std::vector<Item> ReadMenu(HMENU menu) {
  std::vector<Item> items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 128;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
    items.push_back({text, info.wID, (info.fState & MFS_CHECKED) != 0, (info.fType & MFT_SEPARATOR) != 0,
                     info.hSubMenu != nullptr});
  }
  return items;
}

TEST(TrayMenuTest, ItemsOrderChecksAndSubmenus) {
  AppConfig config;
  config.auto_start = false;
  config.press_enter_on_commit = true;
  config.use_clipboard_paste = true;
  config.overlay_theme_color = OverlayThemeColor::Blue;
  config.overlay_position = OverlayPosition::BottomRight;
  const ScopedMenu owned = BuildTrayMenu(config);
  const HMENU menu = owned.get();
  const std::vector<Item> items = ReadMenu(menu);
  ASSERT_EQ(items.size(), 14u);
  const struct {
    const wchar_t* text;
    UINT id;
    bool checked;
  } want[] = {
      {L"最近的文字", 0, false},
      {L"", 0, false},
      {L"设置...", IDM_SETTINGS, false},
      {L"显示 IP 和端口...", IDM_SHOW_INFO, false},
      {L"", 0, false},
      {L"开机自启动", IDM_AUTO_START, false},
      {L"提交时按 Enter", IDM_PRESS_ENTER, true},
      {L"使用剪贴板粘贴（兼容模式）", IDM_CLIPBOARD_PASTE, true},
      {L"主题颜色", 0, false},
      {L"悬浮窗位置", 0, false},
      {L"", 0, false},
      {L"联系作者 && 问题反馈...", IDM_CONTACT, false},
      {L"", 0, false},
      {L"退出", IDM_EXIT, false},
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].text, want[i].text);
    EXPECT_EQ(items[i].separator, want[i].text[0] == L'\0');
    if (!items[i].submenu && !items[i].separator) {
      EXPECT_EQ(items[i].id, want[i].id);
    }
    EXPECT_EQ(items[i].checked, want[i].checked);
  }
  // A left click shows the connection box: the bold item says so.
  EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), IDM_SHOW_INFO);
  EXPECT_TRUE(items[0].submenu);
  EXPECT_TRUE(items[8].submenu);
  EXPECT_TRUE(items[9].submenu);

  // No text yet: one item that cannot be chosen.
  const HMENU no_texts = GetSubMenu(menu, 0);
  ASSERT_EQ(GetMenuItemCount(no_texts), 1);
  EXPECT_EQ(ReadMenu(no_texts)[0].text, L"（还没有）");
  EXPECT_NE(GetMenuState(no_texts, 0, MF_BYPOSITION) & MF_GRAYED, 0u);

  const std::vector<Item> themes = ReadMenu(GetSubMenu(menu, 8));
  const std::vector<std::wstring> theme_names = {L"白", L"粉", L"绿", L"黄", L"蓝", L"紫"};
  ASSERT_EQ(themes.size(), theme_names.size());
  for (std::size_t i = 0; i < themes.size(); ++i) {
    EXPECT_EQ(themes[i].text, theme_names[i]);
    EXPECT_EQ(themes[i].id, IDM_THEME_BASE + i);
    EXPECT_EQ(themes[i].checked, i == 4);
  }
  const std::vector<Item> positions = ReadMenu(GetSubMenu(menu, 9));
  const std::vector<std::wstring> position_names = {L"居中", L"左上", L"右上", L"左下", L"右下"};
  ASSERT_EQ(positions.size(), position_names.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    EXPECT_EQ(positions[i].text, position_names[i]);
    EXPECT_EQ(positions[i].id, IDM_POSITION_BASE + i);
    EXPECT_EQ(positions[i].checked, i == 4);
  }
}

OutputReport Report(std::string text, bool held = false, bool partly_typed = false) {
  OutputReport report;
  report.text = std::move(text);
  report.held = held;
  report.reason = HoldReason::OwnWindow;
  report.partly_typed = partly_typed;
  return report;
}

TEST(TrayMenuTest, RecentTextsNewestFirstOneLineEachHeldOnesMarked) {
  std::vector<OutputReport> recent = {
      Report("鱼 & 熊掌\r\n二者不可得兼", true),
      Report("typed"),
      Report(std::string(20, 'x') + "一二三四五六七八九十" + "\xF0\x9F\x98\x80"),
  };
  const ScopedMenu menu = BuildTrayMenu(AppConfig{}, recent);
  const std::vector<Item> texts = ReadMenu(GetSubMenu(menu.get(), 0));
  ASSERT_EQ(texts.size(), 3u);
  // A lone "&" would underline the next character; the cut never splits the
  // emoji.
  EXPECT_EQ(texts[0].text, L"（未输入）鱼 && 熊掌 二者不可得兼");
  EXPECT_EQ(texts[1].text, L"typed");
  EXPECT_EQ(texts[2].text, std::wstring(20, L'x') + L"一二三四五六七八九\x2026");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i].id, IDM_RECENT_BASE + i);
  }
}

TEST(TrayMenuTest, HeldTextNoticeSaysWhyAndWhere) {
  const struct {
    HoldReason reason;
    bool partly_typed;
    const wchar_t* title;
    const wchar_t* why;
  } cases[] = {
      {HoldReason::OwnWindow, false, L"文字没有输入", L"本程序自己的窗口"},
      {HoldReason::Elevated, false, L"文字没有输入", L"以管理员身份运行"},
      {HoldReason::OtherDesktop, false, L"文字没有输入", L"屏幕已锁定"},
      {HoldReason::ModifiersHeld, false, L"文字没有输入", L"Ctrl、Alt、Shift 或 Windows 键"},
      {HoldReason::InputRefused, true, L"文字只输入了一部分", L"Windows 没有接受输入"},
  };
  for (const auto& c : cases) {
    OutputReport report = Report("secret", true, c.partly_typed);
    report.reason = c.reason;
    const Notice notice = HeldTextNotice(report);
    SCOPED_TRACE(notice.text);
    EXPECT_EQ(notice.title, c.title);
    EXPECT_NE(notice.text.find(c.why), std::wstring::npos);
    EXPECT_NE(notice.text.find(L"「最近的文字」"), std::wstring::npos);
    EXPECT_EQ(notice.text.find(L"secret"), std::wstring::npos);
  }
}

TEST(TrayMenuTest, SubmenusGoWithTheMenu) {
  HMENU menu = nullptr;
  HMENU themes = nullptr;
  HMENU positions = nullptr;
  {
    ScopedMenu moved_from = BuildTrayMenu(AppConfig{});
    const ScopedMenu built = std::move(moved_from);
    EXPECT_EQ(moved_from.get(), nullptr);
    menu = built.get();
    themes = GetSubMenu(menu, 8);
    positions = GetSubMenu(menu, 9);
    ASSERT_TRUE(IsMenu(menu));
    ASSERT_TRUE(IsMenu(themes));
    ASSERT_TRUE(IsMenu(positions));
  }
  // One DestroyMenu took all three, and the moved-from owner destroyed none.
  EXPECT_FALSE(IsMenu(menu));
  EXPECT_FALSE(IsMenu(themes));
  EXPECT_FALSE(IsMenu(positions));
}

std::string FileText() {
  std::ifstream in(ConfigFilePath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool RunValueExists() {
  return RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

// Whether the icon's square on the screen holds the connected badge: a few
// pixels of its green (res/make_images.sh), which the plain icon's teal and
// blue never come near.
bool ShowsTheConnectedBadge(HWND icon_window) {
  RECT rect{};
  if (!GetWindowRect(icon_window, &rect)) {
    return false;
  }
  const ScopedGetDC screen(nullptr);
  int green = 0;
  for (LONG y = rect.top; y < rect.bottom; ++y) {
    for (LONG x = rect.left; x < rect.right; ++x) {
      const COLORREF pixel = GetPixel(screen.get(), x, y);
      const int r = GetRValue(pixel);
      const int g = GetGValue(pixel);
      const int b = GetBValue(pixel);
      green += g > 150 && g > r + 80 && g > b + 60 ? 1 : 0;
    }
  }
  return green >= 4;
}

// A whole host without its message loop: settings from a written file, the
// overlay, the coordinator, the tray icon and a server on a free port.
class TrayHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    written_.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
    written_.auto_start = false;
    SaveAppConfig(written_);
    app_.emplace(GetModuleHandleW(nullptr));
    ASSERT_TRUE(app_->InitHostWindow());
    if (StartsComponents()) {
      app_->StartComponents();
    }
  }

  // False: the test starts them itself.
  virtual bool StartsComponents() const { return true; }

  // The tip for this host's port, as the user should read it.
  std::wstring RunningTip(const std::wstring& phone = L"未连接") const {
    const std::u16string address = TipAddressLine(GetRankedAddresses());
    return L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(written_.listen_port) + L"\n状态：运行中\n" +
           std::wstring(address.begin(), address.end()) + L"\n手机：" + phone;
  }

  // The shell's window for the host's icon.
  HWND ShellIcon() {
    testing::TrayCallbackRecorder recorder(app_->window(), kTrayCallbackMessage);
    return testing::FindShellIcon(recorder, kTrayIconId);
  }

  AppConfig written_;
  std::optional<Win32App> app_;
};

TEST_F(TrayHostTest, ShellShowsTheIconWithTheRunningTipUntilTheHostEnds) {
  ASSERT_NE(app_->server(), nullptr);
  ASSERT_TRUE(app_->server()->IsRunning());
  const HWND host = app_->window();
  EXPECT_TRUE(testing::ShellHoldsIcon(host, kTrayIconId));
  EXPECT_FALSE(testing::ShellHoldsIcon(host, kTrayIconId + 1));

  HWND icon = nullptr;
  {
    testing::TrayCallbackRecorder recorder(host, kTrayCallbackMessage);
    icon = testing::FindShellIcon(recorder, kTrayIconId);
    ASSERT_NE(icon, nullptr) << "no icon of the shell calls the host back";
    // Version 4: the pointer's screen position in wParam, the event and the
    // icon's id in lParam.
    RECT rect{};
    GetWindowRect(icon, &rect);
    const testing::TrayCallbackRecorder::Callback& moved = recorder.seen().front();
    EXPECT_EQ(static_cast<short>(LOWORD(moved.wparam)), rect.left + 2);
    EXPECT_EQ(static_cast<short>(HIWORD(moved.wparam)), rect.top + 2);
  }
  EXPECT_EQ(testing::ShellTipOf(icon), RunningTip());
  EXPECT_TRUE(testing::PumpShellUntil([&] { return testing::ShellShowsAPicture(icon); })) << "a blank icon";

  app_.reset();
  EXPECT_FALSE(testing::ShellHoldsIcon(host, kTrayIconId)) << "the icon outlived the host";
  EXPECT_FALSE(IsWindow(icon));
}

TEST_F(TrayHostTest, IconAndTipComeBackWhenTheTaskbarIsCreatedAgain) {
  const HWND host = app_->window();
  // A restarted shell has forgotten every icon; a change of display scale
  // sends the same message while the shell still holds ours.
  for (const bool forgotten : {true, false}) {
    SCOPED_TRACE(forgotten ? "icon forgotten" : "icon still there");
    const std::wstring phone = forgotten ? L"Pixel 8 (192.168.1.23)" : L"Mi 13 (192.168.1.24)";
    if (forgotten) {
      NOTIFYICONDATAW icon{};
      icon.cbSize = sizeof icon;
      icon.hWnd = host;
      icon.uID = kTrayIconId;
      ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
      ASSERT_FALSE(testing::ShellHoldsIcon(host, kTrayIconId));
    }
    SendMessageW(host, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(testing::ShellHoldsIcon(host, kTrayIconId));
    // Updates reach the shell afterwards: the phone set now shows.
    app_->SetTrayPhone(phone);
    const HWND icon = ShellIcon();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(testing::ShellTipOf(icon), RunningTip(phone));
    EXPECT_TRUE(testing::PumpShellUntil([&] { return ShowsTheConnectedBadge(icon); }));
  }
  // And the host takes its icon with it: no ghost is left.
  app_.reset();
  EXPECT_FALSE(testing::ShellHoldsIcon(host, kTrayIconId));
}

TEST_F(TrayHostTest, IconAndTipFollowThePhone) {
  const HWND icon = ShellIcon();
  ASSERT_NE(icon, nullptr);
  ASSERT_TRUE(testing::PumpShellUntil([&] { return testing::ShellShowsAPicture(icon); })) << "a blank icon";
  const std::wstring long_phone = L"手机" + std::wstring(150, L'名') + L" (192.168.1.23)";
  const std::wstring shown_long =
      long_phone.substr(0, kTrayTipMaxUnits - RunningTip(L"").size() - 1) + L"\x2026";
  struct Step {
    const char* what;
    std::wstring phone;
    std::wstring tip_phone;
    bool badge;
  };
  const Step steps[] = {
      {"none yet", L"", L"未连接", false},
      {"connected", L"Pixel 8 (192.168.1.23)", L"Pixel 8 (192.168.1.23)", true},
      {"another phone, its name too long for the tip", long_phone, shown_long, true},
      {"gone", L"", L"未连接", false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    app_->SetTrayPhone(step.phone);
    const std::wstring tip = RunningTip(step.tip_phone);
    testing::PumpShellUntil([&] { return testing::ShellTipOf(icon) == tip; });
    EXPECT_EQ(testing::ShellTipOf(icon), tip);
    EXPECT_TRUE(testing::PumpShellUntil([&] { return ShowsTheConnectedBadge(icon) == step.badge; }))
        << (step.badge ? "no green dot" : "a green dot");
    EXPECT_TRUE(testing::ShellShowsAPicture(icon));
  }
}

TEST_F(TrayHostTest, NoticeReachesTheShellAndLaterUpdatesDoNotRepeatIt) {
  const HWND icon = ShellIcon();
  ASSERT_NE(icon, nullptr);
  ASSERT_FALSE(testing::ShellBalloonOf(icon).has_value());
  // Longer than the shell's fields (63 and 255 units): cut, not refused.
  const std::wstring title = L"新手机" + std::wstring(100, L'题');
  const std::wstring text = L"Pixel 8 (192.168.1.23) " + std::wstring(300, L'文');
  app_->ShowTrayNotice(title, text);
  std::optional<testing::ShellTooltip> balloon;
  EXPECT_TRUE(testing::PumpShellUntil([&] { return (balloon = testing::ShellBalloonOf(icon)).has_value(); },
                                      std::chrono::milliseconds(10000)))
      << "no balloon from the icon";
  ASSERT_TRUE(balloon.has_value());
  // Its text as the shell holds it. (Its title cannot be checked here: Wine 8
  // draws it but answers TTM_GETTITLE with an empty one.)
  EXPECT_EQ(balloon->text, text.substr(0, 254) + L"\x2026");
  // The notice leaves the tip as it was.
  EXPECT_EQ(testing::ShellTipOf(icon), RunningTip());

  // Were the notice still in the icon's record, the shell would take this
  // update for a new notice and take the balloon down at once.
  app_->SetTrayPhone(L"Pixel 8 (192.168.1.23)");
  testing::PumpShellUntil([] { return false; }, std::chrono::milliseconds(500));
  EXPECT_TRUE(IsWindowVisible(balloon->window)) << "the update took the notice down";
  EXPECT_EQ(testing::ShellTipOf(icon), RunningTip(L"Pixel 8 (192.168.1.23)"));
}

// The addresses of a played PC, which the test changes as a new network would.
std::vector<ShownAddress> g_played_addresses;
std::vector<ShownAddress> PlayedAddresses() { return g_played_addresses; }

ShownAddress ToType(const char* address) {
  ShownAddress shown;
  shown.address = address;
  shown.recommended = true;
  return shown;
}

class TrayAddressTest : public TrayHostTest {
 protected:
  void SetUp() override {
    g_played_addresses = {ToType("192.168.1.5")};
    detail::SetAddressQueryForTest(&PlayedAddresses);
    TrayHostTest::SetUp();
  }
  void TearDown() override { detail::SetAddressQueryForTest(nullptr); }
};

TEST_F(TrayAddressTest, TheTipAndANoticeFollowTheAddressToType) {
  const HWND icon = ShellIcon();
  ASSERT_NE(icon, nullptr);
  const auto tip_says = [&](const wchar_t* line) {
    const std::optional<std::wstring> tip = testing::ShellTipOf(icon);
    return tip.has_value() && tip->find(line) != std::wstring::npos;
  };
  EXPECT_TRUE(tip_says(L"\n地址 192.168.1.5\n"));
  // Another Wi-Fi: a burst of notifications, then one notice with the new
  // address and the port, once they have settled.
  g_played_addresses = {ToType("10.0.0.9")};
  app_->OnAddressesChanged();
  app_->OnAddressesChanged();
  std::optional<testing::ShellTooltip> balloon;
  EXPECT_TRUE(testing::PumpShellUntil([&] { return (balloon = testing::ShellBalloonOf(icon)).has_value(); },
                                      std::chrono::milliseconds(10000)));
  ASSERT_TRUE(balloon.has_value());
  EXPECT_NE(balloon->text.find(L"10.0.0.9:" + std::to_wstring(written_.listen_port)), std::wstring::npos)
      << balloon->text;
  EXPECT_TRUE(tip_says(L"\n地址 10.0.0.9\n"));
  // The network gone: the tip says so.
  g_played_addresses.clear();
  app_->TakeAddresses(true);
  EXPECT_TRUE(testing::PumpShellUntil([&] { return tip_says(L"\n地址：没有网络\n"); }));
}

class TrayBeforeStartTest : public TrayHostTest {
 protected:
  bool StartsComponents() const override { return false; }
};

TEST_F(TrayBeforeStartTest, PhoneSetBeforeTheIconExistsShowsWhenItIsAdded) {
  const HWND host = app_->window();
  app_->ShowTrayNotice(L"新手机", L"Pixel 8");  // no icon yet: nothing
  app_->SetTrayPhone(L"Pixel 8 (192.168.1.23)");
  EXPECT_FALSE(testing::ShellHoldsIcon(host, kTrayIconId));

  app_->StartComponents();
  const HWND icon = ShellIcon();
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(testing::ShellTipOf(icon), RunningTip(L"Pixel 8 (192.168.1.23)"));
  EXPECT_TRUE(testing::PumpShellUntil([&] { return ShowsTheConnectedBadge(icon); }));
}

TEST_F(TrayHostTest, CommandsChangeTheLiveRecordAndTheFile) {
  struct Case {
    UINT command;
    const char* file_line;
  };
  const Case cases[] = {
      {IDM_PRESS_ENTER, "press_enter_on_commit = false\r\n"},
      {IDM_CLIPBOARD_PASTE, "use_clipboard_paste = true\r\n"},
      {IDM_THEME_BASE + 4, "overlay_theme_color = \"blue\"\r\n"},
      {IDM_POSITION_BASE + 3, "overlay_position = \"bottom_left\"\r\n"},
      {IDM_THEME_BASE + 4, "overlay_theme_color = \"blue\"\r\n"},  // the current theme again
      {IDM_PRESS_ENTER, "press_enter_on_commit = true\r\n"},
      {9999, "use_clipboard_paste = true\r\n"},  // unknown: nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    app_->ExecuteTrayCommand(c.command);
    EXPECT_NE(FileText().find(c.file_line), std::string::npos) << FileText();
    EXPECT_EQ(LoadAppConfig(), app_->config());
  }
}

TEST_F(TrayHostTest, AutoStartToggleWritesAndDeletesTheRunValue) {
  app_->ExecuteTrayCommand(IDM_AUTO_START);
  EXPECT_TRUE(app_->config().auto_start);
  EXPECT_TRUE(RunValueExists());
  EXPECT_NE(FileText().find("auto_start = true\r\n"), std::string::npos);
  app_->ExecuteTrayCommand(IDM_AUTO_START);
  EXPECT_FALSE(app_->config().auto_start);
  EXPECT_FALSE(RunValueExists());
}

TEST_F(TrayHostTest, AutoStartThatTheRegistryRefusesStaysOffInTheMenuAndTheFile) {
  const std::string before = FileText();
  // Not a key at all: every registry call on it fails.
  detail::SetRunKeyForTest(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7777)), L"Run");
  app_->ExecuteTrayCommand(IDM_AUTO_START);
  detail::SetRunKeyForTest(nullptr, nullptr);
  EXPECT_FALSE(app_->config().auto_start);
  EXPECT_EQ(FileText(), before);
  EXPECT_FALSE(RunValueExists());
}

TEST_F(TrayHostTest, ARecentTextItemCopiesTheTextItShowedThoughACommitCameMeanwhile) {
  app_->OnOutputReport(Report("first"));
  app_->OnOutputReport(Report("second"));
  std::wstring shown;
  app_->SetMenuTrackerForTest([&](HMENU menu) -> UINT {
    const HMENU texts = GetSubMenu(menu, 0);
    wchar_t label[64] = {};
    GetMenuStringW(texts, 1, label, 64, MF_BYPOSITION);
    shown = label;
    // Held while the menu is in front, and reported to the list meanwhile.
    app_->OnOutputReport(Report("口令 1234", true));
    return GetMenuItemID(texts, 1);
  });
  SendMessageW(app_->window(), kTrayCallbackMessage, MAKEWPARAM(10, 10), WM_CONTEXTMENU);
  app_->SetMenuTrackerForTest(nullptr);
  EXPECT_EQ(shown, L"first");
  EXPECT_EQ(testing::ClipboardText(), L"first");
}

TEST_F(TrayHostTest, HeldTextIsAnnouncedKeptInMemoryAndCopiedWhenChosen) {
  const HWND icon = ShellIcon();
  ASSERT_NE(icon, nullptr);
  app_->OnOutputReport(Report("口令 1234", true));
  std::optional<testing::ShellTooltip> balloon;
  EXPECT_TRUE(testing::PumpShellUntil([&] { return (balloon = testing::ShellBalloonOf(icon)).has_value(); },
                                      std::chrono::milliseconds(10000)));
  if (balloon) {
    EXPECT_EQ(balloon->text, HeldTextNotice(Report("", true)).text);
  }
  // The reason is logged, never the text.
  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find("output: commit held, own window in front"), std::string::npos) << log;
  EXPECT_EQ(log.find("1234"), std::string::npos);

  // Typed ones are kept too, the newest first, ten at most.
  for (int i = 1; i <= 10; ++i) {
    app_->OnOutputReport(Report("typed " + std::to_string(i)));
  }
  ASSERT_EQ(app_->recent_texts().size(), kRecentTextCount);
  EXPECT_EQ(app_->recent_texts().front().text, "typed 10");
  EXPECT_EQ(app_->recent_texts().back().text, "typed 1");

  app_->ExecuteTrayCommand(IDM_RECENT_BASE + 9);
  EXPECT_EQ(testing::ClipboardText(), L"typed 1");
  app_->ExecuteTrayCommand(IDM_RECENT_BASE + kRecentTextCount);  // past the list: nothing
  EXPECT_EQ(testing::ClipboardText(), L"typed 1");
}

TEST_F(TrayHostTest, ExitEndsTheLoopWithZero) {
  app_->ExecuteTrayCommand(IDM_EXIT);
  EXPECT_EQ(app_->MessageLoop(), 0);
}

}  // namespace
}  // namespace lumora
