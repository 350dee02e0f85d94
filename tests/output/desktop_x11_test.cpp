// The X11 desktop on an X server of the test's own. A small client of the
// test's stands in for the program in front: it reads its key events as an
// editor would (the keymap as it is at each press, Shift and Caps Lock
// applied, Backspace erasing) and pastes on Ctrl+V as toolkits do. Xvfb has
// no window manager: the test names the active window on the root itself.

#include "output/desktop_x11.h"

// GoogleTest before Xlib, whose macros (None, Bool) would spoil its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on
#undef None

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "output/text_injector.h"
#include "tests/support/x11_client_posix.h"
#include "tests/support/xvfb_posix.h"

namespace lumora {
namespace {

using std::chrono::seconds;
using testing::CapsLocked;
using testing::Convert;
using testing::Keymap;
using testing::MappedWindow;
using testing::SetActive;
using testing::SetPid;
using Client = testing::X11Client;

struct Reports {
  std::mutex mutex;
  std::vector<OutputReport> all;
  OutputReporter Reporter() {
    return [this](OutputReport report) {
      std::lock_guard<std::mutex> lock(mutex);
      all.push_back(std::move(report));
    };
  }
  std::size_t held() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [](auto& r) { return r.held; }));
  }
};

std::unique_ptr<X11Desktop> DesktopOn(const testing::XvfbServer& server,
                                      std::function<bool()> screen_locked = {}) {
  X11DesktopOptions options;
  options.display_name = server.display();
  options.screen_locked = std::move(screen_locked);
  return X11Desktop::Open(std::move(options));
}

TEST(X11DesktopTest, TypesTextsAndKeysExactlyWithCapsLockLocked) {
  testing::XvfbServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  const DisplayConnection test(XOpenDisplay(server.display().c_str()));
  const std::vector<KeySym> keymap = Keymap(server.display());
  Client client;
  ASSERT_TRUE(client.Open(server.display()));
  XkbLockModifiers(test.get(), XkbUseCoreKbd, LockMask, LockMask);
  XSync(test.get(), False);
  struct Item {
    const char* text;  // null: the key
    const char* key;
    bool press_enter;
  };
  const Item items[] = {
      {"今天下午三点开会，请准时参加。", nullptr, false},
      {"好的\U0001F600\U0001F44D", nullptr, false},
      {"Caps Lock is on, yet: MiXeD case!", nullptr, false},
      {"a\nb", nullptr, false},
      {nullptr, "backspace", false},
      {nullptr, "enter", false},
      {"发送", nullptr, true},
  };
  const std::u32string want =
      U"今天下午三点开会，请准时参加。好的\U0001F600\U0001F44DCaps Lock is on, yet: MiXeD case!a\n\n发送\n";
  std::unique_ptr<X11Desktop> desktop = DesktopOn(server);
  ASSERT_NE(desktop, nullptr);
  Reports reports;
  {
    TextInjector injector(std::move(desktop), reports.Reporter());
    for (const Item& item : items) {
      if (item.text != nullptr) {
        injector.EnqueueText(item.text, item.press_enter, false);
      } else {
        injector.EnqueueKey(item.key);
      }
    }
    injector.Flush();
    EXPECT_TRUE(client.WaitForText(want)) << client.text().size() << " characters of " << want.size();
    EXPECT_TRUE(CapsLocked(test.get())) << "Caps Lock was not locked again";
    EXPECT_EQ(reports.held(), 0u);
    // Idle, the keycodes go back while the desktop lives on.
    EXPECT_TRUE(client.WaitUntil([&] { return Keymap(server.display()) == keymap; }))
        << "the keymap was not given back";
  }
}

TEST(X11DesktopTest, QuickPastesReachTheProgramInFrontOnceEachInOrder) {
  testing::XvfbServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  Client client;
  ASSERT_TRUE(client.Open(server.display()));
  const std::vector<std::string> texts = {"第一句", "second, Latin-1: é", "第三句 \U0001F389"};
  std::unique_ptr<X11Desktop> desktop = DesktopOn(server);
  ASSERT_NE(desktop, nullptr);
  Reports reports;
  {
    TextInjector injector(std::move(desktop), reports.Reporter());
    for (const std::string& text : texts) {
      injector.EnqueueText(text, false, true);
    }
    EXPECT_TRUE(client.WaitForPastes(texts.size()));
    injector.Flush();
    // Only the program in front's read let the next text come; the monitor
    // was served all the same.
    EXPECT_EQ(client.pastes(), texts);
    EXPECT_EQ(reports.held(), 0u) << "a read by the program in front went unseen";
    const std::vector<std::optional<std::string>> monitored(texts.begin(), texts.end());
    EXPECT_EQ(client.monitor_reads(), monitored);
    // Afterwards the last text stays for anyone.
    const DisplayConnection later(XOpenDisplay(server.display().c_str()));
    const Window window =
        XCreateSimpleWindow(later.get(), DefaultRootWindow(later.get()), 0, 0, 1, 1, 0, 0, 0);
    EXPECT_EQ(Convert(later.get(), window, "UTF8_STRING"), texts.back());
    EXPECT_EQ(Convert(later.get(), window, "STRING"), std::nullopt) << "beyond Latin-1";
  }
}

TEST(X11DesktopTest, CheckTargetSeesOwnWindowsAndTheLockedScreen) {
  testing::XvfbServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  const DisplayConnection test(XOpenDisplay(server.display().c_str()));
  Display* d = test.get();
  const Window root = DefaultRootWindow(d);
  const Window own = MappedWindow(d, root);
  SetPid(d, own, getpid());
  const Window own_child = MappedWindow(d, own);
  const Window other = MappedWindow(d, root);
  SetPid(d, other, getppid());
  const Window other_child = MappedWindow(d, other);
  // No _NET_WM_PID: the server still knows this process made it.
  const Window own_unmarked = MappedWindow(d, root);
  std::atomic<bool> locked{false};
  const std::unique_ptr<X11Desktop> desktop = DesktopOn(server, [&] { return locked.load(); });
  ASSERT_NE(desktop, nullptr);
  struct Row {
    const char* what;
    Window active;  // 0: no _NET_ACTIVE_WINDOW, the focus decides
    Window focus;
    bool screen_locked;
    TargetBlock want;
  };
  const Row rows[] = {
      {"our window in front", own, own, false, TargetBlock::OwnWindow},
      {"another program's window in front", other, other, false, TargetBlock::None},
      {"no window manager, focus inside our window", 0, own_child, false, TargetBlock::OwnWindow},
      {"no window manager, focus inside another's", 0, other_child, false, TargetBlock::None},
      {"our window without _NET_WM_PID", own_unmarked, own_unmarked, false, TargetBlock::OwnWindow},
      {"nothing in front", 0, PointerRoot, false, TargetBlock::None},
      {"the screen is locked", other, other, true, TargetBlock::OtherDesktop},
  };
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    XSetInputFocus(d, row.focus, RevertToParent, CurrentTime);
    SetActive(d, row.active);
    locked = row.screen_locked;
    EXPECT_EQ(desktop->CheckTarget(), row.want);
    if (row.want == TargetBlock::OwnWindow) {
      EXPECT_EQ(desktop->ForegroundImagePath(), ToUtf16(self));
    }
  }
  XSetInputFocus(d, PointerRoot, RevertToParent, CurrentTime);
  SetActive(d, 0);
  EXPECT_EQ(desktop->ForegroundImagePath(), u"") << "nothing in front has no image";
}

TEST(X11DesktopTest, ModifierKeysDownAreHeldCapsLockLockedIsNot) {
  testing::XvfbServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  const DisplayConnection test(XOpenDisplay(server.display().c_str()));
  Display* d = test.get();
  const std::unique_ptr<X11Desktop> desktop = DesktopOn(server);
  ASSERT_NE(desktop, nullptr);
  struct Row {
    KeySym key;
    bool keep_down;  // false: pressed and released
    bool held;
  };
  const Row rows[] = {
      {XK_Shift_L, true, true},     {XK_Control_R, true, true},        {XK_Alt_L, true, true},
      {XK_Super_L, true, true},     {XK_ISO_Level3_Shift, true, true}, {XK_a, true, false},
      {XK_Caps_Lock, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(XKeysymToString(row.key));
    const KeyCode keycode = XKeysymToKeycode(d, row.key);
    ASSERT_NE(keycode, 0);
    XTestFakeKeyEvent(d, keycode, True, CurrentTime);
    if (!row.keep_down) {
      XTestFakeKeyEvent(d, keycode, False, CurrentTime);
    }
    XSync(d, False);
    EXPECT_EQ(desktop->ModifiersHeld(), row.held);
    XTestFakeKeyEvent(d, keycode, False, CurrentTime);
    XSync(d, False);
    EXPECT_FALSE(desktop->ModifiersHeld()) << "still held once released";
  }
  EXPECT_TRUE(CapsLocked(d)) << "the Caps Lock row did not lock it";
}

}  // namespace
}  // namespace lumora
