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
#include "tests/support/free_port.h"
#include "tests/support/shell_tray_win.h"

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

  // The program's icon is the one whose tip names its port and the running
  // server.
  const std::wstring tip = L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(config.listen_port) +
                           L"\n状态：运行中\n手机：未连接";
  HWND icon = nullptr;
  EXPECT_TRUE(testing::PumpShellUntil(
      [&] {
        for (HWND shown : testing::ShellIconWindows()) {
          if (testing::ShellTipOf(shown) == tip) {
            icon = shown;
          }
        }
        return icon != nullptr;
      },
      std::chrono::milliseconds(10000)));
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

}  // namespace
}  // namespace lumora
