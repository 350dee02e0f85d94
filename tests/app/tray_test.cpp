// The tray: its menu as Windows builds it from the portable description,
// and what each command does to the live settings, the file and the
// registry, on a real host under Wine; the icon, its tip and its notices as
// the shell holds them.

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
#include "base/win32_util_win.h"
#include "log/log.h"
#include "net/socket_platform.h"
#include "tests/support/clipboard_win.h"
#include "tests/support/free_port.h"
#include "tests/support/run_value_win.h"
#include "tests/support/shell_tray_win.h"
#include "ui/connection_view.h"

namespace lumora {
namespace {

struct Item {
  std::wstring text;
  UINT id;
  bool checked;
  bool grayed;
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
    items.push_back({text, info.wID, (info.fState & MFS_CHECKED) != 0, (info.fState & MFS_GRAYED) != 0,
                     (info.fType & MFT_SEPARATOR) != 0, info.hSubMenu != nullptr});
  }
  return items;
}

TEST(TrayMenuTest, TheMenuHoldsWhatItsDescriptionSays) {
  // Every kind of item once; the program's own menu is described, and
  // tested, natively.
  const auto entry = [](std::uint32_t command, const char* label) {
    TrayMenuItem made;
    made.command = command;
    made.label = label;
    return made;
  };
  std::vector<TrayMenuItem> described(7);
  described[0] = entry(7, "甲 && 乙");
  described[1].separator = true;
  described[2] = entry(8, "开");
  described[2].checkable = described[2].checked = true;
  described[3] = entry(9, "关");
  described[3].checkable = true;
  described[4] = entry(0, "（灰）");
  described[4].enabled = false;
  described[5] = entry(0, "子菜单");
  described[5].submenu = {entry(10, "一"), entry(11, "二")};
  described[5].submenu[0].checkable = described[5].submenu[0].checked = true;
  described[6] = entry(12, "默认");
  described[6].is_default = true;
  const ScopedMenu owned = BuildTrayMenu(described);
  const HMENU menu = owned.get();
  const std::vector<Item> items = ReadMenu(menu);
  ASSERT_EQ(items.size(), described.size());
  const struct {
    const wchar_t* text;
    UINT id;
    bool checked;
    bool grayed;
    bool separator;
    bool submenu;
  } want[] = {
      {L"甲 && 乙", 7, false, false, false, false},  // the menu draws "&&" as one "&"
      {L"", 0, false, false, true, false},           // a separator
      {L"开", 8, true, false, false, false},         // checked
      {L"关", 9, false, false, false, false},        // a check box, empty
      {L"（灰）", 0, false, true, false, false},     // cannot be chosen
      {L"子菜单", 0, false, false, false, true},     // opens the submenu
      {L"默认", 12, false, false, false, false},     // bold (below)
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].text, want[i].text);
    if (!want[i].submenu) {
      EXPECT_EQ(items[i].id, want[i].id);
    }
    EXPECT_EQ(items[i].checked, want[i].checked);
    if (!want[i].separator) {  // a separator counts as greyed, whatever it was given
      EXPECT_EQ(items[i].grayed, want[i].grayed);
    }
    EXPECT_EQ(items[i].separator, want[i].separator);
    EXPECT_EQ(items[i].submenu, want[i].submenu);
  }
  EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), 12u);
  const std::vector<Item> sub = ReadMenu(GetSubMenu(menu, 5));
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(sub[0].text, L"一");
  EXPECT_EQ(sub[0].id, 10u);
  EXPECT_TRUE(sub[0].checked);
  EXPECT_EQ(sub[1].text, L"二");
  EXPECT_EQ(sub[1].id, 11u);
  EXPECT_FALSE(sub[1].checked);
}

OutputReport Report(std::string text, bool held = false, bool partly_typed = false) {
  OutputReport report;
  report.text = std::move(text);
  report.held = held;
  report.reason = HoldReason::OwnWindow;
  report.partly_typed = partly_typed;
  return report;
}

TEST(TrayMenuTest, SubmenusGoWithTheMenu) {
  HMENU menu = nullptr;
  HMENU themes = nullptr;
  HMENU positions = nullptr;
  {
    ScopedMenu moved_from = BuildTrayMenu(TrayMenuItems(AppConfig{}, {}));
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
    app_->SetTrayPhone(WideToUtf8(phone));
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
    app_->SetTrayPhone(WideToUtf8(step.phone));
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
  app_->SetTrayPhone("Pixel 8 (192.168.1.23)");
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
  app_->SetTrayPhone("Pixel 8 (192.168.1.23)");
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
      {kTrayCommandPressEnter, "press_enter_on_commit = false\r\n"},
      {kTrayCommandClipboardPaste, "use_clipboard_paste = true\r\n"},
      {kTrayCommandThemeBase + 4, "overlay_theme_color = \"blue\"\r\n"},
      {kTrayCommandPositionBase + 3, "overlay_position = \"bottom_left\"\r\n"},
      {kTrayCommandThemeBase + 4, "overlay_theme_color = \"blue\"\r\n"},   // the current theme again
      {kTrayCommandThemeBase + 50, "overlay_theme_color = \"blue\"\r\n"},  // no such theme: nothing
      {kTrayCommandPositionBase + 50, "overlay_position = \"bottom_left\"\r\n"},
      {kTrayCommandPressEnter, "press_enter_on_commit = true\r\n"},
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
  app_->ExecuteTrayCommand(kTrayCommandAutoStart);
  EXPECT_TRUE(app_->config().auto_start);
  EXPECT_TRUE(testing::RunValue().has_value());
  EXPECT_NE(FileText().find("auto_start = true\r\n"), std::string::npos);
  app_->ExecuteTrayCommand(kTrayCommandAutoStart);
  EXPECT_FALSE(app_->config().auto_start);
  EXPECT_FALSE(testing::RunValue().has_value());
}

TEST_F(TrayHostTest, AutoStartThatTheRegistryRefusesStaysOffInTheMenuAndTheFile) {
  const std::string before = FileText();
  // Not a key at all: every registry call on it fails.
  detail::SetRunKeyForTest(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7777)), L"Run");
  app_->ExecuteTrayCommand(kTrayCommandAutoStart);
  detail::SetRunKeyForTest(nullptr, nullptr);
  EXPECT_FALSE(app_->config().auto_start);
  EXPECT_EQ(FileText(), before);
  EXPECT_FALSE(testing::RunValue().has_value());
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
    EXPECT_EQ(balloon->text, Utf8ToWide(HeldTextNotice(Report("", true), DesktopKind::Windows).text));
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

  app_->ExecuteTrayCommand(kTrayCommandRecentBase + 9);
  EXPECT_EQ(testing::ClipboardText(), L"typed 1");
  app_->ExecuteTrayCommand(kTrayCommandRecentBase + kRecentTextCount);  // past the list: nothing
  EXPECT_EQ(testing::ClipboardText(), L"typed 1");
}

TEST_F(TrayHostTest, ExitEndsTheLoopWithZero) {
  app_->ExecuteTrayCommand(kTrayCommandExit);
  EXPECT_EQ(app_->MessageLoop(), 0);
}

}  // namespace
}  // namespace lumora
