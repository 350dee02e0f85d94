#pragma once

// A window with the keyboard focus that writes down each key press it is
// typed, and when: its own thread waits for the X server's events and stamps
// each press on the steady clock the moment it handles it, before anything
// else, as a client that is not busy would see it. The character is read
// from the keymap as it is while the press is handled, as a client that reads
// it afresh does (Xlib's own cache would need XKB's map notifications, which
// a plain window does not select).
//
// Includes Xlib: its macros (None, Bool, Status) spoil names declared after
// it, so it comes last among a file's headers.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/typing_x11.h"
#include "tests/support/x11_client_posix.h"
// clang-format off
#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

namespace lumora::testing {

class KeyReader {
 public:
  using Clock = std::chrono::steady_clock;

  struct Key {
    char32_t character = 0;
    Clock::time_point at{};
  };

  KeyReader() = default;
  ~KeyReader() { Close(); }
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;

  // Maps the window, gives it the focus and starts reading. False when the
  // display cannot be reached.
  bool Open(const std::string& display_name) {
    display_name_ = display_name;
    display_.reset(XOpenDisplay(display_name.c_str()));
    if (display_ == nullptr) {
      return false;
    }
    Display* d = display_.get();
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d, window_, KeyPressMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(d, window_);
    XEvent event{};
    do {
      XWindowEvent(d, window_, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XSync(d, False);
    thread_ = std::thread([this] { Read(); });
    return true;
  }

  // Forgets the presses so far.
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.clear();
  }

  // The presses since Clear once there are `count` of them, or whatever came
  // within `timeout`.
  std::vector<Key> WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return keys_.size() >= count; });
    return keys_;
  }

  // Whether the window lost the focus at any time: what was typed then went
  // elsewhere.
  bool lost_focus() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_focus_;
  }

  void Close() {
    if (!thread_.joinable()) {
      return;
    }
    SendStop(display_name_, window_);
    thread_.join();
  }

 private:
  void Read() {
    Display* d = display_.get();
    for (;;) {
      XEvent event{};
      XNextEvent(d, &event);
      const Clock::time_point at = Clock::now();
      if (event.type == ClientMessage) {
        return;
      }
      if (event.type == FocusOut && event.xfocus.mode == NotifyNormal) {
        std::lock_guard<std::mutex> lock(mutex_);
        lost_focus_ = true;
        continue;
      }
      if (event.type != KeyPress) {
        continue;
      }
      int per_keycode = 0;
      KeySym* keysyms = XGetKeyboardMapping(d, static_cast<KeyCode>(event.xkey.keycode), 1, &per_keycode);
      const KeySym keysym = keysyms != nullptr && per_keycode > 0 ? keysyms[0] : NoSymbol;
      XFree(keysyms);
      std::lock_guard<std::mutex> lock(mutex_);
      // A keysym that stands for no character of a text shows as '?'.
      const char32_t c = CharacterOfKeysym(keysym);
      keys_.push_back({c != 0 ? c : U'?', at});
      changed_.notify_all();
    }
  }

  std::string display_name_;
  DisplayConnection display_;
  Window window_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Key> keys_;    // guarded by mutex_
  bool lost_focus_ = false;  // guarded by mutex_
  // Declared last: started once everything it uses exists.
  std::thread thread_;
};

}  // namespace lumora::testing
