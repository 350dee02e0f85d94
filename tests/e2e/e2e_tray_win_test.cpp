// The real program's tray icon as the shell shows it, and its menu opened by
// a right click on that icon.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "config/app_config.h"
#include "net/socket_platform.h"
#include "tests/e2e/program_run_win.h"
#include "tests/e2e/sim_phone_win.h"
#include "tests/support/clipboard_win.h"
#include "tests/support/free_port.h"
#include "tests/support/shell_tray_win.h"
#include "ui/connection_view.h"
#include "ui/settings_dialog_win.h"

namespace lumora {
namespace {

using testing::ProgramRun;

// The open popup menu of any process: menus are windows of class #32768.
HWND FindOpenMenu() {
  HWND menu = nullptr;
  for (int i = 0; i < 200 && menu == nullptr; ++i) {
    menu = FindWindowW(L"#32768", nullptr);
    if (menu == nullptr || !IsWindowVisible(menu)) {
      menu = nullptr;
      Sleep(25);
    }
  }
  return menu;
}

// The shell's window for the program's icon: the one whose tip names its
// port and the running server.
HWND FindProgramIcon(const AppConfig& config) {
  const std::u16string address = TipAddressLine(GetRankedAddresses());
  const std::wstring tip = L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(config.listen_port) +
                           L"\n状态：运行中\n" + std::wstring(address.begin(), address.end()) +
                           L"\n手机：未连接";
  HWND icon = nullptr;
  testing::PumpShellUntil(
      [&] {
        for (HWND shown : testing::ShellIconWindows()) {
          if (testing::ShellTipOf(shown) == tip) {
            icon = shown;
          }
        }
        return icon != nullptr;
      },
      std::chrono::milliseconds(10000));
  return icon;
}

// Opens the program's menu with a right click on its icon and walks it with
// the keys given.
bool UseMenu(HWND icon, const std::vector<WPARAM>& keys) {
  PostMessageW(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
  PostMessageW(icon, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
  HWND menu_window = FindOpenMenu();
  if (menu_window == nullptr) {
    return false;
  }
  for (WPARAM key : keys) {
    // To the menu window open now: a submenu is a window of its own.
    HWND open = FindOpenMenu();
    PostMessageW(open != nullptr ? open : menu_window, WM_KEYDOWN, key, 0);
    Sleep(100);
  }
  return true;
}

TEST(EndToEndTrayTest, RightClickOpensTheMenuAndExitEndsTheProgram) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  AppConfig config;
  config.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
  config.auto_start = false;
  config.use_clipboard_paste = true;
  config.overlay_theme_color = OverlayThemeColor::Green;
  SaveAppConfig(config);

  ProgramRun program;
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(
      ProgramRun::WaitForLog("ParlinoServer: listening on port " + std::to_string(config.listen_port)));
  EXPECT_TRUE(ProgramRun::WaitForLog("Win32App: tray icon installed"));

  const HWND icon = FindProgramIcon(config);
  ASSERT_NE(icon, nullptr) << "the shell shows no icon with the tip of this program";

  // A right click on it, which the shell reports to the program.
  PostMessageW(icon, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(4, 4));
  PostMessageW(icon, WM_RBUTTONUP, 0, MAKELPARAM(4, 4));
  HWND menu_window = FindOpenMenu();
  ASSERT_NE(menu_window, nullptr);
  // Its items are checked where it is built (BuildTrayMenu); menu contents
  // cannot be read from another process under Wine.

  // Up from nothing selected lands on the last item, 退出.
  PostMessageW(menu_window, WM_KEYDOWN, VK_UP, 0);
  PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);
  DWORD exit_code = 99;
  ASSERT_TRUE(program.WaitForExit(&exit_code));
  EXPECT_EQ(exit_code, 0u);
  const auto log = testing::ReadLogMessages();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Parlino exit");
  EXPECT_EQ(log.back(), "ParlinoServer: stopped");
}

TEST(EndToEndTrayTest, DictationIntoTheSettingsIsHeldAndOfferedInTheMenu) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  AppConfig config;
  config.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
  config.auto_start = false;
  config.confirm_new_phones = false;
  config.press_enter_on_commit = true;  // would press the dialog's OK button
  SaveAppConfig(config);
  const std::wstring port = std::to_wstring(config.listen_port);
  ProgramRun program;
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(ProgramRun::WaitForLog("Win32App: tray icon installed"));
  const HWND icon = FindProgramIcon(config);
  ASSERT_NE(icon, nullptr);

  // 设置... is the second item.
  ASSERT_TRUE(UseMenu(icon, {VK_DOWN, VK_DOWN, VK_RETURN}));
  HWND dialog = nullptr;
  ASSERT_TRUE(testing::PumpShellUntil(
      [&] { return (dialog = program.FindWindowOfClass(kSettingsDialogClass)) != nullptr; },
      std::chrono::milliseconds(10000)));
  EXPECT_TRUE(testing::PumpShellUntil([&] { return GetForegroundWindow() == dialog; }));

  testing::Phone phone({"127.0.0.1", std::to_string(config.listen_port), "--script", "-"},
                       "text 99999\ncommit\nexpect ack of=commit\nbye\n");
  EXPECT_EQ(phone.Wait().status, kSimPassed);
  EXPECT_TRUE(ProgramRun::WaitForLog("output: commit held, own window in front"));
  std::optional<testing::ShellTooltip> balloon;
  EXPECT_TRUE(testing::PumpShellUntil([&] { return (balloon = testing::ShellBalloonOf(icon)).has_value(); },
                                      std::chrono::milliseconds(10000)));
  if (balloon) {
    EXPECT_NE(balloon->text.find(L"本程序自己的窗口"), std::wstring::npos);
  }
  // Nothing reached the dialog: the port is as it was and the dialog is open.
  EXPECT_EQ(testing::ControlText(dialog, kSettingsPortEditId), port);
  EXPECT_TRUE(IsWindow(dialog));
  testing::PressButton(dialog, kSettingsCancelId);
  ASSERT_TRUE(
      testing::PumpShellUntil([&] { return program.FindWindowOfClass(kSettingsDialogClass) == nullptr; },
                              std::chrono::milliseconds(10000)));

  // 最近的文字 is the first item; its first entry the held text.
  ASSERT_TRUE(UseMenu(icon, {VK_DOWN, VK_RIGHT, VK_RETURN}));
  EXPECT_TRUE(testing::PumpShellUntil([] { return testing::ClipboardText() == L"99999"; },
                                      std::chrono::milliseconds(10000)))
      << "clipboard: " << testing::ClipboardText().size() << " units";
  DWORD exit_code = 99;
  ASSERT_TRUE(program.Close(&exit_code));
  EXPECT_EQ(exit_code, 0u);
  for (const std::string& message : testing::ReadLogMessages()) {
    EXPECT_EQ(message.find("99999"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace lumora
