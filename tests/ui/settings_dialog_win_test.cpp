// The settings dialog, and the frame that all three dialogs share, on the
// bench's desktop, driven through their controls from inside their own modal
// loops.

#include "ui/settings_dialog_win.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "overlay/dpi_win.h"
#include "tests/support/free_port.h"
#include "tests/ui/dialog_script_win.h"
#include "tests/ui/dialog_test_support_win.h"
#include "ui/connection_view.h"
#include "ui/contact_feedback_dialog_win.h"
#include "ui/onboarding_dialog_win.h"

namespace lumora {
namespace {

using testing::ComboEntries;
using testing::DialogScript;
using testing::FindThreadWindow;
using testing::WindowRectOf;
using testing::WindowText;

using testing::kInstance;

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
  config.confirm_new_phones = false;
  config.known_phones = {{"张三的手机", "aa:bb:cc:dd:ee:01", "192.168.1.23"},
                         {"", "", "192.168.1.40"},
                         {"Pixel 8", "", "10.0.0.5"}};
  return config;
}

// A result record that Run must leave alone unless it returns true.
AppConfig Sentinel() {
  AppConfig config;
  config.listen_port = 1111;
  config.overlay_position = OverlayPosition::BottomLeft;
  return config;
}

// A public network whose firewall cannot be read: the welcome offers the
// network settings, whatever the bench's own answers.
ReachabilityFacts PublicNetwork(const std::string&, const std::string&, unsigned) {
  ReachabilityFacts facts;
  facts.category = NetworkCategory::Public;
  return facts;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WindowDpi(nullptr), 96u) << "the bench's display is at 96 DPI";
    detail::SetReachabilityQueryForTest(&PublicNetwork);
  }
  void TearDown() override {
    detail::SetDialogDpiForTest(0);
    detail::SetReachabilityQueryForTest(nullptr);
  }
};

// ---------------------------------------------------------------------------
// The frame: what the settings, the welcome and the contact dialog all do.

struct DialogKind {
  const char* name;
  const wchar_t* window_class;
  const wchar_t* title;
  int dismiss_id;    // Cancel, Skip, Close
  int port_edit_id;  // 0: none
  bool true_when_closed;
  std::function<bool(HWND owner, AppConfig* result)> run;
};

const DialogKind kDialogs[] = {
    {"settings", L"Parlino.SettingsDialog", L"Lumora语音输入 - 设置", kSettingsCancelId, kSettingsPortEditId,
     false,
     [](HWND owner, AppConfig* result) { return SettingsDialog::Run(owner, kInstance, Unusual(), result); }},
    {"welcome", L"Parlino.OnboardingDialog", L"Lumora语音输入 - 欢迎", kOnboardingSkipId,
     kOnboardingPortEditId, false,
     [](HWND owner, AppConfig* result) {
       return OnboardingDialog::Run(owner, kInstance, Unusual(), result);
     }},
    {"contact", L"Parlino.ContactFeedbackDialog", L"Lumora语音输入 - 联系作者 & 问题反馈", kContactCloseId, 0,
     true, [](HWND owner, AppConfig*) { return ContactFeedbackDialog::Run(owner, kInstance); }},
};

using DialogFrameTest = DialogTest;

TEST_F(DialogFrameTest, OpensCentredWithItsTitleFrameAndFontAtEachDpi) {
  for (const DialogKind& kind : kDialogs) {
    SIZE at96{};
    for (const std::uint32_t dpi : {96u, 144u}) {
      SCOPED_TRACE(std::string(kind.name) + " at " + std::to_string(dpi));
      detail::SetDialogDpiForTest(dpi);
      DialogScript script;
      script.WaitForDialog(kind.window_class)
          .Check([&] {
            HWND dialog = script.dialog();
            EXPECT_EQ(WindowText(dialog), kind.title);
            EXPECT_EQ(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & 0x00040001, 0x00040001);
            const DWORD kFrameBits =
                WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
            EXPECT_EQ(GetWindowLongPtrW(dialog, GWL_STYLE) & kFrameBits,
                      static_cast<LONG_PTR>(WS_CAPTION | WS_SYSMENU));
            // No owner to centre on: the middle of the work area. Its size
            // follows its font, so about half as big again at 144 DPI.
            const RECT outer = WindowRectOf(dialog);
            const RECT work = testing::WorkArea();
            const int width = outer.right - outer.left;
            const int height = outer.bottom - outer.top;
            if (dpi == 96) {
              at96 = {width, height};
            } else {
              EXPECT_NEAR(width, at96.cx * 3 / 2, at96.cx / 10);
              EXPECT_NEAR(height, at96.cy * 3 / 2, at96.cy / 10);
            }
            EXPECT_EQ(outer.left, work.left + (work.right - work.left - width) / 2);
            EXPECT_EQ(outer.top, work.top + (work.bottom - work.top - height) / 2);
            testing::ExpectUsableLayout(dialog, dpi, {});
          })
          .Click(kind.dismiss_id);
      script.Start();
      AppConfig result = Sentinel();
      EXPECT_EQ(kind.run(nullptr, &result), kind.true_when_closed);
      EXPECT_TRUE(script.finished()) << script.failure();
    }
  }
  // The message font grows with the DPI, so the check above saw two sizes.
  EXPECT_GT(std::abs(testing::MessageFontAt(144).height), std::abs(testing::MessageFontAt(96).height));
}

TEST_F(DialogFrameTest, ItsButtonEscTheCloseBoxAndAQuitEndItWithNothingChanged) {
  struct Way {
    const char* how;
    std::function<void(DialogScript&, const DialogKind&)> close;
  };
  const Way ways[] = {
      {"its button", [](DialogScript& s, const DialogKind& k) { s.Click(k.dismiss_id); }},
      {"esc", [](DialogScript& s, const DialogKind&) { s.PressKey(VK_ESCAPE); }},
      {"close box", [](DialogScript& s, const DialogKind&) { s.CloseBox(); }},
      {"quit",
       [](DialogScript& s, const DialogKind&) {
         s.Then("quit", [] {
           PostQuitMessage(7);
           return true;
         });
       }},
  };
  for (const DialogKind& kind : kDialogs) {
    for (const Way& way : ways) {
      SCOPED_TRACE(std::string(kind.name) + ", " + way.how);
      DialogScript script;
      script.WaitForDialog(kind.window_class);
      if (kind.port_edit_id != 0) {
        // Edited first: none of it may come back.
        script.SetText(kind.port_edit_id, L"40000");
      }
      way.close(script, kind);
      script.Start();
      AppConfig result = Sentinel();
      EXPECT_EQ(kind.run(nullptr, &result), kind.true_when_closed);
      EXPECT_TRUE(script.finished()) << script.failure();
      EXPECT_EQ(result, Sentinel());
      EXPECT_EQ(FindThreadWindow(kind.window_class), nullptr) << "the dialog outlived Run";
      // A quit ends the dialog's loop and is handed on to the caller's loop.
      MSG quit{};
      const bool quit_passed_on = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
      EXPECT_EQ(quit_passed_on, std::string(way.how) == "quit");
      if (quit_passed_on) {
        EXPECT_EQ(quit.wParam, 7u);
      }
    }
  }
}

TEST_F(DialogFrameTest, KeyboardAloneReachesEveryControlInReadingOrderAndEnterActs) {
  // The first control has the focus at once; Tab walks the rest in reading
  // order (a disabled button is passed over) and comes back round; Enter
  // then does what the default button does.
  const struct {
    const DialogKind& kind;
    std::vector<int> tab_order;
    bool true_after_enter;
  } cases[] = {
      {kDialogs[0],
       {kSettingsPortEditId, kSettingsPressEnterId, kSettingsAutoStartId, kSettingsThemeListId,
        kSettingsPositionListId, kSettingsConfirmPhonesId, kSettingsPhoneListId, kSettingsOkId,
        kSettingsCancelId},
       true},
      {kDialogs[1],
       {kOnboardingPortEditId, kOnboardingPressEnterId, kOnboardingNetworkSettingsId, kOnboardingSkipId,
        kOnboardingStartId},
       true},
      {kDialogs[2], {kContactCloseId}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind.name);
    DialogScript script;
    script.WaitForDialog(c.kind.window_class);
    std::vector<int> order = c.tab_order;
    order.push_back(c.tab_order.front());
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (i > 0) {
        script.PressKey(VK_TAB);
      }
      const int id = order[i];
      script.Then("focus on " + std::to_string(id),
                  [&script, id] { return GetFocus() == script.Control(id); });
    }
    script.PressKey(VK_RETURN);
    // Enter ends the dialog's loop before the script's next tick; if it did
    // not, the script gives up here, closes the dialog and says so.
    script.Then("closed by Enter", [] { return false; });
    script.Start();
    AppConfig result = Sentinel();
    EXPECT_EQ(c.kind.run(nullptr, &result), c.true_after_enter);
    EXPECT_EQ(script.failure(), "");
  }
}

TEST_F(DialogFrameTest, ALabelsAccessKeyMovesTheFocusToItsField) {
  // From the confirm button, with Alt as the user presses it, and without
  // Alt where the focused control takes no letters; a port typed after
  // Alt+P replaces the old one, five digits at most.
  const struct {
    const DialogKind& kind;
    int start_id;
    wchar_t key;
    bool alt;
    int field_id;
  } cases[] = {
      {kDialogs[0], kSettingsOkId, L'p', true, kSettingsPortEditId},
      {kDialogs[0], kSettingsOkId, L'T', true, kSettingsThemeListId},
      {kDialogs[0], kSettingsOkId, L'w', true, kSettingsPositionListId},
      {kDialogs[0], kSettingsPressEnterId, L'l', false, kSettingsPhoneListId},
      {kDialogs[1], kOnboardingStartId, L'p', true, kOnboardingPortEditId},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind.name) + " " + static_cast<char>(c.key));
    DialogScript script;
    script.WaitForDialog(c.kind.window_class)
        .Then("focus away",
              [&] {
                SetFocus(script.Control(c.start_id));
                return GetFocus() == script.Control(c.start_id);
              })
        .Then("access key",
              [&] {
                // Bit 29: Alt is down, as for a WM_SYSCHAR from the keyboard.
                return PostMessageW(GetFocus(), c.alt ? WM_SYSCHAR : WM_CHAR, c.key,
                                    c.alt ? (1 << 29) | 1 : 1) != FALSE;
              })
        .Then("on its field", [&] { return GetFocus() == script.Control(c.field_id); });
    if (c.field_id == c.kind.port_edit_id) {
      script
          .Then("type a long port",
                [&] {
                  for (int i = 0; i < 7; ++i) {
                    PostMessageW(GetFocus(), WM_CHAR, L'1', 1);
                  }
                  return true;
                })
          .Check([&] { EXPECT_EQ(WindowText(script.Control(c.field_id)), L"11111"); });
    }
    script.Click(c.kind.dismiss_id);
    script.Start();
    AppConfig result = Sentinel();
    EXPECT_FALSE(c.kind.run(nullptr, &result));
    EXPECT_EQ(script.failure(), "");
  }
}

TEST_F(DialogFrameTest, ADpiChangeLaysTheDialogOutAgainWithANewFont) {
  // Opened at 96 DPI, then told of 144 as Windows tells a dialog moved to
  // another monitor: the controls and the size of a dialog opened at 144, in
  // the font for 144, at the top left Windows suggests.
  for (const DialogKind& kind : kDialogs) {
    SCOPED_TRACE(kind.name);
    std::vector<RECT> opened_at_144;
    SIZE size_at_144{};
    RECT suggested{};
    for (const bool told : {false, true}) {
      detail::SetDialogDpiForTest(told ? 96 : 144);
      DialogScript script;
      script.WaitForDialog(kind.window_class);
      if (told) {
        script.Check([&] {
          const RECT outer = WindowRectOf(script.dialog());
          // Windows' suggestion: the old size scaled, moved a little.
          suggested = {outer.left + 10, outer.top + 20, outer.left + 10 + (outer.right - outer.left) * 3 / 2,
                       outer.top + 20 + (outer.bottom - outer.top) * 3 / 2};
          detail::SetDialogDpiForTest(144);  // the window's DPI from now on
          SendMessageW(script.dialog(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&suggested));
        });
      }
      script.Check([&] {
        HWND dialog = script.dialog();
        const RECT outer = WindowRectOf(dialog);
        if (!told) {
          opened_at_144 = testing::ChildRects(dialog);
          size_at_144 = {outer.right - outer.left, outer.bottom - outer.top};
          return;
        }
        EXPECT_EQ(outer.left, suggested.left);
        EXPECT_EQ(outer.top, suggested.top);
        EXPECT_EQ(outer.right - outer.left, size_at_144.cx);
        EXPECT_EQ(outer.bottom - outer.top, size_at_144.cy);
        testing::ExpectUsableLayout(dialog, 144, {});
        const std::vector<RECT> now = testing::ChildRects(dialog);
        ASSERT_EQ(now.size(), opened_at_144.size());
        for (std::size_t i = 0; i < now.size(); ++i) {
          EXPECT_TRUE(EqualRect(&now[i], &opened_at_144[i])) << "control " << i;
        }
      });
      script.Click(kind.dismiss_id);
      script.Start();
      AppConfig result = Sentinel();
      kind.run(nullptr, &result);
      EXPECT_TRUE(script.finished()) << script.failure();
    }
  }
}

TEST_F(DialogFrameTest, CentredOnAnOwnerBigEnoughWhichIsDisabledMeanwhile) {
  struct Owner {
    const char* what;
    int x, y, width, height;
    bool visible;
    bool on_owner;
  };
  // Where exactly the boundary lies is the placement's rule, tested natively.
  const Owner owners[] = {
      {"big window", 100, 80, 700, 600, true, true},
      {"the host's hidden 0 x 0 window", 0, 0, 0, 0, false, false},
  };
  for (const DialogKind& kind : kDialogs) {
    for (const Owner& o : owners) {
      SCOPED_TRACE(std::string(kind.name) + ", " + o.what);
      const ScopedWindow owner(testing::CreateOwnerWindow(o.x, o.y, o.width, o.height, o.visible));
      ASSERT_NE(owner.get(), nullptr);
      const RECT area = o.on_owner ? WindowRectOf(owner.get()) : testing::WorkArea();
      DialogScript script;
      script.WaitForDialog(kind.window_class)
          .Check([&] {
            EXPECT_EQ(GetWindow(script.dialog(), GW_OWNER), owner.get());
            const RECT outer = WindowRectOf(script.dialog());
            const int width = outer.right - outer.left;
            const int height = outer.bottom - outer.top;
            EXPECT_EQ(outer.left, area.left + (area.right - area.left - width) / 2);
            EXPECT_EQ(outer.top, area.top + (area.bottom - area.top - height) / 2);
            EXPECT_EQ(IsWindowEnabled(owner.get()) == FALSE, o.on_owner);
          })
          .Click(kind.dismiss_id);
      script.Start();
      AppConfig result = Sentinel();
      EXPECT_EQ(kind.run(owner.get(), &result), kind.true_when_closed);
      EXPECT_TRUE(script.finished()) << script.failure();
      EXPECT_TRUE(IsWindowEnabled(owner.get())) << "the owner stays disabled";
    }
  }
}

// The message and caption fonts at twice their size, as Windows' "make text
// bigger" at 200 % makes them, for as long as the object lives; the program's windows are
// not told.
class TwiceTheTextSize {
 public:
  TwiceTheTextSize() {
    saved_.cbSize = sizeof saved_;
    ok_ = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof saved_, &saved_, 0) != FALSE;
    NONCLIENTMETRICSW bigger = saved_;
    bigger.lfMessageFont.lfHeight *= 2;
    bigger.lfCaptionFont.lfHeight *= 2;
    ok_ = ok_ && SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof bigger, &bigger, 0) != FALSE;
  }
  ~TwiceTheTextSize() { SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof saved_, &saved_, 0); }
  bool ok() const { return ok_; }

 private:
  NONCLIENTMETRICSW saved_{};
  bool ok_ = false;
};

TEST_F(DialogFrameTest, AChangeOfTextSizeLaysTheDialogOutAgainWithNothingCut) {
  // Open at the usual text size, then at 200 % as the user sets it in
  // Windows while the dialog is open: the dialog grows about twice as big,
  // in the new font, every text whole and no control over another.
  for (const DialogKind& kind : kDialogs) {
    SCOPED_TRACE(kind.name);
    std::optional<TwiceTheTextSize> twice;
    SIZE before{};
    DialogScript script;
    script.WaitForDialog(kind.window_class)
        .Check([&] {
          const RECT outer = WindowRectOf(script.dialog());
          before = {outer.right - outer.left, outer.bottom - outer.top};
          // Another setting changed: the dialog stays as it is.
          SendMessageW(script.dialog(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
          const RECT unchanged = WindowRectOf(script.dialog());
          EXPECT_TRUE(EqualRect(&outer, &unchanged));
          twice.emplace();
          ASSERT_TRUE(twice->ok());
          // Whatever the message names: the new font is what counts.
          SendMessageW(script.dialog(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"WindowMetrics"));
        })
        .Check([&] {
          HWND dialog = script.dialog();
          const RECT outer = WindowRectOf(dialog);
          if (std::string(kind.name) != "contact") {  // its picture keeps its size
            EXPECT_GT(outer.right - outer.left, before.cx * 3 / 2);
            EXPECT_GT(outer.bottom - outer.top, before.cy * 3 / 2);
          }
          testing::ExpectUsableLayout(dialog, 96, {});
        })
        .Click(kind.dismiss_id);
    script.Start();
    AppConfig result = Sentinel();
    kind.run(nullptr, &result);
    twice.reset();
    EXPECT_TRUE(script.finished()) << script.failure();
  }
}

TEST_F(DialogFrameTest, AWindowThatCannotBeCreatedMeansFalseAndNothingChanged) {
  // An owner that is gone: CreateWindowExW refuses it.
  HWND gone = testing::CreateOwnerWindow(0, 0, 300, 300, false);
  DestroyWindow(gone);
  for (const DialogKind& kind : kDialogs) {
    SCOPED_TRACE(kind.name);
    AppConfig result = Sentinel();
    EXPECT_FALSE(kind.run(gone, &result));
    EXPECT_EQ(result, Sentinel());
    EXPECT_EQ(FindThreadWindow(kind.window_class), nullptr);
  }
}

// ---------------------------------------------------------------------------
// The settings dialog itself.

struct Outcome {
  bool returned = false;
  AppConfig result = Sentinel();
};

// Runs the dialog with no owner (as from the tray: the host's window has no
// size) while `script` plays the user.
Outcome RunSettings(DialogScript& script, const AppConfig& current = Unusual(), bool with_result = true) {
  Outcome outcome;
  script.Start();
  outcome.returned =
      SettingsDialog::Run(nullptr, kInstance, current, with_result ? &outcome.result : nullptr);
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(FindThreadWindow(kSettingsDialogClass), nullptr) << "the dialog outlived Run";
  return outcome;
}

using SettingsDialogTest = DialogTest;

TEST_F(SettingsDialogTest, ControlsReadAsDesignedAndScaleWithTheDpi) {
  // Label and field share a row, OK sits left of Cancel.
  const std::vector<std::pair<int, int>> rows = {{0, 1}, {4, 5}, {6, 7}, {12, 13}};
  std::vector<RECT> at96;
  for (const std::uint32_t dpi : {96u, 144u}) {
    SCOPED_TRACE(dpi);
    detail::SetDialogDpiForTest(dpi);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass)
        .Check([&] {
          HWND dialog = script.dialog();
          testing::ExpectControls(dialog,
                                  {
                                      {L"Static", 0, L"监听端口 (TCP)(&P)："},
                                      {L"Edit", kSettingsPortEditId, L"50123"},
                                      {L"Button", kSettingsPressEnterId, L"提交时按 Enter(&E)"},
                                      {L"Button", kSettingsAutoStartId, L"开机自启动(&S)"},
                                      {L"Static", 0, L"主题颜色(&T)："},
                                      {L"ComboBox", kSettingsThemeListId, nullptr},
                                      {L"Static", 0, L"悬浮窗位置(&W)："},
                                      {L"ComboBox", kSettingsPositionListId, nullptr},
                                      {L"Button", kSettingsConfirmPhonesId, L"新手机连接前先询问我(&A)"},
                                      {L"Static", 0, L"已允许的手机(&L)："},
                                      {L"ListBox", kSettingsPhoneListId, nullptr},
                                      {L"Button", kSettingsForgetPhoneId, L"忘记(&F)"},
                                      {L"Button", kSettingsOkId, L"确定"},
                                      {L"Button", kSettingsCancelId, L"取消"},
                                  });
          testing::ExpectUsableLayout(dialog, dpi, rows);
          if (dpi == 96) {
            at96 = testing::ChildRects(dialog);
          } else {
            testing::ExpectScaledFrom96(dialog, at96, dpi);
          }
          // The three switches are check boxes, the lists cannot be typed into.
          for (const int box : {kSettingsPressEnterId, kSettingsAutoStartId, kSettingsConfirmPhonesId}) {
            EXPECT_EQ(GetWindowLongPtrW(script.Control(box), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
          }
          // The phone list tells of a new selection and keeps the record's
          // order. (Its scroll bar shows only when the rows overflow.)
          const auto list_style = GetWindowLongPtrW(script.Control(kSettingsPhoneListId), GWL_STYLE);
          EXPECT_EQ(list_style & (LBS_NOTIFY | LBS_SORT), LBS_NOTIFY);
          for (const int list : {kSettingsThemeListId, kSettingsPositionListId}) {
            EXPECT_EQ(FindWindowExW(script.Control(list), nullptr, L"Edit", nullptr), nullptr);
          }
          // The port edit takes typed digits only.
          HWND port = script.Control(kSettingsPortEditId);
          SetWindowTextW(port, L"");
          for (const wchar_t c : {L'8', L'a', L'0'}) {
            SendMessageW(port, WM_CHAR, c, 1);
          }
          EXPECT_EQ(WindowText(port), L"80");
        })
        .Click(kSettingsCancelId);
    RunSettings(script);
  }
}

TEST_F(SettingsDialogTest, ControlsShowTheRecordAndOkReturnsWhatTheyShowThen) {
  struct Case {
    AppConfig current;
    int shown_theme;
    int shown_position;
    // What the user then picks.
    bool press_enter;
    bool auto_start;
    bool confirm_phones;
    int theme_index;
    int position_index;
  };
  AppConfig pink;
  pink.overlay_theme_color = OverlayThemeColor::Pink;
  const Case cases[] = {
      {AppConfig{}, 0, 0, false, false, false, 4, 4},
      {Unusual(), 3, 2, true, true, true, 5, 4},  // the last entries: purple, bottom_right
      {pink, 1, 0, false, true, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown_theme);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass)
        .Check([&] {
          EXPECT_EQ(WindowText(script.Control(kSettingsPortEditId)), std::to_wstring(c.current.listen_port));
          EXPECT_EQ(SendMessageW(script.Control(kSettingsPressEnterId), BM_GETCHECK, 0, 0),
                    c.current.press_enter_on_commit ? BST_CHECKED : BST_UNCHECKED);
          EXPECT_EQ(SendMessageW(script.Control(kSettingsAutoStartId), BM_GETCHECK, 0, 0),
                    c.current.auto_start ? BST_CHECKED : BST_UNCHECKED);
          EXPECT_EQ(SendMessageW(script.Control(kSettingsConfirmPhonesId), BM_GETCHECK, 0, 0),
                    c.current.confirm_new_phones ? BST_CHECKED : BST_UNCHECKED);
          EXPECT_EQ(SendMessageW(script.Control(kSettingsThemeListId), CB_GETCURSEL, 0, 0), c.shown_theme);
          EXPECT_EQ(SendMessageW(script.Control(kSettingsPositionListId), CB_GETCURSEL, 0, 0),
                    c.shown_position);
          // White first, center first: a list index is the setting's value.
          EXPECT_EQ(ComboEntries(script.Control(kSettingsThemeListId)),
                    (std::vector<std::wstring>{L"白", L"粉", L"绿", L"黄", L"蓝", L"紫"}));
          EXPECT_EQ(ComboEntries(script.Control(kSettingsPositionListId)),
                    (std::vector<std::wstring>{L"居中", L"左上", L"右上", L"左下", L"右下"}));
        })
        .SetText(kSettingsPortEditId, L"40000")
        .SetChecked(kSettingsPressEnterId, c.press_enter)
        .SetChecked(kSettingsAutoStartId, c.auto_start)
        .SetChecked(kSettingsConfirmPhonesId, c.confirm_phones)
        .PickEntry(kSettingsThemeListId, c.theme_index)
        .PickEntry(kSettingsPositionListId, c.position_index)
        .Click(kSettingsOkId);
    const Outcome outcome = RunSettings(script, c.current);
    ASSERT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.result.listen_port, 40000);
    EXPECT_EQ(outcome.result.press_enter_on_commit, c.press_enter);
    EXPECT_EQ(outcome.result.auto_start, c.auto_start);
    EXPECT_EQ(outcome.result.confirm_new_phones, c.confirm_phones);
    EXPECT_EQ(outcome.result.overlay_theme_color, static_cast<OverlayThemeColor>(c.theme_index));
    EXPECT_EQ(outcome.result.overlay_position, static_cast<OverlayPosition>(c.position_index));
    // No control for it: exactly as it went in.
    EXPECT_EQ(outcome.result.use_clipboard_paste, c.current.use_clipboard_paste);
  }
}

TEST_F(SettingsDialogTest, OkTakesAPortFrom1024To65535) {
  // The port rules themselves are the portable ParsePortText's, tested
  // natively; here the dialog reads its edit, warns and stays, or returns.
  const testing::HeldPort taken;
  ASSERT_TRUE(taken.held());
  struct Case {
    const char* what;
    std::wstring text;
    std::optional<std::int32_t> port;  // none: the warning, and the dialog stays
    bool by_enter = false;
    bool with_result = true;
  };
  const Case cases[] = {
      {"empty", L"", std::nullopt},
      {"out of range", L"65536", std::nullopt},
      {"lowest", L"1024", 1024},
      {"held by another program: the dialog does not look", std::to_wstring(taken.port()),
       static_cast<std::int32_t>(taken.port())},
      {"Enter in the edit presses OK", L"40001", 40001, true},
      {"nowhere to put the result", L"40002", 40002, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass).SetText(kSettingsPortEditId, c.text);
    if (c.by_enter) {
      script.PressEnterIn(kSettingsPortEditId);
    } else {
      script.Click(kSettingsOkId);
    }
    if (!c.port) {
      script.DismissPortWarning()
          .Check([&] {
            EXPECT_TRUE(IsWindow(script.dialog())) << "the dialog closed on a bad port";
            EXPECT_TRUE(IsWindowEnabled(script.dialog()));
            EXPECT_EQ(WindowText(script.Control(kSettingsPortEditId)), c.text);
            // Selected again, so that the next port typed replaces it.
            EXPECT_EQ(GetFocus(), script.Control(kSettingsPortEditId));
            DWORD from = 1, to = 0;
            SendMessageW(script.Control(kSettingsPortEditId), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                         reinterpret_cast<LPARAM>(&to));
            EXPECT_EQ(from, 0u);
            EXPECT_EQ(to, c.text.size());
          })
          .Click(kSettingsCancelId);
    }
    const Outcome outcome = RunSettings(script, Unusual(), c.with_result);
    if (c.port && c.with_result) {
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

// The phones of Unusual(), one a row, and forgetting them: only OK gives the
// record without them.
TEST_F(SettingsDialogTest, ForgottenPhonesAreGoneFromTheRecordOnlyAtOk) {
  const std::vector<KnownPhone> phones = Unusual().known_phones;
  const std::wstring zhang = L"张三的手机（192.168.1.23）";
  const std::wstring unnamed = L"未命名手机（192.168.1.40）";
  const std::wstring pixel = L"Pixel 8（10.0.0.5）";
  struct Case {
    const char* what;
    int row;  // clicked, then the forget button, `forgets` times
    int forgets;
    std::vector<std::wstring> lines;  // what the list shows then
    int selected;                     // the row selected then, LB_ERR for none
    int close_with;
    std::vector<KnownPhone> returned;  // at OK
  };
  // clang-format off
  const Case cases[] = {
      {"the middle one: the next moves up and is selected", 1, 1, {zhang, pixel}, 1, kSettingsOkId,
       {phones[0], phones[2]}},
      {"twice from the middle: after the last row nothing is selected", 1, 2, {zhang}, LB_ERR, kSettingsOkId,
       {phones[0]}},
      {"the first, then Cancel", 0, 1, {unnamed, pixel}, 0, kSettingsCancelId, {}},
      {"a row only clicked", 2, 0, {zhang, unnamed, pixel}, 2, kSettingsOkId, phones},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogScript script;
    script.WaitForDialog(kSettingsDialogClass).Check([&] {
      EXPECT_EQ(testing::ListBoxLines(script.Control(kSettingsPhoneListId)),
                (std::vector<std::wstring>{zhang, unnamed, pixel}));
      EXPECT_EQ(SendMessageW(script.Control(kSettingsPhoneListId), LB_GETCURSEL, 0, 0), LB_ERR);
      EXPECT_FALSE(IsWindowEnabled(script.Control(kSettingsForgetPhoneId))) << "nothing is selected yet";
    });
    script.ClickRow(kSettingsPhoneListId, c.row).Check([&] {
      EXPECT_EQ(SendMessageW(script.Control(kSettingsPhoneListId), LB_GETCURSEL, 0, 0), c.row);
      EXPECT_TRUE(IsWindowEnabled(script.Control(kSettingsForgetPhoneId)));
    });
    for (int i = 0; i < c.forgets; ++i) {
      script.Click(kSettingsForgetPhoneId);
    }
    script
        .Check([&] {
          EXPECT_EQ(testing::ListBoxLines(script.Control(kSettingsPhoneListId)), c.lines);
          EXPECT_EQ(SendMessageW(script.Control(kSettingsPhoneListId), LB_GETCURSEL, 0, 0), c.selected);
          EXPECT_EQ(IsWindowEnabled(script.Control(kSettingsForgetPhoneId)) != FALSE, c.selected != LB_ERR);
        })
        .Click(c.close_with);
    const Outcome outcome = RunSettings(script);
    if (c.close_with == kSettingsCancelId) {
      EXPECT_FALSE(outcome.returned);
      EXPECT_EQ(outcome.result, Sentinel());
      continue;
    }
    ASSERT_TRUE(outcome.returned);
    AppConfig want = Unusual();
    want.known_phones = c.returned;
    EXPECT_EQ(outcome.result, want);
  }
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

}  // namespace
}  // namespace lumora
