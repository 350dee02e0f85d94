#pragma once

// Typing into whatever window has the X keyboard focus, exactly, whatever
// the user's layout or input method: XTest presses of spare keycodes mapped
// for the moment to the characters' keysyms (KeymapPlan keeps to the
// cooldown), Enter, Tab and Backspace as the keys they are. Characters of
// Latin-1 that the layout has on a key at its current group, alone or with
// Shift, are typed with that key: no remapping, so no cooldown to wait out
// and no keymap change for every client to read again.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "output/keymap_plan.h"

struct _XDisplay;

namespace lumora {

// Owns a connection to an X server.
struct DisplayCloser {
  void operator()(_XDisplay* display) const;
};
using DisplayConnection = std::unique_ptr<_XDisplay, DisplayCloser>;

// Connects to `display_name` (null: $DISPLAY); null when there is no such
// display. A request that fails on this connection is not fatal: Xlib's
// default handler ends the process, and a window may close between our
// finding it and reading its property. Every caller checks results instead
// (SyncSucceeded). Errors on other connections of the process still go to
// whichever handler was installed before.
DisplayConnection OpenDisplay(const char* display_name);

// OpenDisplay, and null also when the server lacks XTest: nothing could be
// typed through the connection.
DisplayConnection OpenXTestDisplay(const char* display_name);

// Waits until the server has handled every request sent on `display`;
// false when one of them failed since the last round trip. The calling
// thread's, for a connection from OpenDisplay.
bool SyncSucceeded(_XDisplay* display);

class X11Typist {
 public:
  // How long a pressed keycode keeps its keysym: enough for a client that is
  // busy for a moment to read the keymap for the press. Measured: an idle
  // client needed 30 ms, a stalled one 200 ms, and with 30 ms a loaded
  // machine got wrong characters. Too short garbles the text; too long only
  // slows a text with more distinct characters than there are spare keycodes.
  static constexpr std::chrono::milliseconds kCooldown{200};

  // Connects to `display_name` (null: $DISPLAY) and finds the spare
  // keycodes; null when there is no display, no XTest, or no spare keycode.
  static std::unique_ptr<X11Typist> Open(const char* display_name = nullptr,
                                         std::chrono::milliseconds cooldown = kCooldown);
  // Gives every keycode back to no keysym, the cooldown of its last press
  // waited out first.
  ~X11Typist();
  X11Typist(const X11Typist&) = delete;
  X11Typist& operator=(const X11Typist&) = delete;

  // Types `text` in order and returns how many of its code points were
  // typed; control characters other than "\n", "\t" and "\b" type nothing
  // and count as typed.
  std::size_t Type(std::u32string_view text);

  // Gives back the keycodes not pressed for `idle` (the cooldown at least),
  // so that a keymap between dictations is the user's own.
  void GiveBackIdle(std::chrono::milliseconds idle);

  std::size_t spare_keycodes() const { return spare_; }

 private:
  X11Typist(DisplayConnection display, std::vector<std::uint8_t> spare, int keysyms_per_keycode,
            std::chrono::milliseconds cooldown);
  void Map(std::uint8_t keycode, std::uint32_t keysym);
  void Press(std::uint8_t keycode);
  bool TypeThroughSpares(std::u32string_view keysyms);
  // A key of the layout that gives a character as it is now.
  struct LayoutKey {
    std::uint8_t keycode;
    bool shift;
  };
  // The layout's keys for the printable Latin-1 characters, by keysym (the
  // code point), at the current group and locked modifiers; empty when XKB
  // cannot tell.
  std::unordered_map<std::uint32_t, LayoutKey> LayoutKeys();

  DisplayConnection display_;
  KeymapPlan plan_;
  std::size_t spare_;
  std::array<bool, 256> is_spare_{};
  int keysyms_per_keycode_;
  std::chrono::milliseconds cooldown_;
  std::chrono::steady_clock::time_point last_press_{};
};

}  // namespace lumora
