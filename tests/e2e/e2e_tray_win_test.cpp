// The real program's tray menu, opened the way the shell opens it: a right
// click reported through the tray callback message.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "config/app_config.h"
#include "net/socket_platform.h"
#include "tests/e2e/program_run_win.h"
#include "tests/support/free_port.h"

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
  HWND host = program.FindWindowOfClass(L"Parlino.Host");
  ASSERT_NE(host, nullptr);

  // A right click on the icon, as version 4 of the tray reports it.
  PostMessageW(host, kTrayCallbackMessage, MAKEWPARAM(300, 300), MAKELPARAM(WM_CONTEXTMENU, kTrayIconId));
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
