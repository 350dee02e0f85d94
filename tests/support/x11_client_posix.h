#pragma once

// A stand-in for the program in front on an X server of a test's own: a
// window of another process (its _NET_WM_PID is the test's parent's), with
// the focus and named the active window, that reads its key events on a
// thread of its own as an editor would: the keymap as the server has it at
// each press, Shift and Caps Lock applied, Backspace erasing, Return and Tab
// as line break and tab. On Ctrl+V a clipboard monitor (a window of yet
// another process) reads first; the client reads a moment later, as a busy
// program does, asking for the targets first. Xvfb has no window manager:
// the helpers below name the active window on the root themselves.
//
// GoogleTest goes before this header: Xlib's macros (None, Bool) would spoil
// its names.

// clang-format off
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
// clang-format on
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumora::testing {

struct X11Closer {
  void operator()(Display* display) const {
    if (display != nullptr) {
      XCloseDisplay(display);
    }
  }
};
using X11Connection = std::unique_ptr<Display, X11Closer>;

// The character a client reads from a press whose keysym is `keysym`:
// Unicode keysyms, Latin-1, Return and Tab; 0 for a keysym that stands for no
// character of a text.
inline char32_t CharacterOfKeysym(KeySym keysym) {
  if (keysym == XK_Return) {
    return U'\n';
  }
  if (keysym == XK_Tab) {
    return U'\t';
  }
  if ((keysym & 0xFF000000) == 0x01000000) {
    return static_cast<char32_t>(keysym & 0x00FFFFFF);
  }
  if (keysym >= 0x20 && keysym <= 0xFF) {
    return static_cast<char32_t>(keysym);
  }
  return 0;
}

// Ends a reader thread's wait for events on `window`: a message of its own,
// sent from another connection.
inline void SendStop(const std::string& display_name, Window window) {
  const X11Connection other(XOpenDisplay(display_name.c_str()));
  if (other == nullptr) {
    return;
  }
  XEvent stop{};
  stop.xclient.type = ClientMessage;
  stop.xclient.window = window;
  stop.xclient.format = 32;
  XSendEvent(other.get(), window, False, NoEventMask, &stop);
  XSync(other.get(), False);
}

inline void SetPid(Display* d, Window window, long pid) {
  XChangeProperty(d, window, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
}

// What a window manager would say is in front; 0 removes the property.
inline void SetActive(Display* d, Window window) {
  const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  if (window == 0) {
    XDeleteProperty(d, DefaultRootWindow(d), active);
  } else {
    XChangeProperty(d, DefaultRootWindow(d), active, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&window), 1);
  }
  XSync(d, False);
}

inline Window MappedWindow(Display* d, Window parent) {
  const Window window = XCreateSimpleWindow(d, parent, 0, 0, 100, 50, 0, 0, 0);
  XSelectInput(d, window, KeyPressMask | StructureNotifyMask);
  XMapWindow(d, window);
  XEvent event{};
  do {
    XWindowEvent(d, window, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
  return window;
}

// What `window` gets for CLIPBOARD as `target`; nothing when refused.
inline std::optional<std::string> Convert(Display* d, Window window, const char* target) {
  const Atom property = XInternAtom(d, "TEST_PASTE", False);
  XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, target, False), property, window,
                    CurrentTime);
  XEvent event{};
  XIfEvent(
      d, &event, [](Display*, XEvent* e, XPointer) -> Bool { return e->type == SelectionNotify; }, nullptr);
  if (event.xselection.property == 0) {
    return std::nullopt;
  }
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(d, window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count, &after,
                     &data);
  std::string bytes(reinterpret_cast<const char*>(data), count * static_cast<unsigned long>(format / 8));
  XFree(data);
  return bytes;
}

// The whole core keymap, to compare before and after.
inline std::vector<KeySym> Keymap(Display* display) {
  int min = 0;
  int max = 0;
  XDisplayKeycodes(display, &min, &max);
  int per = 0;
  KeySym* keysyms = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
  if (keysyms == nullptr) {
    return {};
  }
  std::vector<KeySym> map(keysyms, keysyms + (max - min + 1) * per);
  XFree(keysyms);
  return map;
}

inline std::vector<KeySym> Keymap(const std::string& name) {
  const X11Connection display(XOpenDisplay(name.c_str()));
  return Keymap(display.get());
}

inline bool CapsLocked(Display* d) {
  XkbStateRec state{};
  XkbGetState(d, XkbUseCoreKbd, &state);
  return (state.locked_mods & LockMask) != 0;
}

class X11Client {
 public:
  ~X11Client() { Close(); }

  bool Open(const std::string& name) {
    name_ = name;
    display_.reset(XOpenDisplay(name.c_str()));
    if (display_ == nullptr) {
      return false;
    }
    Display* d = display_.get();
    window_ = MappedWindow(d, DefaultRootWindow(d));
    SetPid(d, window_, getppid());
    monitor_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    SetPid(d, monitor_, 1);
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    SetActive(d, window_);
    // Xlib keeps the core MappingNotify to itself once XKB is in use: a
    // change of the keymap wakes the waits through XKB's own event.
    XkbSelectEvents(d, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
    reader_ = std::thread([this] { Read(); });
    return true;
  }

  // Waits, generously, for `done`, checked after every event of the client.
  template <typename Done>
  bool WaitUntil(Done done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), done);
  }
  bool WaitForText(const std::u32string& want) {
    return WaitUntil([&] { return text_ == want; });
  }
  Window window() const { return window_; }
  bool WaitForLength(std::size_t count) {
    return WaitUntil([&] { return text_.size() >= count; });
  }
  bool WaitForPastes(std::size_t count) {
    return WaitUntil([&] { return pastes_.size() >= count; });
  }
  std::u32string text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  std::vector<std::string> pastes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pastes_;
  }
  std::vector<std::optional<std::string>> monitor_reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return monitor_reads_;
  }

  void Close() {
    if (!reader_.joinable()) {
      return;
    }
    SendStop(name_, window_);
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
      if (event.type == KeyPress) {
        Key(event.xkey);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      changed_.notify_all();
    }
  }

  void Key(const XKeyEvent& key) {
    Display* d = display_.get();
    // The keymap as the server has it now, not Xlib's cache.
    int per = 0;
    KeySym* keysyms = XGetKeyboardMapping(d, static_cast<KeyCode>(key.keycode), 1, &per);
    KeySym keysym = keysyms[(key.state & ShiftMask) != 0 && per > 1 && keysyms[1] != NoSymbol ? 1 : 0];
    XFree(keysyms);
    KeySym lower = 0;
    KeySym upper = 0;
    XConvertCase(keysym, &lower, &upper);
    if ((key.state & LockMask) != 0) {
      keysym = upper;
    }
    if ((key.state & ControlMask) != 0) {
      if (lower == XK_v) {
        Paste();
      }
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (keysym == XK_BackSpace) {
      if (!text_.empty()) {
        text_.pop_back();
      }
    } else if (const char32_t c = CharacterOfKeysym(keysym); c != 0) {
      text_ += c;
    }
  }

  void Paste() {
    Display* d = display_.get();
    const std::optional<std::string> monitored = Convert(d, monitor_, "UTF8_STRING");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const std::optional<std::string> targets = Convert(d, window_, "TARGETS");
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const auto* atoms = reinterpret_cast<const Atom*>(targets ? targets->data() : nullptr);
    const std::size_t count = targets ? targets->size() / sizeof(Atom) : 0;
    const bool offered = std::find(atoms, atoms + count, utf8) != atoms + count;
    const std::optional<std::string> pasted = offered ? Convert(d, window_, "UTF8_STRING") : std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    monitor_reads_.push_back(monitored);
    pastes_.push_back(pasted.value_or("(nothing)"));
  }

  std::string name_;
  X11Connection display_;
  Window window_ = 0;
  Window monitor_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::u32string text_;
  std::vector<std::string> pastes_;
  std::vector<std::optional<std::string>> monitor_reads_;
};

}  // namespace lumora::testing
