// The tray's settings command on a whole host: the dialog is played through
// its controls, and a changed port moves the server.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "log/log.h"
#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "tests/net/test_phone.h"
#include "tests/support/free_port.h"
#include "tests/support/shell_tray_win.h"
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
    written.known_phones = {kFirstPhone, kSecondPhone};
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

  // The tray tip as the shell shows it.
  std::optional<std::wstring> ShellTip() {
    testing::TrayCallbackRecorder recorder(app_.window(), kTrayCallbackMessage);
    const HWND icon = testing::FindShellIcon(recorder, kTrayIconId);
    return icon != nullptr ? testing::ShellTipOf(icon) : std::nullopt;
  }

  const KnownPhone kFirstPhone{"张三的手机", "aa:bb:cc:dd:ee:01", "192.168.1.23"};
  const KnownPhone kSecondPhone{"Pixel 8", "", "192.168.1.40"};
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
  EXPECT_EQ(ShellTip(),
            L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(next) + L"\n状态：运行中\n手机：未连接");
  EXPECT_NE(FileText().find("listen_port = " + std::to_string(next) + "\r\n"), std::string::npos);

  testing::TestPhone phone;
  EXPECT_TRUE(phone.Handshake(next));
  testing::TestPhone old_port;
  EXPECT_FALSE(old_port.Connect(first_port_));
}

TEST_F(SettingsFlowTest, AForgottenPhoneIsGoneFromTheLiveSettingsAndTheFile) {
  ASSERT_EQ(app_.config().known_phones, (std::vector<KnownPhone>{kFirstPhone, kSecondPhone}));
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .ClickRow(kSettingsPhoneListId, 0)
      .Click(kSettingsForgetPhoneId)
      .Click(kSettingsOkId);
  script.Start();
  app_.ExecuteTrayCommand(IDM_SETTINGS);
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(app_.config().known_phones, std::vector<KnownPhone>{kSecondPhone});
  EXPECT_EQ(LoadAppConfig().known_phones, std::vector<KnownPhone>{kSecondPhone});
  EXPECT_EQ(FileText().find("aa:bb:cc:dd:ee:01"), std::string::npos);
}

TEST_F(SettingsFlowTest, TakenPortWarnsAndShowsTheStoppedStateButIsKept) {
  // Another program holds the port the user picks.
  const testing::HeldPort holder;
  ASSERT_TRUE(holder.held());
  const unsigned taken = holder.port();

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
  EXPECT_EQ(ShellTip(),
            L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(taken) + L"\n状态：已停止\n手机：未连接");
}

}  // namespace
}  // namespace lumora
