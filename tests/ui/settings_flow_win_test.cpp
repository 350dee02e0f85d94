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

#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "log/log.h"
#include "tests/net/test_phone.h"
#include "tests/support/free_port.h"
#include "tests/support/shell_tray_win.h"
#include "tests/ui/dialog_script_win.h"
#include "ui/connection_dialog_win.h"
#include "ui/connection_view.h"
#include "ui/contact_feedback_dialog_win.h"
#include "ui/settings_dialog_win.h"

namespace lumora {
namespace {

// The tip's line with the address to type on this machine.
std::wstring AddressTipLine() {
  const std::u16string line = TipAddressLine(GetRankedAddresses());
  return L"\n" + std::wstring(line.begin(), line.end());
}

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
    app_.ExecuteTrayCommand(kTrayCommandSettings);
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
  EXPECT_EQ(ShellTip(), L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(next) + L"\n状态：运行中" +
                            AddressTipLine() + L"\n手机：未连接");
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
  app_.ExecuteTrayCommand(kTrayCommandSettings);
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(app_.config().known_phones, std::vector<KnownPhone>{kSecondPhone});
  EXPECT_EQ(LoadAppConfig().known_phones, std::vector<KnownPhone>{kSecondPhone});
  EXPECT_EQ(FileText().find("aa:bb:cc:dd:ee:01"), std::string::npos);
}

TEST_F(SettingsFlowTest, ATakenPortIsToldInTheDialogWhileTheOldServerServesOn) {
  // Another program holds the port the user picks.
  const testing::HeldPort holder;
  ASSERT_TRUE(holder.held());
  const unsigned taken = holder.port();
  const std::string file_before = FileText();

  std::wstring warning;
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .SetText(kSettingsPortEditId, std::to_wstring(taken))
      .Click(kSettingsOkId)
      .Then("bind warning",
            [&] {
              HWND box = testing::FindMessageBox();
              if (box == nullptr) {
                return false;
              }
              EXPECT_EQ(GetWindow(box, GW_OWNER), script.dialog()) << "told after the dialog closed";
              warning = testing::ChildTexts(box);
              PostMessageW(box, WM_COMMAND, IDOK, 0);
              return true;
            })
      .Then("warning closes", [] { return testing::FindMessageBox() == nullptr; })
      .Check([&] {
        ASSERT_TRUE(IsWindow(script.dialog()));
        const HWND edit = script.Control(kSettingsPortEditId);
        EXPECT_EQ(GetFocus(), edit);
        DWORD from = 1, to = 0;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
        EXPECT_EQ(from, 0u);
        EXPECT_EQ(to, std::to_wstring(taken).size()) << "the port is not selected for another";
        EXPECT_EQ(FileText(), file_before);
        // The old port still greets a phone.
        testing::TestPhone phone;
        ASSERT_TRUE(phone.Connect(first_port_));
        EXPECT_NE(phone.ReadLine().find("\"welcome\""), std::string::npos);
      })
      .Click(kSettingsCancelId);
  script.Start();
  app_.ExecuteTrayCommand(kTrayCommandSettings);
  EXPECT_TRUE(script.finished()) << script.failure();

  EXPECT_NE(warning.find(L"无法绑定 TCP 端口 " + std::to_wstring(taken) + L"。"), std::wstring::npos)
      << warning;
  EXPECT_EQ(app_.config().listen_port, static_cast<std::int32_t>(first_port_));
  EXPECT_EQ(FileText(), file_before);
  ASSERT_NE(app_.server(), nullptr);
  EXPECT_TRUE(app_.server()->IsRunning());
  EXPECT_EQ(app_.server()->Port(), first_port_);
  EXPECT_EQ(ShellTip(), L"Lumora语音输入 1.0.0\n监听端口 " + std::to_wstring(first_port_) +
                            L"\n状态：运行中" + AddressTipLine() + L"\n手机：未连接");
}

// Each window's loop would run inside the settings' loop and take its keys.
bool g_nested = false;
void CALLBACK CloseInnerWindows(HWND, UINT, UINT_PTR, DWORD) {
  for (const wchar_t* name : {kContactDialogClass, L"#32770"}) {
    if (HWND inner = testing::FindThreadWindow(name)) {
      g_nested = true;
      PostMessageW(inner, WM_CLOSE, 0, 0);
      PostMessageW(inner, WM_COMMAND, IDOK, 0);
    }
  }
}

TEST_F(SettingsFlowTest, TrayCommandsForOtherWindowsBringTheOpenSettingsUpInsteadOfNesting) {
  g_nested = false;
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .Then("tray commands",
            [&] {
              // Should a command open its window anyway, this closes it again, so
              // that the command returns and the test fails instead of hanging.
              const UINT_PTR rescue = SetTimer(nullptr, 0, 2000, &CloseInnerWindows);
              app_.ExecuteTrayCommand(kTrayCommandContact);
              app_.ExecuteTrayCommand(kTrayCommandShowInfo);
              SendMessageW(app_.window(), kShowConnectionInfoMessage, 0, 0);
              KillTimer(nullptr, rescue);
              EXPECT_FALSE(g_nested);
              EXPECT_EQ(testing::FindThreadWindow(kContactDialogClass), nullptr);
              EXPECT_EQ(testing::FindThreadWindow(kConnectionDialogClass), nullptr);
              return true;
            })
      .Then("focus on the port", [&] { return GetFocus() == script.Control(kSettingsPortEditId); })
      .PressKey(VK_TAB)
      .Then("Tab goes on", [&] { return GetFocus() == script.Control(kSettingsPressEnterId); })
      .PressKey(VK_ESCAPE);
  script.Start();
  app_.ExecuteTrayCommand(kTrayCommandSettings);
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(testing::FindThreadWindow(kSettingsDialogClass), nullptr) << "Esc did not close the settings";
}

}  // namespace
}  // namespace lumora
