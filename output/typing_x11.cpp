#include "output/typing_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

namespace lumora {

namespace {

// Xlib has one error handler for the whole process. The connections of
// OpenDisplay are listed here; their errors are counted per thread (Xlib
// calls the handler on the thread that reads the reply), everyone else's go
// on to the handler that was there before ours.
std::mutex quiet_mutex;
std::vector<Display*> quiet_displays;  // guarded by quiet_mutex
std::atomic<XErrorHandler> previous_handler{nullptr};
thread_local unsigned long quiet_errors = 0;

int OnXError(Display* display, XErrorEvent* error) {
  {
    std::lock_guard<std::mutex> lock(quiet_mutex);
    if (std::find(quiet_displays.begin(), quiet_displays.end(), display) != quiet_displays.end()) {
      ++quiet_errors;
      return 0;
    }
  }
  const XErrorHandler previous = previous_handler.load();
  return previous != nullptr ? previous(display, error) : 0;
}

}  // namespace

void DisplayCloser::operator()(_XDisplay* display) const {
  if (display == nullptr) {
    return;
  }
  // What failed so far is still reported quietly; the list forgets the
  // connection before its memory is freed, which the next connection of the
  // process may get.
  XSync(display, False);
  {
    std::lock_guard<std::mutex> lock(quiet_mutex);
    quiet_displays.erase(std::remove(quiet_displays.begin(), quiet_displays.end(), display),
                         quiet_displays.end());
  }
  XCloseDisplay(display);
}

DisplayConnection OpenDisplay(const char* display_name) {
  DisplayConnection display(XOpenDisplay(display_name));
  if (display == nullptr) {
    return display;
  }
  static std::once_flag installed;
  std::call_once(installed, [] { previous_handler = XSetErrorHandler(&OnXError); });
  std::lock_guard<std::mutex> lock(quiet_mutex);
  quiet_displays.push_back(display.get());
  return display;
}

bool SyncSucceeded(_XDisplay* display) {
  const unsigned long before = quiet_errors;
  XSync(display, False);
  return quiet_errors == before;
}

namespace {

// The keycodes with no keysym at all: no layout uses them, so mapping them
// for a moment changes nothing the user typed or will type.
std::vector<std::uint8_t> FindSpareKeycodes(Display* display, int& per_keycode) {
  int min = 0;
  int max = 0;
  XDisplayKeycodes(display, &min, &max);
  const int count = max - min + 1;
  KeySym* keysyms = XGetKeyboardMapping(display, static_cast<KeyCode>(min), count, &per_keycode);
  std::vector<std::uint8_t> spare;
  if (keysyms == nullptr) {
    return spare;
  }
  for (int i = 0; i < count; ++i) {
    bool empty = true;
    for (int j = 0; j < per_keycode; ++j) {
      empty = empty && keysyms[i * per_keycode + j] == NoSymbol;
    }
    if (empty) {
      spare.push_back(static_cast<std::uint8_t>(min + i));
    }
  }
  XFree(keysyms);
  return spare;
}

// The keys typed as themselves, not through a spare keycode.
KeySym KeyOfControl(char32_t c) {
  switch (c) {
    case U'\n':
      return XK_Return;
    case U'\t':
      return XK_Tab;
    case U'\b':
      return XK_BackSpace;
    default:
      return NoSymbol;
  }
}

}  // namespace

DisplayConnection OpenXTestDisplay(const char* display_name) {
  DisplayConnection display = OpenDisplay(display_name);
  int event_base = 0;
  int error_base = 0;
  int major = 0;
  int minor = 0;
  if (display == nullptr || !XTestQueryExtension(display.get(), &event_base, &error_base, &major, &minor)) {
    return nullptr;
  }
  return display;
}

std::unique_ptr<X11Typist> X11Typist::Open(const char* display_name, std::chrono::milliseconds cooldown) {
  DisplayConnection display = OpenXTestDisplay(display_name);
  if (display == nullptr) {
    return nullptr;
  }
  int per_keycode = 0;
  std::vector<std::uint8_t> spare = FindSpareKeycodes(display.get(), per_keycode);
  if (spare.empty() || per_keycode < 1) {
    return nullptr;
  }
  return std::unique_ptr<X11Typist>(
      new X11Typist(std::move(display), std::move(spare), per_keycode, cooldown));
}

X11Typist::X11Typist(DisplayConnection display, std::vector<std::uint8_t> spare, int keysyms_per_keycode,
                     std::chrono::milliseconds cooldown)
    : display_(std::move(display)),
      plan_(spare, cooldown),
      spare_(spare.size()),
      keysyms_per_keycode_(keysyms_per_keycode),
      cooldown_(cooldown) {
  for (const std::uint8_t keycode : spare) {
    is_spare_[keycode] = true;
  }
}

X11Typist::~X11Typist() {
  std::this_thread::sleep_until(last_press_ + cooldown_);
  for (const std::uint8_t keycode : plan_.TakeAll()) {
    Map(keycode, NoSymbol);
  }
  XSync(display_.get(), False);
}

void X11Typist::GiveBackIdle(std::chrono::milliseconds idle) {
  const std::vector<std::uint8_t> idle_keycodes = plan_.TakeIdle(std::chrono::steady_clock::now(), idle);
  for (const std::uint8_t keycode : idle_keycodes) {
    Map(keycode, NoSymbol);
  }
  if (!idle_keycodes.empty()) {
    XSync(display_.get(), False);
  }
}

void X11Typist::Map(std::uint8_t keycode, std::uint32_t keysym) {
  // Every column the same keysym: Shift, Caps Lock or another group held by
  // the user still gives this character.
  std::vector<KeySym> columns(static_cast<std::size_t>(keysyms_per_keycode_), static_cast<KeySym>(keysym));
  XChangeKeyboardMapping(display_.get(), keycode, keysyms_per_keycode_, columns.data(), 1);
}

void X11Typist::Press(std::uint8_t keycode) {
  XTestFakeKeyEvent(display_.get(), keycode, True, CurrentTime);
  XTestFakeKeyEvent(display_.get(), keycode, False, CurrentTime);
}

bool X11Typist::TypeThroughSpares(std::u32string_view keysyms) {
  while (!keysyms.empty()) {
    KeyChunk chunk = plan_.NextChunk(keysyms, std::chrono::steady_clock::now());
    if (chunk.consumed == 0) {
      return false;
    }
    std::this_thread::sleep_until(chunk.not_before);
    for (const auto& [keycode, keysym] : chunk.remaps) {
      Map(keycode, keysym);
    }
    // The new mapping is the server's before the first press reaches it.
    if (!chunk.remaps.empty()) {
      XSync(display_.get(), False);
    }
    for (const std::uint8_t keycode : chunk.presses) {
      Press(keycode);
    }
    XSync(display_.get(), False);
    last_press_ = std::chrono::steady_clock::now();
    plan_.Typed(chunk, last_press_);
    keysyms.remove_prefix(chunk.consumed);
  }
  return true;
}

std::unordered_map<std::uint32_t, X11Typist::LayoutKey> X11Typist::LayoutKeys() {
  std::unordered_map<std::uint32_t, LayoutKey> keys;
  XkbStateRec state{};
  if (XkbGetState(display_.get(), XkbUseCoreKbd, &state) != Success) {
    return keys;
  }
  XkbDescPtr xkb = XkbGetMap(display_.get(), XkbAllClientInfoMask, XkbUseCoreKbd);
  if (xkb == nullptr) {
    return keys;
  }
  // What the client will apply besides our Shift: the locked modifiers (Num
  // Lock, say), but not Caps Lock, which is released for the text.
  const unsigned locked = state.locked_mods & ~static_cast<unsigned>(LockMask);
  // Without Shift first: a character on two keys is typed with the one that
  // needs no Shift.
  for (const bool shift : {false, true}) {
    const unsigned mods = XkbBuildCoreState(locked | (shift ? ShiftMask : 0u), state.group);
    for (int keycode = xkb->min_key_code; keycode <= xkb->max_key_code; ++keycode) {
      // A spare keycode's keysym is ours for the moment, and the plan may
      // remap it.
      if (is_spare_[static_cast<std::size_t>(keycode)]) {
        continue;
      }
      unsigned consumed = 0;
      KeySym keysym = NoSymbol;
      if (XkbTranslateKeyCode(xkb, static_cast<KeyCode>(keycode), mods, &consumed, &keysym) &&
          keysym >= 0x20 && keysym <= 0xFF && keysym != 0x7F) {
        keys.try_emplace(static_cast<std::uint32_t>(keysym),
                         LayoutKey{static_cast<std::uint8_t>(keycode), shift});
      }
    }
  }
  XkbFreeKeyboard(xkb, 0, True);
  return keys;
}

std::size_t X11Typist::Type(std::u32string_view text) {
  // The layout is read again for every text that could use it: the user may
  // have switched it since the last one.
  const bool latin = std::any_of(text.begin(), text.end(), [](char32_t c) { return c >= 0x20 && c <= 0xFF; });
  const std::unordered_map<std::uint32_t, LayoutKey> layout =
      latin ? LayoutKeys() : std::unordered_map<std::uint32_t, LayoutKey>();
  const KeyCode shift = latin ? XKeysymToKeycode(display_.get(), XK_Shift_L) : 0;
  bool layout_pressed = false;  // and not yet waited for
  std::size_t typed = 0;
  std::u32string run;      // keysyms for the spare keycodes, up to the next key
  std::size_t in_run = 0;  // the code points the run stands for
  const auto flush = [&] {
    const bool ok = TypeThroughSpares(run);
    if (ok) {
      typed += in_run;
    }
    run.clear();
    in_run = 0;
    return ok;
  };
  for (const char32_t c : text) {
    const KeySym key = KeyOfControl(c);
    if (key != NoSymbol) {
      const KeyCode keycode = XKeysymToKeycode(display_.get(), key);
      if (!flush() || keycode == 0) {
        return typed;
      }
      Press(static_cast<std::uint8_t>(keycode));
      XSync(display_.get(), False);
      ++typed;
      continue;
    }
    if (const auto on_layout = layout.find(static_cast<std::uint32_t>(c));
        on_layout != layout.end() && (!on_layout->second.shift || shift != 0)) {
      if (!flush()) {
        return typed;
      }
      if (on_layout->second.shift) {
        XTestFakeKeyEvent(display_.get(), shift, True, CurrentTime);
      }
      Press(on_layout->second.keycode);
      if (on_layout->second.shift) {
        XTestFakeKeyEvent(display_.get(), shift, False, CurrentTime);
      }
      layout_pressed = true;
      ++typed;
      continue;
    }
    ++in_run;
    // Other control characters type nothing, and must not become keys.
    if (const std::uint32_t keysym = KeysymForCodePoint(c); keysym != 0) {
      run.push_back(static_cast<char32_t>(keysym));
    }
  }
  flush();
  if (layout_pressed) {
    XSync(display_.get(), False);
  }
  return typed;
}

}  // namespace lumora
