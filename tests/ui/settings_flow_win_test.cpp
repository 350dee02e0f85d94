// The tray's settings command on a whole host: the dialog is played through
// its controls, and a changed port moves the server.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/log.h"
#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "tests/net/test_phone.h"
#include "tests/support/free_port.h"
#include "tests/ui/dialog_script_win.h"
#include "ui/settings_dialog_win.h"

namespace lumora {
namespace {

using testing::DialogScript;

std::string FileText() {
  std::ifstream in(ConfigFilePath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SettingsFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first_port_ = testing::FreePort();
    AppConfig written;
    written.listen_port = static_cast<std::int32_t>(first_port_);
    written.auto_start = false;
    SaveAppConfig(written);
    ASSERT_TRUE(app_.InitHostWindow());
    app_.StartComponents();
    ASSERT_TRUE(app_.server()->IsRunning());
  }

  // Opens the settings from the tray with `port` typed in and OK pressed;
  // `more` runs after the dialog closed, inside the same loop.
  void ChangePortTo(unsigned port, const std::function<void(DialogScript&)>& more = nullptr) {
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass)
        .SetText(kSettingsPortEditId, std::to_wstring(port))
        .Click(kSettingsOkId);
    if (more) {
      more(script);
    }
    script.Start();
    app_.ExecuteTrayCommand(IDM_SETTINGS);
    EXPECT_TRUE(script.finished()) << script.failure();
  }

  unsigned first_port_ = 0;
  Win32App app_{GetModuleHandleW(nullptr)};
};

TEST_F(SettingsFlowTest, NewFreePortMovesTheServerAndTheTip) {
  const unsigned next = testing::FreePort();
  ChangePortTo(next);
  EXPECT_EQ(app_.config().listen_port, static_cast<std::int32_t>(next));
  ASSERT_NE(app_.server(), nullptr);
  EXPECT_TRUE(app_.server()->IsRunning());
  EXPECT_EQ(app_.server()->Port(), next);
  EXPECT_STREQ(app_.tray_icon_data().szTip, TrayTipText(static_cast<int>(next), true).c_str());
  EXPECT_NE(FileText().find("listen_port = " + std::to_string(next) + "\r\n"), std::string::npos);

  testing::TestPhone phone;
  EXPECT_TRUE(phone.Handshake(next));
  testing::TestPhone old_port;
  EXPECT_FALSE(old_port.Connect(first_port_));
}

TEST_F(SettingsFlowTest, TakenPortWarnsAndShowsTheStoppedStateButIsKept) {
  // Another program holds the port the user picks.
  const unsigned taken = testing::FreePort();
  const SocketHandle holder = OpenTcpSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<unsigned short>(taken));
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);

  std::wstring warning;
  ChangePortTo(taken, [&](DialogScript& script) {
    script.Then("bind warning", [&] {
      HWND box = testing::FindMessageBox();
      if (box == nullptr) {
        return false;
      }
      warning = testing::ChildTexts(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return true;
    });
  });
  EXPECT_NE(warning.find(L"无法绑定 TCP 端口 " + std::to_wstring(taken) + L"。"), std::wstring::npos);
  EXPECT_EQ(app_.config().listen_port, static_cast<std::int32_t>(taken));
  EXPECT_NE(FileText().find("listen_port = " + std::to_string(taken) + "\r\n"), std::string::npos);
  ASSERT_NE(app_.server(), nullptr);
  EXPECT_FALSE(app_.server()->IsRunning());
  EXPECT_STREQ(app_.tray_icon_data().szTip, TrayTipText(static_cast<int>(taken), false).c_str());
  CloseSocket(holder);
}

}  // namespace
}  // namespace lumora
