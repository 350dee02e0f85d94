// The settings dialog on the bench's desktop, driven through its controls
// from inside its own modal loop.

#include "ui/settings_dialog_win.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/scoped_win.h"
#include "app/win32_util_win.h"
#include "overlay/dpi_win.h"
#include "tests/ui/dialog_script_win.h"
#include "tests/ui/dialog_test_support_win.h"

namespace lumora {
namespace {

using testing::ComboEntries;
using testing::DialogScript;
using testing::FindThreadWindow;
using testing::WindowRectOf;
using testing::WindowText;

const HINSTANCE kInstance = GetModuleHandleW(nullptr);

// A record unlike the defaults in every field, so that a field that is lost
// or reset shows.
AppConfig Unusual() {
  AppConfig config;
  config.listen_port = 50123;
  config.overlay_theme_color = OverlayThemeColor::Yellow;
  config.overlay_position = OverlayPosition::TopRight;
  config.press_enter_on_commit = false;
  config.use_clipboard_paste = true;
  config.auto_start = false;
  return config;
}

// A result record that Run must leave alone unless it returns true.
AppConfig Sentinel() {
  AppConfig config;
  config.listen_port = 1111;
  config.overlay_position = OverlayPosition::BottomLeft;
  return config;
}

struct Outcome {
  bool returned = false;
  AppConfig result = Sentinel();
};

// Runs the dialog with no owner (as from the tray: the host's window has no
// size) while `script` plays the user.
Outcome RunSettings(DialogScript& script, const AppConfig& current = Unusual()) {
  Outcome outcome;
  script.Start();
  outcome.returned = SettingsDialog::Run(nullptr, kInstance, current, &outcome.result);
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(FindThreadWindow(kSettingsDialogClass), nullptr) << "the dialog outlived Run";
  return outcome;
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WindowDpi(nullptr), 96u) << "the bench's display is at 96 DPI"; }
  void TearDown() override { detail::SetDialogDpiForTest(0); }

  testing::CreationLog creations_;
};

// The controls as designed, at 96 DPI, for the record Unusual().
const std::vector<testing::WantControl> kControls = {
    {L"Static", 0, L"监听端口 (TCP)：", 16, 18, 160, 20, 0},
    {L"Edit", 1001, L"50123", 180, 16, 120, 22, WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL},
    {L"Button", 1002, L"提交时按 Enter", 16, 50, 280, 22, BS_AUTOCHECKBOX},
    {L"Button", 1007, L"开机自启动", 16, 78, 280, 22, BS_AUTOCHECKBOX},
    {L"Static", 0, L"主题颜色：", 16, 114, 160, 20, 0},
    // 220: the height of the list when it drops down.
    {L"ComboBox", 1003, nullptr, 180, 112, 160, 220, CBS_DROPDOWNLIST | WS_VSCROLL},
    {L"Static", 0, L"悬浮窗位置：", 16, 150, 160, 20, 0},
    {L"ComboBox", 1004, nullptr, 180, 148, 160, 220, CBS_DROPDOWNLIST | WS_VSCROLL},
    {L"Button", 1005, L"确定", 180, 198, 70, 28, BS_DEFPUSHBUTTON},
    {L"Button", 1006, L"取消", 260, 198, 80, 28, BS_PUSHBUTTON},
};

TEST_F(SettingsDialogTest, WindowAndControlsAsDesigned) {
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass).Check([&] {
    HWND dialog = script.dialog();
    EXPECT_EQ(WindowText(dialog), L"Lumora语音输入 - 设置");
    EXPECT_EQ(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & 0x00040001, 0x00040001);
    const DWORD kFrameBits = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    EXPECT_EQ(GetWindowLongPtrW(dialog, GWL_STYLE) & kFrameBits,
              static_cast<LONG_PTR>(WS_CAPTION | WS_SYSMENU));
    // 380 x 270 in the middle of the work area: no owner to centre on.
    const RECT outer = WindowRectOf(dialog);
    const RECT work = testing::WorkArea();
    EXPECT_EQ(outer.right - outer.left, 380);
    EXPECT_EQ(outer.bottom - outer.top, 270);
    EXPECT_EQ(outer.left, work.left + (work.right - work.left - 380) / 2);
    EXPECT_EQ(outer.top, work.top + (work.bottom - work.top - 270) / 2);
    testing::ExpectControls(dialog, kControls);
    EXPECT_EQ(testing::FontOf(script.Control(kSettingsOkId)).height, testing::MessageFontAt(96).height);
  });
  script.Click(kSettingsCancelId);
  RunSettings(script);
}

TEST_F(SettingsDialogTest, ControlsShowTheRecord) {
  struct Case {
    AppConfig record;
    int theme_index;
    int position_index;
  };
  AppConfig pink;
  pink.overlay_theme_color = OverlayThemeColor::Pink;
  const Case cases[] = {{AppConfig{}, 0, 0}, {Unusual(), 3, 2}, {pink, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.theme_index);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass).Check([&] {
      EXPECT_EQ(WindowText(script.Control(kSettingsPortEditId)), std::to_wstring(c.record.listen_port));
      EXPECT_EQ(SendMessageW(script.Control(kSettingsPressEnterId), BM_GETCHECK, 0, 0),
                c.record.press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED);
      EXPECT_EQ(SendMessageW(script.Control(kSettingsAutoStartId), BM_GETCHECK, 0, 0),
                c.record.auto_start ? BST_CHECKED : BST_UNCHECKED);
      EXPECT_EQ(SendMessageW(script.Control(kSettingsThemeListId), CB_GETCURSEL, 0, 0), c.theme_index);
      EXPECT_EQ(SendMessageW(script.Control(kSettingsPositionListId), CB_GETCURSEL, 0, 0), c.position_index);
      // The display names in enumeration order: white first, center first.
      const std::vector<std::wstring> themes = ComboEntries(script.Control(kSettingsThemeListId));
      ASSERT_EQ(themes.size(), 6u);
      EXPECT_EQ(themes[0], L"白");
      EXPECT_EQ(themes[1], L"粉");
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(themes[static_cast<std::size_t>(i)],
                  Utf8ToWide(ThemeColorDisplayName(static_cast<OverlayThemeColor>(i))));
      }
      const std::vector<std::wstring> positions = ComboEntries(script.Control(kSettingsPositionListId));
      ASSERT_EQ(positions.size(), 5u);
      EXPECT_EQ(positions[0], L"居中");
      EXPECT_EQ(positions[4], L"右下");
    });
    script.Click(kSettingsCancelId);
    RunSettings(script, c.record);
  }
}

TEST_F(SettingsDialogTest, OkTakesThePortOnlyFrom1024To65535) {
  struct Case {
    std::wstring text;
    std::optional<std::int32_t> port;  // none: the warning, and the dialog stays
  };
  const Case cases[] = {
      {L"1024", 1024},
      {L"65535", 65535},
      {L"1023", std::nullopt},
      {L"65536", std::nullopt},
      {L" 8080", 8080},
      {L"8080a", 8080},
      {L"", std::nullopt},
      {L"abc", std::nullopt},
      {L"0", std::nullopt},
      {L"-2000", std::nullopt},
      {L"08080", 8080},
      {L"99999999999", std::nullopt},
      // Pasted from a full-width input method.
      {L"８０８０", 8080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass).SetText(kSettingsPortEditId, c.text).Click(kSettingsOkId);
    if (!c.port) {
      script.DismissPortWarning()
          .Check([&] {
            EXPECT_TRUE(IsWindow(script.dialog())) << "the dialog closed on a bad port";
            EXPECT_TRUE(IsWindowEnabled(script.dialog()));
            EXPECT_EQ(WindowText(script.Control(kSettingsPortEditId)), c.text);
          })
          .Click(kSettingsCancelId);
    }
    const Outcome outcome = RunSettings(script);
    if (c.port) {
      EXPECT_TRUE(outcome.returned);
      AppConfig want = Unusual();
      want.listen_port = *c.port;
      EXPECT_EQ(outcome.result, want);
    } else {
      EXPECT_FALSE(outcome.returned);
      EXPECT_EQ(outcome.result, Sentinel());
    }
  }
}

TEST_F(SettingsDialogTest, OkReturnsWhatTheControlsShowAndPassesTheRestThrough) {
  struct Case {
    AppConfig current;
    bool press_enter;
    bool auto_start;
    int theme_index;
    int position_index;
  };
  AppConfig paste_off = Unusual();
  paste_off.use_clipboard_paste = false;
  const Case cases[] = {
      {Unusual(), true, true, 5, 4},  // the last entries: purple, bottom_right
      {paste_off, false, true, 0, 1},
      {AppConfig{}, false, false, 4, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.theme_index);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass)
        .SetText(kSettingsPortEditId, L"40000")
        .SetChecked(kSettingsPressEnterId, c.press_enter)
        .SetChecked(kSettingsAutoStartId, c.auto_start)
        .PickEntry(kSettingsThemeListId, c.theme_index)
        .PickEntry(kSettingsPositionListId, c.position_index)
        .Click(kSettingsOkId);
    const Outcome outcome = RunSettings(script, c.current);
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result.listen_port, 40000);
    EXPECT_EQ(outcome.result.press_enter_on_commit, c.press_enter);
    EXPECT_EQ(outcome.result.auto_start, c.auto_start);
    EXPECT_EQ(outcome.result.overlay_theme_color, static_cast<OverlayThemeColor>(c.theme_index));
    EXPECT_EQ(outcome.result.overlay_position, static_cast<OverlayPosition>(c.position_index));
    // No control for it: exactly as it went in.
    EXPECT_EQ(outcome.result.use_clipboard_paste, c.current.use_clipboard_paste);
  }
}

TEST_F(SettingsDialogTest, CancelEscAndTheCloseBoxReturnFalseAndLeaveTheResult) {
  struct Case {
    const char* how;
    std::function<void(DialogScript&)> close;
  };
  const Case cases[] = {
      {"cancel", [](DialogScript& s) { s.Click(kSettingsCancelId); }},
      {"esc", [](DialogScript& s) { s.PressKey(VK_ESCAPE); }},
      {"close box", [](DialogScript& s) { s.CloseBox(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    DialogScript script;
    // Edited first: none of it may come back.
    script.WaitForDialog(kSettingsDialogClass)
        .SetText(kSettingsPortEditId, L"40000")
        .SetChecked(kSettingsAutoStartId, true)
        .PickEntry(kSettingsThemeListId, 1);
    c.close(script);
    const Outcome outcome = RunSettings(script);
    EXPECT_FALSE(outcome.returned);
    EXPECT_EQ(outcome.result, Sentinel());
  }
}

TEST_F(SettingsDialogTest, EnterInThePortEditPressesOk) {
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .SetText(kSettingsPortEditId, L"40001")
      .Then("focus the edit",
            [&] {
              SetFocus(script.Control(kSettingsPortEditId));
              return GetFocus() == script.Control(kSettingsPortEditId);
            })
      .PressKey(VK_RETURN);
  const Outcome outcome = RunSettings(script);
  ASSERT_TRUE(outcome.returned);
  EXPECT_EQ(outcome.result.listen_port, 40001);
}

TEST_F(SettingsDialogTest, NullResultMeansFalseEvenOnOk) {
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass).Click(kSettingsOkId);
  script.Start();
  EXPECT_FALSE(SettingsDialog::Run(nullptr, kInstance, Unusual(), nullptr));
  EXPECT_TRUE(script.finished()) << script.failure();
}

TEST_F(SettingsDialogTest, QuitEndsTheDialogAndReachesTheCallersLoop) {
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass).Then("quit", [] {
    PostQuitMessage(7);
    return true;
  });
  const Outcome outcome = RunSettings(script);
  EXPECT_FALSE(outcome.returned);
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(SettingsDialogTest, OtherWindowsOfTheThreadKeepGettingTheirMessages) {
  // Posted work for the host window (UI tasks, tray clicks) runs while the
  // dialog is open.
  const ScopedWindow other(testing::CreateOwnerWindow(0, 0, 10, 10, false));
  static int handled = 0;
  handled = 0;
  const auto previous = SetWindowLongPtrW(
      other.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_APP + 2) {
          ++handled;
          return LRESULT{0};
        }
        return DefWindowProcW(w, m, wp, lp);
      }));
  ASSERT_NE(previous, 0);
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .Then("post", [&] { return PostMessageW(other.get(), WM_APP + 2, 0, 0) != FALSE; })
      .Check([&] { EXPECT_EQ(handled, 1); })
      .Click(kSettingsCancelId);
  RunSettings(script);
  EXPECT_EQ(handled, 1);
}

TEST_F(SettingsDialogTest, CentredOnAnOwnerBigEnoughWhichIsDisabledMeanwhile) {
  struct Case {
    const char* what;
    int x, y, width, height;
    bool visible;
    bool on_owner;
  };
  const Case cases[] = {
      {"big window", 100, 80, 700, 500, true, true},
      {"exactly 200 x 200", 30, 40, 200, 200, true, true},
      {"too narrow", 100, 80, 199, 500, true, false},
      {"the host's hidden 0 x 0 window", 0, 0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedWindow owner(testing::CreateOwnerWindow(c.x, c.y, c.width, c.height, c.visible));
    ASSERT_NE(owner.get(), nullptr);
    const RECT area = c.on_owner ? WindowRectOf(owner.get()) : testing::WorkArea();
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass).Check([&] {
      EXPECT_EQ(GetWindow(script.dialog(), GW_OWNER), owner.get());
      const RECT outer = WindowRectOf(script.dialog());
      EXPECT_EQ(outer.left, area.left + (area.right - area.left - 380) / 2);
      EXPECT_EQ(outer.top, area.top + (area.bottom - area.top - 270) / 2);
      EXPECT_EQ(IsWindowEnabled(owner.get()) == FALSE, c.on_owner);
    });
    script.Click(kSettingsCancelId);
    script.Start();
    AppConfig result;
    EXPECT_FALSE(SettingsDialog::Run(owner.get(), kInstance, Unusual(), &result));
    EXPECT_TRUE(script.finished()) << script.failure();
    EXPECT_TRUE(IsWindowEnabled(owner.get())) << "the owner stays disabled";
  }
}

TEST_F(SettingsDialogTest, ScaledWithTheDisplayDpi) {
  // 150 %: every design pixel is 1.5 physical ones, the font included.
  detail::SetDialogDpiForTest(144);
  DialogScript script;
  script.WaitForDialog(kSettingsDialogClass).Check([&] {
    const RECT outer = WindowRectOf(script.dialog());
    EXPECT_EQ(outer.right - outer.left, 570);
    EXPECT_EQ(outer.bottom - outer.top, 405);
    testing::ExpectControls(script.dialog(), kControls, 144);
    const LONG height = testing::FontOf(script.Control(kSettingsOkId)).height;
    EXPECT_EQ(height, testing::MessageFontAt(144).height);
    EXPECT_GT(std::abs(height), std::abs(testing::MessageFontAt(96).height));
  });
  script.Click(kSettingsCancelId);
  RunSettings(script);
}

}  // namespace
}  // namespace lumora
