// The prompt for a new phone on the bench's desktop: what it shows, and every
// way it ends, by mouse, by keyboard through SendInput and by its owner; then
// the prompts of a whole host, served by its own server. The prompt has no
// loop of its own, so the tests pump this thread's messages as the host's
// loop would.

#include "ui/phone_prompt_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "overlay/dpi_win.h"
#include "tests/net/test_phone.h"
#include "tests/support/free_port.h"
#include "tests/support/pump_win.h"
#include "tests/ui/dialog_script_win.h"
#include "tests/ui/dialog_test_support_win.h"
#include "ui/settings_dialog_win.h"

namespace lumora {
namespace {

using testing::ChildrenOf;
using testing::ChildWindow;
using testing::PumpMessagesUntil;
using testing::WindowText;

using testing::kInstance;
constexpr auto kPatience = std::chrono::milliseconds(5000);

bool WaitFor(const std::function<bool()>& done) { return PumpMessagesUntil(done, kPatience); }
void Settle() {
  PumpMessagesUntil([] { return false; }, std::chrono::milliseconds(200));
}

// One key pressed and released on the keyboard, as the system delivers it to
// whatever has the focus.
void Press(WORD virtual_key) {
  INPUT keys[2] = {};
  for (INPUT& key : keys) {
    key.type = INPUT_KEYBOARD;
    key.ki.wVk = virtual_key;
    key.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC));
  }
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
}

HWND Button(HWND prompt, int id) { return GetDlgItem(prompt, id); }

// In front with "拒绝" focused, as it shows itself.
bool InFront(HWND prompt) {
  return GetForegroundWindow() == prompt && GetFocus() == Button(prompt, kPhonePromptRefuseId);
}

bool IsDefaultButton(HWND button) {
  return (GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

TEST(PhonePromptTest, ShowsThePhoneAsPlainTextInFrontWithRefuseFocused) {
  // A name as a phone could send it: a mnemonic marker, a line break to
  // forge a line, an override to reverse the rest, and far too long.
  const std::wstring name = L"Pixel &8\r\n允许\x202E" + std::wstring(60, L'长');
  std::vector<bool> decisions;
  const std::unique_ptr<PhonePrompt> prompt = PhonePrompt::Show(
      nullptr, kInstance, name, L"192.168.1.23", [&](bool allow) { decisions.push_back(allow); });
  ASSERT_NE(prompt, nullptr);
  const HWND window = prompt->window();
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window); }));
  prompt->BringToFront();
  ASSERT_TRUE(WaitFor([&] { return InFront(window); }));

  EXPECT_EQ(WindowText(window), L"Lumora语音输入 - 新手机");
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "not above the other windows";
  const std::wstring shown_name = L"Pixel &8 允许" + std::wstring(40 - 11 - 1, L'长') + L"\x2026";
  testing::ExpectControls(
      window,
      {
          {L"Static", kPhonePromptRequestId, L"一部新手机请求连接："},
          {L"Static", kPhonePromptPhoneId, (L"\x201C" + shown_name + L"\x201D（192.168.1.23）").c_str()},
          {L"Static", kPhonePromptWarningId, L"允许后，它说的话会输入到当前窗口。只允许你自己的手机。"},
          {L"Button", kPhonePromptAllowId, L"允许"},
          {L"Button", kPhonePromptRefuseId, L"拒绝"},
      });
  // Whole, clear of each other, the two buttons on one row.
  testing::ExpectUsableLayout(window, 96, {{3, 4}});
  for (const ChildWindow& child : ChildrenOf(window)) {
    SCOPED_TRACE(child.id);
    if (_wcsicmp(child.class_name.c_str(), L"Static") == 0) {
      EXPECT_NE(child.style & SS_NOPREFIX, 0u) << "an \"&\" would underline the next letter";
    } else {
      EXPECT_NE(child.style & WS_TABSTOP, 0u);
    }
  }
  EXPECT_TRUE(IsDefaultButton(Button(window, kPhonePromptRefuseId)));
  EXPECT_FALSE(IsDefaultButton(Button(window, kPhonePromptAllowId)));
  EXPECT_TRUE(decisions.empty());
}

TEST(PhonePromptTest, AnEmptyNameIsShownAsUnnamed) {
  const std::unique_ptr<PhonePrompt> prompt =
      PhonePrompt::Show(nullptr, kInstance, L" \r\n", L"10.0.0.7", [](bool) {});
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(WindowText(GetDlgItem(prompt->window(), kPhonePromptPhoneId)),
            L"\x201C未命名手机\x201D（10.0.0.7）");
}

TEST(PhonePromptTest, NullWhenTheWindowCannotBeMade) {
  bool called = false;
  // An owner that is no window: CreateWindowExW refuses.
  const HWND no_window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF0001));
  ASSERT_FALSE(IsWindow(no_window));
  EXPECT_EQ(
      PhonePrompt::Show(no_window, kInstance, L"Pixel 8", L"192.168.1.23", [&](bool) { called = true; }),
      nullptr);
  EXPECT_FALSE(called);
}

TEST(PhonePromptTest, EachWayToEndItDecidesOnceAndTheWindowIsGone) {
  struct Case {
    const char* what;
    bool owner_lets_go;  // the callback destroys the PhonePrompt
    std::function<void(HWND, std::unique_ptr<PhonePrompt>&)> act;
    std::optional<bool> want;  // none: no decision at all
  };
  const auto click = [](int id) {
    return [id](HWND window, std::unique_ptr<PhonePrompt>&) {
      PostMessageW(Button(window, id), BM_CLICK, 0, 0);
    };
  };
  const auto key = [](WORD virtual_key) {
    return [virtual_key](HWND, std::unique_ptr<PhonePrompt>&) { Press(virtual_key); };
  };
  const auto close_box = [](HWND window, std::unique_ptr<PhonePrompt>&) {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  };
  // Tab moves the focus, and the Enter button with it.
  const auto tab_to = [](int id) {
    return [id](HWND window, std::unique_ptr<PhonePrompt>&) {
      Press(VK_TAB);
      ASSERT_TRUE(WaitFor([&] { return GetFocus() == Button(window, id); })) << "Tab did not move the focus";
      EXPECT_TRUE(IsDefaultButton(Button(window, id)));
      Press(VK_RETURN);
    };
  };
  const auto tab_twice = [](HWND window, std::unique_ptr<PhonePrompt>&) {
    Press(VK_TAB);
    ASSERT_TRUE(WaitFor([&] { return GetFocus() == Button(window, kPhonePromptAllowId); }));
    Press(VK_TAB);
    ASSERT_TRUE(WaitFor([&] { return GetFocus() == Button(window, kPhonePromptRefuseId); }));
    Press(VK_RETURN);
  };
  const Case cases[] = {
      {"允许 clicked", false, click(kPhonePromptAllowId), true},
      {"拒绝 clicked", false, click(kPhonePromptRefuseId), false},
      {"Esc", false, key(VK_ESCAPE), false},
      {"the close box", false, close_box, false},
      {"Tab to 允许, Enter", false, tab_to(kPhonePromptAllowId), true},
      {"Tab twice, Enter", false, tab_twice, false},
      {"destroyed by its owner", false, [](HWND, std::unique_ptr<PhonePrompt>& prompt) { prompt.reset(); },
       std::nullopt},
      {"允许 clicked, the owner lets go when told", true, click(kPhonePromptAllowId), true},
      {"Enter, the owner lets go when told", true, key(VK_RETURN), false},
      {"Esc, the owner lets go when told", true, key(VK_ESCAPE), false},
      {"the close box, the owner lets go when told", true, close_box, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<bool> decisions;
    std::unique_ptr<PhonePrompt> prompt;
    // No settling time: these are the user's own, deliberate answers.
    prompt = PhonePrompt::Show(
        nullptr, kInstance, L"Pixel 8", L"192.168.1.23",
        [&](bool allow) {
          // The window is still up while the answer is given.
          EXPECT_TRUE(IsWindow(prompt ? prompt->window() : nullptr));
          decisions.push_back(allow);
          if (c.owner_lets_go) {
            prompt.reset();
          }
        },
        std::chrono::milliseconds(0));
    ASSERT_NE(prompt, nullptr);
    const HWND window = prompt->window();
    prompt->BringToFront();
    ASSERT_TRUE(WaitFor([&] { return InFront(window); })) << "not in front with 拒绝 focused";
    c.act(window, prompt);
    if (c.want.has_value()) {
      ASSERT_TRUE(WaitFor([&] { return !decisions.empty(); })) << "no decision";
      EXPECT_EQ(decisions.front(), *c.want);
      if (c.owner_lets_go) {
        EXPECT_EQ(prompt, nullptr);
      } else {
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->window(), nullptr);
      }
    }
    EXPECT_FALSE(IsWindow(window)) << "the window is still there";
    Settle();
    EXPECT_EQ(decisions.size(), c.want.has_value() ? 1u : 0u);
  }
}

// The window the user types in: a top-level edit that keeps the focus.
class UserWindow {
 public:
  UserWindow() {
    window_ = CreateWindowExW(0, L"EDIT", L"document", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_MULTILINE, 40,
                              40, 400, 300, nullptr, nullptr, kInstance, nullptr);
    SetForegroundWindow(window_);
    SetFocus(window_);
  }
  ~UserWindow() { DestroyWindow(window_); }
  UserWindow(const UserWindow&) = delete;
  UserWindow& operator=(const UserWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

TEST(PhonePromptTest, StrayKeysAnswerNothing) {
  const UserWindow user;
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == user.get() && GetFocus() == user.get(); }));
  std::vector<bool> decisions;
  // Longer than a key takes to arrive, on the slowest bench.
  constexpr auto kSettle = std::chrono::milliseconds(3000);
  const std::unique_ptr<PhonePrompt> prompt = PhonePrompt::Show(
      nullptr, kInstance, L"Pixel 8", L"192.168.1.23", [&](bool allow) { decisions.push_back(allow); },
      kSettle);
  ASSERT_NE(prompt, nullptr);
  const HWND window = prompt->window();
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window); }));

  // Shown: the user's window keeps the foreground and every key.
  for (const WORD key : {VK_TAB, VK_SPACE, VK_RETURN, VK_ESCAPE}) {
    Press(key);
  }
  Settle();
  EXPECT_EQ(GetForegroundWindow(), user.get()) << "the prompt took the foreground";
  EXPECT_TRUE(decisions.empty());

  // Brought to the front: keys already on their way answer nothing either.
  prompt->BringToFront();
  ASSERT_TRUE(WaitFor([&] { return InFront(window); }));
  // Its activation, which starts the settling time, may come a little after
  // this on a busy bench: the second of margin covers that.
  const auto fetched = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const WORD key : {VK_TAB, VK_SPACE, VK_RETURN}) {
    Press(key);
  }
  PostMessageW(Button(window, kPhonePromptAllowId), BM_CLICK, 0, 0);
  Settle();
  EXPECT_TRUE(decisions.empty());
  ASSERT_TRUE(IsWindow(window));

  // Once settled, the keyboard answers.
  PumpMessagesUntil([&] { return std::chrono::steady_clock::now() - fetched > kSettle; }, kSettle * 3);
  Press(VK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return !decisions.empty(); }));
  EXPECT_EQ(decisions, std::vector<bool>{false});
}

// A whole host with its server, asking about phones from 127.0.0.1.
class HostPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppConfig written;
    written.listen_port = static_cast<std::int32_t>(testing::FreePort());
    written.auto_start = false;
    written.confirm_new_phones = true;
    written.known_phones = {{"mine", "", "127.0.0.1"}};
    SaveAppConfig(written);
    ASSERT_TRUE(app_.InitHostWindow());
    app_.StartComponents();
    ASSERT_TRUE(app_.server()->IsRunning());
    port_ = app_.server()->Port();
  }

  // The phone line of the open prompt, once there is one.
  std::wstring PromptedPhone() {
    std::wstring line;
    WaitFor([&] {
      HWND prompt = FindWindowW(kPhonePromptClass, nullptr);
      line = prompt != nullptr ? WindowText(GetDlgItem(prompt, kPhonePromptPhoneId)) : L"";
      return !line.empty();
    });
    return line;
  }
  // Clicks a button of the open prompt until it is gone: clicks within its
  // settling time do nothing.
  bool Answer(int button) {
    HWND prompt = FindWindowW(kPhonePromptClass, nullptr);
    return prompt != nullptr && WaitFor([&] {
             PostMessageW(Button(prompt, button), BM_CLICK, 0, 0);
             return !IsWindow(prompt);
           });
  }

  Win32App app_{kInstance};
  unsigned port_ = 0;
};

// The order of the questions is the consent flow's, tested natively; here
// what the host wires to it.
TEST_F(HostPromptTest, ForgettingTheConnectedPhoneAsksAboutItAgain) {
  testing::TestPhone mine;
  ASSERT_TRUE(mine.Handshake(port_, "mine"));
  mine.Send("{\"type\":\"clear\"}\n");
  EXPECT_EQ(mine.ReadLine(), R"({"type":"ack","of":"clear"})");

  testing::DialogScript script;
  script.WaitForDialog(kSettingsDialogClass)
      .ClickRow(kSettingsPhoneListId, 0)
      .Click(kSettingsForgetPhoneId)
      .Click(kSettingsOkId);
  script.Start();
  app_.ExecuteTrayCommand(kTrayCommandSettings);
  ASSERT_TRUE(script.finished()) << script.failure();

  // Asked about again on the same connection; meanwhile nothing it says is
  // taken: the clear goes unacknowledged, the ping after it is answered.
  EXPECT_NE(PromptedPhone().find(L"mine"), std::wstring::npos);
  mine.Send("{\"type\":\"clear\"}\n{\"type\":\"ping\",\"ts\":2}\n");
  EXPECT_EQ(mine.ReadLine(), R"({"type":"pong","ts":2})");
  EXPECT_TRUE(app_.config().known_phones.empty());
}

}  // namespace
}  // namespace lumora
