// The new-phone prompt on an X server of the test's own: it appears without
// taking the focus from the window the user types in, and keys that come at
// once after it was brought forward answer nothing; after that, the keyboard
// answers it as the buttons say.

#include "ui/phone_prompt_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QWindow>
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/qt_app_posix.h"

namespace lumora {
namespace {

class PhonePromptQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = XOpenDisplay(testing::kQtApplication->display().c_str());
    ASSERT_NE(display_, nullptr);
    // The window the user types in, with the keyboard focus.
    user_window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 300, 200, 0, 0, 0);
    XMapWindow(display_, user_window_);
    XSync(display_, False);
    XSetInputFocus(display_, user_window_, RevertToParent, CurrentTime);
    XSync(display_, False);
  }
  void TearDown() override { XCloseDisplay(display_); }

  Window Focus() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus;
  }
  void Press(KeySym key) {
    const KeyCode code = XKeysymToKeycode(display_, key);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
  }
  Display* display_ = nullptr;
  Window user_window_ = 0;
};

TEST_F(PhonePromptQtTest, AppearsWithoutTheFocusAndAnswersOnlyOnceSettled) {
  struct Case {
    const char* what;
    std::vector<KeySym> keys;
    bool allow;
  };
  const Case cases[] = {
      {"Esc refuses", {XK_Escape}, false},
      {"Enter presses the default button", {XK_Return}, false},
      {"Tab to 允许, Enter", {XK_Tab, XK_Return}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    XSetInputFocus(display_, user_window_, RevertToParent, CurrentTime);
    XSync(display_, False);
    std::optional<bool> decided;
    auto prompt = std::make_unique<PhonePromptQt>("Pixel 8", "192.168.1.23 (aa:bb:cc:dd:ee:ff)",
                                                  [&decided](bool allow) { decided = allow; });
    ASSERT_TRUE(
        testing::PumpUntil([&] { return prompt->isVisible() && prompt->windowHandle()->isExposed(); }));
    QApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(Focus(), user_window_) << "the prompt took the focus";
    EXPECT_FALSE(prompt->isActiveWindow());

    // The user fetches it; what they were typing goes on for a moment.
    prompt->BringToFront();
    ASSERT_TRUE(testing::PumpUntil([&] { return prompt->isActiveWindow(); }));
    for (const KeySym key : c.keys) {
      Press(key);
    }
    Press(XK_space);
    testing::PumpUntil([] { return false; }, 200);
    EXPECT_FALSE(decided) << "a key typed at once answered the prompt";

    ASSERT_TRUE(testing::PumpUntil([&] { return prompt->settled(); }));
    for (const KeySym key : c.keys) {
      Press(key);
    }
    ASSERT_TRUE(testing::PumpUntil([&] { return decided.has_value(); }));
    EXPECT_EQ(*decided, c.allow);
  }
}

}  // namespace
}  // namespace lumora
