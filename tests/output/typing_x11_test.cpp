// Typing into a real X client on an X server of the test's own: what the
// client reads from its key events, with the keymap as it is when it handles
// each one, must be exactly the text, under a US and a German layout.

#include "output/typing_x11.h"

// GoogleTest before Xlib, whose macros (None, Bool) would spoil its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/xvfb_posix.h"

namespace lumora {
namespace {

// A window with the keyboard focus that writes down what it is typed, on a
// thread of its own, as a client that is not busy would.
class KeyReader {
 public:
  bool Open(const std::string& name) {
    display_.reset(XOpenDisplay(name.c_str()));
    if (display_ == nullptr) {
      return false;
    }
    Display* d = display_.get();
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d, window_, KeyPressMask | StructureNotifyMask);
    XMapWindow(d, window_);
    XEvent event{};
    do {
      XWindowEvent(d, window_, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XSync(d, False);
    reader_ = std::thread([this] { Read(); });
    return true;
  }

  // Waits until `count` characters came, generously.
  std::u32string WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(60), [&] { return text_.size() >= count; });
    return text_;
  }

  void Close(const std::string& name) {
    if (!reader_.joinable()) {
      return;
    }
    // A message of its own ends the reader's loop.
    const DisplayConnection other(XOpenDisplay(name.c_str()));
    XEvent stop{};
    stop.xclient.type = ClientMessage;
    stop.xclient.window = window_;
    stop.xclient.format = 32;
    XSendEvent(other.get(), window_, False, NoEventMask, &stop);
    XSync(other.get(), False);
    reader_.join();
  }

 private:
  void Read() {
    Display* d = display_.get();
    for (;;) {
      XEvent event{};
      XNextEvent(d, &event);
      if (event.type == ClientMessage) {
        return;
      }
      if (event.type != KeyPress) {
        continue;
      }
      // The keymap as the server has it while the press is handled, as a
      // client that reads it afresh does (Xlib's own cache would need XKB's
      // map notifications, which a plain window does not select).
      int per_keycode = 0;
      KeySym* keysyms = XGetKeyboardMapping(d, static_cast<KeyCode>(event.xkey.keycode), 1, &per_keycode);
      const KeySym keysym = keysyms != nullptr && per_keycode > 0 ? keysyms[0] : NoSymbol;
      XFree(keysyms);
      char32_t c = 0;
      if (keysym == XK_Return) {
        c = U'\n';
      } else if (keysym == XK_Tab) {
        c = U'\t';
      } else if ((keysym & 0xFF000000) == 0x01000000) {
        c = static_cast<char32_t>(keysym & 0x00FFFFFF);
      } else if (keysym >= 0x20 && keysym <= 0xFF) {
        c = static_cast<char32_t>(keysym);
      } else {
        c = U'?';  // a keysym the text did not ask for
      }
      std::lock_guard<std::mutex> lock(mutex_);
      text_ += c;
      changed_.notify_all();
    }
  }

  DisplayConnection display_;
  Window window_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::u32string text_;
};

// The whole core keymap, to see it given back as it was.
std::vector<KeySym> Keymap(const std::string& name) {
  const DisplayConnection display(XOpenDisplay(name.c_str()));
  int min = 0;
  int max = 0;
  XDisplayKeycodes(display.get(), &min, &max);
  int per = 0;
  KeySym* keysyms = XGetKeyboardMapping(display.get(), static_cast<KeyCode>(min), max - min + 1, &per);
  std::vector<KeySym> map(keysyms, keysyms + (max - min + 1) * per);
  XFree(keysyms);
  return map;
}

// More distinct characters than there are spare keycodes, many times over.
std::u32string LongDictation() {
  std::u32string text;
  for (char32_t i = 0; text.size() < 2700; ++i) {
    text += static_cast<char32_t>(0x4E00 + (i * 37) % 900);
    if (i % 40 == 39) {
      text += U"，";
    }
  }
  return text;
}

TEST(X11TypistTest, EveryCharacterArrivesExactlyUnderAnyLayout) {
  testing::XvfbServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  const std::u32string texts[] = {
      U"今天下午三点开会，请准时参加。",
      U"好的\U0001F600\U0001F44D",
      U"ASCII: a-Z 0~9 !@#$%^&*()_+[]{};':\",./<>?\\|`",
      U"中文 mixed with English, 还有 emoji \U0001F389\n第二行\t完",
      LongDictation(),
  };
  for (const char* layout : {"us", "de"}) {
    SCOPED_TRACE(layout);
    const std::string command = "setxkbmap -display " + server.display() + " " + layout;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<KeySym> before = Keymap(server.display());
    KeyReader reader;
    ASSERT_TRUE(reader.Open(server.display()));
    std::u32string want;
    {
      const std::unique_ptr<X11Typist> typist = X11Typist::Open(server.display().c_str());
      ASSERT_NE(typist, nullptr);
      EXPECT_GT(typist->spare_keycodes(), 0u);
      for (const std::u32string& text : texts) {
        EXPECT_EQ(typist->Type(text), text.size());
        want += text;
      }
    }
    const std::u32string got = reader.WaitFor(want.size());
    reader.Close(server.display());
    EXPECT_TRUE(got == want) << "typed " << got.size() << " of " << want.size() << " characters";
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
      if (got[i] != want[i]) {
        ADD_FAILURE() << "first difference at " << i << ": U+" << std::hex << static_cast<unsigned>(got[i])
                      << " for U+" << static_cast<unsigned>(want[i]);
        break;
      }
    }
    EXPECT_EQ(Keymap(server.display()), before) << "the keymap was not given back";
  }
}

}  // namespace
}  // namespace lumora
