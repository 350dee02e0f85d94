#pragma once

// The desktop of an X11 session behind the output seam. Text goes in through
// X11Typist, keys and Ctrl+V as XTest presses, a paste through the CLIPBOARD
// selection, which a hidden window of this desktop owns. The X11 headers stay
// in the .cpp: they define None, Bool and Status as macros.
//
// Where X differs from Windows:
// - There are no scan codes to speak of: ScanCodeFor returns the virtual key
//   itself, and InjectKeyEvents presses whichever keycode carries its keysym
//   in the keymap as it is now (BackSpace, Return, Control_L, v), so a key
//   lands right under any layout that has that keysym. A layout without a
//   "v" at all (Russian alone) refuses the V of Ctrl+V: the paste is
//   reported, not pressed blind.
// - Every reader of the clipboard is served, also while a pasted text waits
//   for the program in front, since every read here is a request to us and
//   one reader cannot hide another's later read. Only a read by the program
//   in front ends WaitForClipboardRead (see ReadByProgramInFront in the .cpp
//   for how a reader is matched to it). Nothing keeps the text out of
//   clipboard histories except KDE's "x-kde-passwordManagerHint": X has no
//   exclusion that every manager honours.
// - The clipboard text lives in this desktop's window: it stays there after
//   a paste, for anyone who reads it later, until another program takes the
//   clipboard or this desktop is destroyed. A copy that must outlast the
//   call (the menu's copy of a recent text) needs a desktop that lives as
//   long as the program.
// - A text whose UTF-8 form exceeds the server's largest request (256 KiB
//   without BIG-REQUESTS) is not put on the clipboard: the paste types it
//   instead. A commit is at most 64 KiB, so the incremental transfer (INCR)
//   is not implemented.
// - Caps Lock that is locked is released while text is typed and locked
//   again afterwards, so that letters arrive in the case they were said.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "output/desktop.h"
#include "output/typing_x11.h"

namespace lumora {

// What the X11 desktop takes from its host. The host keeps D-Bus and Qt out
// of this layer by passing in what it asks them.
struct X11DesktopOptions {
  // The X display; empty: $DISPLAY.
  std::string display_name;
  // Whether the session's screen is locked (the host asks
  // org.freedesktop.ScreenSaver's GetActive); asked before every output, on
  // the output thread. Empty: never locked.
  std::function<bool()> screen_locked;
  // The process whose windows are "own": this one.
  pid_t own_pid = getpid();
};

class X11Desktop final : public Desktop {
 public:
  // A text's keycodes are given back to the keymap after this long without
  // typing; typed again sooner, they need no new mapping.
  static constexpr std::chrono::milliseconds kIdleGiveBack{1000};

  // Null when there is no such display or it lacks XTest. The desktop is
  // used from one thread at a time (the output worker); CancelWaits from any.
  static std::unique_ptr<X11Desktop> Open(X11DesktopOptions options = {});
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  std::size_t InjectKeyEvents(const std::vector<KeyEvent>& events) override;
  std::uint16_t ScanCodeFor(std::uint16_t virtual_key) override;
  void Wait(unsigned milliseconds) override;
  bool SetClipboardText(const std::u16string& text) override;
  bool OfferClipboardText(const std::u16string& text) override;
  bool WaitForClipboardRead(unsigned timeout_ms) override;
  void CancelWaits() override;
  std::u16string ForegroundImagePath() override;
  TargetBlock CheckTarget() override;
  bool ModifiersHeld() override;

 private:
  // The process of the window in front (0: none or unknown), looked up once
  // per window while it stays in front.
  pid_t FrontPid();
  class ClipboardOwner;
  // What the output thread waits on, and what cuts every wait short at exit.
  struct WaitSignals {
    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;  // guarded by mutex
  };

  X11Desktop(X11DesktopOptions options, DisplayConnection display);
  // Types the Unicode events [begin, end) and returns how many of them went
  // in, from the front.
  std::size_t TypeUnicode(const std::vector<KeyEvent>& events, std::size_t begin, std::size_t end);
  bool PressKey(std::uint16_t virtual_key, bool down);
  bool Own(const std::u16string& text, bool offer);
  void GiveBackWhenIdle();

  const X11DesktopOptions options_;
  // The output thread's connection: queries, keys and Caps Lock.
  DisplayConnection display_;
  WaitSignals signals_;
  // The keycode each key went down on, so that its release lifts that key
  // even if the keymap changed in between.
  std::unordered_map<std::uint16_t, std::uint8_t> keys_down_;
  // The process of the window last seen in front, kept while that window
  // stays in front: finding it takes several round trips to the server, and
  // the check runs before every text. Output thread only.
  unsigned long front_window_ = 0;
  pid_t front_pid_ = 0;
  // Made on the first copy or paste: most texts are typed.
  std::unique_ptr<ClipboardOwner> clipboard_;

  // Shared with the give-back thread, which uses the typist's connection
  // only under this lock.
  std::mutex typist_mutex_;
  std::condition_variable give_back_changed_;
  std::unique_ptr<X11Typist> typist_;  // made on the first text
  std::optional<std::chrono::steady_clock::time_point> give_back_at_;
  bool stopping_ = false;
  // Declared last: started once everything it uses exists.
  std::thread give_back_thread_;
};

}  // namespace lumora
