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

#include "tests/support/x11_client_posix.h"
#include "tests/support/xvfb_posix.h"

namespace lumora {
namespace {

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
  std::vector<std::u32string> texts = {
      U"今天下午三点开会，请准时参加。",
      U"好的\U0001F600\U0001F44D",
      U"ASCII: a-Z 0~9 !@#$%^&*()_+[]{};':\",./<>?\\|`",
      U"中文 mixed with English, 还有 emoji \U0001F389\n第二行\t完",
  };
  // The long text, which remaps every keycode many times over and waits out
  // the cooldown each time, under the second layout only: it takes half a
  // minute, and what the layout changes shows in the short texts.
  for (const char* layout : {"us", "de"}) {
    if (std::string(layout) == "de") {
      texts.push_back(LongDictation());
    }
    SCOPED_TRACE(layout);
    const std::string command = "setxkbmap -display " + server.display() + " " + layout;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<KeySym> before = testing::Keymap(server.display());
    testing::X11Client reader;
    ASSERT_TRUE(reader.Open(server.display()));
    std::u32string want;
    {
      const std::unique_ptr<X11Typist> typist = X11Typist::Open(server.display().c_str());
      ASSERT_NE(typist, nullptr);
      EXPECT_GT(typist->spare_keycodes(), 0u);
      // Characters the layout has, with Shift or without, take no spare keycode.
      const std::u32string on_layout = U"Hello, World 42";
      EXPECT_EQ(typist->Type(on_layout), on_layout.size());
      want += on_layout;
      EXPECT_EQ(testing::Keymap(server.display()), before) << "a character of the layout was remapped";
      for (const std::u32string& text : texts) {
        EXPECT_EQ(typist->Type(text), text.size());
        want += text;
      }
    }
    reader.WaitForLength(want.size());
    const std::u32string got = reader.text();
    reader.Close();
    EXPECT_TRUE(got == want) << "typed " << got.size() << " of " << want.size() << " characters";
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
      if (got[i] != want[i]) {
        ADD_FAILURE() << "first difference at " << i << ": U+" << std::hex << static_cast<unsigned>(got[i])
                      << " for U+" << static_cast<unsigned>(want[i]);
        break;
      }
    }
    EXPECT_EQ(testing::Keymap(server.display()), before) << "the keymap was not given back";
  }
}

}  // namespace
}  // namespace lumora
