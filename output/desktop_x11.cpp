#include "output/desktop_x11.h"

// clang-format off
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on
// X's None (0) would turn TargetBlock::None into nonsense; 0 stands for it.
#undef None

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "base/utf16.h"
#include "base/utf8.h"

namespace lumora {
namespace {

// Frees what Xlib allocated for a reply.
struct XFreeDeleter {
  void operator()(void* data) const {
    if (data != nullptr) {
      XFree(data);
    }
  }
};
template <typename T>
using XData = std::unique_ptr<T, XFreeDeleter>;

Atom AtomOf(Display* display, const char* name) { return XInternAtom(display, name, False); }

// The first 32-bit item of a window's property of `type`, when it has one.
std::optional<unsigned long> Property32(Display* display, Window window, Atom property, Atom type) {
  Atom actual_type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1, False, type, &actual_type, &format, &count, &after,
                         &raw) != Success) {
    return std::nullopt;
  }
  const XData<unsigned char> data(raw);
  if (data == nullptr || actual_type != type || format != 32 || count != 1) {
    return std::nullopt;
  }
  // Xlib hands out 32-bit items as longs.
  return *reinterpret_cast<const unsigned long*>(data.get());
}

// The parent of `window` below the root: 0 for a top-level window (or one
// that is gone).
Window ParentOf(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* raw = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, window, &root, &parent, &raw, &count) == 0) {
    return 0;
  }
  const XData<Window> children(raw);
  return parent == root ? 0 : parent;
}

// Whether `inner` is `outer` or lies inside it. The root encloses nothing
// here: everything lies inside it.
bool Encloses(Display* display, Window outer, Window inner) {
  for (Window at = inner; at != 0; at = ParentOf(display, at)) {
    if (at == outer) {
      return true;
    }
  }
  return false;
}

// The window in front: the window manager's _NET_ACTIVE_WINDOW; without one
// (no EWMH manager, or it names none) the window with the input focus. 0 for
// none.
Window ActiveWindow(Display* display) {
  const Window root = DefaultRootWindow(display);
  if (const auto active = Property32(display, root, AtomOf(display, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
      active && *active != 0) {
    return *active;
  }
  Window focus = 0;
  int revert_to = 0;
  XGetInputFocus(display, &focus, &revert_to);
  return focus == PointerRoot || focus == root ? 0 : focus;
}

// The process of the X client that made `window`, from the server
// (X-Resource): local clients only. 0 when unknown.
pid_t ClientPid(Display* display, Window window) {
  int event_base = 0;
  int error_base = 0;
  if (!XResQueryExtension(display, &event_base, &error_base)) {
    return 0;
  }
  XResClientIdSpec client{window, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  if (XResQueryClientIds(display, 1, &client, &count, &ids) != Success) {
    return 0;
  }
  pid_t pid = 0;
  for (long i = 0; i < count && pid <= 0; ++i) {
    pid = XResGetClientPid(&ids[i]);
  }
  XResClientIdsDestroy(count, ids);
  return pid > 0 ? pid : 0;
}

// The process a window belongs to: the _NET_WM_PID of the window or of its
// nearest ancestor below the root (a top-level client carries it; its
// children and a window manager's frame around it do not), else the process
// of the client that made the window. 0 when unknown.
pid_t WindowPid(Display* display, Window window) {
  const Atom pid_atom = AtomOf(display, "_NET_WM_PID");
  for (Window at = window; at != 0; at = ParentOf(display, at)) {
    if (const auto pid = Property32(display, at, pid_atom, XA_CARDINAL)) {
      return static_cast<pid_t>(*pid);
    }
  }
  return window == 0 ? 0 : ClientPid(display, window);
}

// Whether a clipboard read comes from the program in front. A reader names
// only a window of its own, often a hidden one that is no child of the
// window in front (toolkits read through such a window), so the two are
// matched by process: the reader's window and the window in front belong to
// one. When either process is unknown (a remote client without _NET_WM_PID),
// only a reader that is the window in front, inside it or around it counts.
// A wrong "yes" would let the next paste replace a text its target has not
// read, so anything else counts as somebody else's read (which is served all
// the same).
bool ReadByProgramInFront(Display* display, Window requestor) {
  const Window active = ActiveWindow(display);
  if (active == 0 || requestor == 0) {
    return false;
  }
  const pid_t reader = WindowPid(display, requestor);
  const pid_t in_front = WindowPid(display, active);
  if (reader != 0 && in_front != 0) {
    return reader == in_front;
  }
  return Encloses(display, active, requestor) || Encloses(display, requestor, active);
}

// The key for a virtual key of the output, in the keymap as it is now: the
// first keycode with one of `keysyms` in its first column (the key's own
// symbol in the first group), else in any column. 0 when none has it.
KeyCode KeycodeOf(Display* display, std::initializer_list<KeySym> keysyms) {
  int min = 0;
  int max = 0;
  XDisplayKeycodes(display, &min, &max);
  int per_keycode = 0;
  const XData<KeySym> map(
      XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per_keycode));
  if (map == nullptr) {
    return 0;
  }
  for (const int columns : {1, per_keycode}) {
    for (const KeySym wanted : keysyms) {
      for (int keycode = min; keycode <= max; ++keycode) {
        for (int column = 0; column < columns; ++column) {
          if (map.get()[(keycode - min) * per_keycode + column] == wanted) {
            return static_cast<KeyCode>(keycode);
          }
        }
      }
    }
  }
  return 0;
}

// The text as ISO Latin-1 (what the target STRING means), or nothing when a
// character lies beyond it. `utf8` is well formed: Utf16ToUtf8 made it.
std::optional<std::string> ToLatin1(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = Utf8SequenceLength(utf8, i);
    if (length == 0 || DecodeUtf8(utf8, i, length) > 0xFF) {
      return std::nullopt;
    }
    out += static_cast<char>(DecodeUtf8(utf8, i, length));
    i += length;
  }
  return out;
}

}  // namespace

// Owns the CLIPBOARD selection with a hidden window on a thread of its own,
// whose connection does nothing but answer readers: a reader waits for the
// answer, and the output thread sleeps between its steps. The output thread
// hands it a text through the shared state and wakes it with a message sent
// on the desktop's own connection.
class X11Desktop::ClipboardOwner {
 public:
  // Null when the display cannot be reached.
  static std::unique_ptr<ClipboardOwner> Open(const std::string& display_name, Display* waker,
                                              WaitSignals& signals) {
    DisplayConnection display = OpenDisplay(display_name.empty() ? nullptr : display_name.c_str());
    if (display == nullptr) {
      return nullptr;
    }
    return std::unique_ptr<ClipboardOwner>(new ClipboardOwner(std::move(display), waker, signals));
  }

  ~ClipboardOwner() {
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      command_ = Command::Stop;
    }
    Wake();
    thread_.join();
  }
  ClipboardOwner(const ClipboardOwner&) = delete;
  ClipboardOwner& operator=(const ClipboardOwner&) = delete;

  // Puts `utf8` on the clipboard; an offer counts the read by the program in
  // front (WaitForRead). True when the clipboard is ours afterwards.
  bool Own(std::string utf8, bool offer) {
    std::unique_lock<std::mutex> lock(signals_.mutex);
    command_ = Command::Own;
    command_text_ = std::move(utf8);
    command_offer_ = offer;
    command_result_.reset();
    lock.unlock();
    Wake();
    lock.lock();
    // Not cut short by CancelWaits: the thread answers within a round trip.
    signals_.changed.wait(lock, [this] { return command_result_.has_value(); });
    return *command_result_;
  }

  bool WaitForRead(unsigned timeout_ms) {
    std::unique_lock<std::mutex> lock(signals_.mutex);
    signals_.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [this] { return !offered_ || signals_.cancelled; });
    // From here the text is there for anyone, and no later read counts.
    offered_ = false;
    return std::exchange(read_, false);
  }

 private:
  enum class Command { None, Own, Stop };
  // The bytes of a ChangeProperty request before its data.
  static constexpr std::size_t kChangePropertyHeader = 24;

  ClipboardOwner(DisplayConnection display, Display* waker, WaitSignals& signals)
      : display_(std::move(display)), waker_(waker), signals_(signals) {
    Display* d = display_.get();
    XSetWindowAttributes attributes{};
    // Input-only and never mapped: nothing to see, nothing to focus.
    window_ = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, 0,
                            &attributes);
    XSelectInput(d, window_, PropertyChangeMask);
    wake_ = AtomOf(d, "_LUMORA_OUTPUT_WAKE");
    clipboard_ = AtomOf(d, "CLIPBOARD");
    XSync(d, False);
    thread_ = std::thread(&ClipboardOwner::Run, this);
  }

  // Called from the output thread (or, at the end, the desktop's owner),
  // which own `waker_` between them.
  void Wake() {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window_;
    message.xclient.message_type = wake_;
    message.xclient.format = 32;
    // No event mask: the message goes to the window's maker, this thread.
    XSendEvent(waker_, window_, False, NoEventMask, &message);
    XFlush(waker_);
  }

  void Run() {
    Display* d = display_.get();
    for (;;) {
      XEvent event{};
      XNextEvent(d, &event);
      switch (event.type) {
        case ClientMessage:
          if (event.xclient.message_type == wake_ && !HandleCommand()) {
            return;
          }
          break;
        case SelectionRequest:
          Serve(event.xselectionrequest);
          break;
        case SelectionClear:
          // Another program took the clipboard: our text can no longer be
          // read, and the one waiting for its read waits no more.
          if (event.xselectionclear.selection == clipboard_ && XGetSelectionOwner(d, clipboard_) != window_) {
            std::lock_guard<std::mutex> lock(signals_.mutex);
            owning_ = false;
            offered_ = false;
            signals_.changed.notify_all();
          }
          break;
        default:
          break;
      }
    }
  }

  // False once asked to stop.
  bool HandleCommand() {
    std::string text;
    bool offer = false;
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      const Command command = std::exchange(command_, Command::None);
      if (command == Command::Stop) {
        return false;
      }
      if (command != Command::Own) {
        return true;
      }
      text = std::move(command_text_);
      offer = command_offer_;
    }
    Display* d = display_.get();
    // A property's data goes out in one request: a text past the largest
    // one would have to go in increments, which commits never need. Refused,
    // it leaves the clipboard as it was.
    const auto largest = static_cast<std::size_t>(XMaxRequestSize(d)) * 4 - kChangePropertyHeader;
    bool owned = false;
    if (text.size() <= largest) {
      const Time now = ServerTime();
      {
        // In place before the ownership is: a reader asks at once.
        std::lock_guard<std::mutex> lock(signals_.mutex);
        text_ = std::move(text);
        ++generation_;
        owned_at_ = now;
        owning_ = true;
        offered_ = offer;
        read_ = false;
      }
      XSetSelectionOwner(d, clipboard_, window_, now);
      owned = XGetSelectionOwner(d, clipboard_) == window_;
      std::lock_guard<std::mutex> lock(signals_.mutex);
      owning_ = owned;
      offered_ = offered_ && owned;
    }
    std::lock_guard<std::mutex> lock(signals_.mutex);
    command_result_ = owned;
    signals_.changed.notify_all();
    return true;
  }

  // A timestamp of the server's, for taking the clipboard (the ICCCM wants
  // one rather than CurrentTime): the time of a change to our own property.
  Time ServerTime() {
    Display* d = display_.get();
    const Atom stamp = AtomOf(d, "_LUMORA_OUTPUT_TIME");
    static constexpr unsigned char kNothing = 0;
    XChangeProperty(d, window_, stamp, XA_STRING, 8, PropModeAppend, &kNothing, 0);
    XEvent event{};
    do {
      // Only this window's property events: readers' requests wait in line.
      XWindowEvent(d, window_, PropertyChangeMask, &event);
    } while (event.xproperty.atom != stamp);
    return event.xproperty.time;
  }

  void Serve(const XSelectionRequestEvent& request) {
    Display* d = display_.get();
    std::string text;
    bool offered = false;
    Time owned_at = 0;
    bool owning = false;
    std::uint64_t generation = 0;
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      owning = owning_;
      text = text_;
      offered = offered_;
      owned_at = owned_at_;
      generation = generation_;
    }
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = d;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.property = 0;  // refused, unless filled in below
    reply.time = request.time;
    // A reader from before the ICCCM names no property: the target's name
    // stands for it.
    const Atom property = request.property != 0 ? request.property : request.target;
    const Atom utf8_string = AtomOf(d, "UTF8_STRING");
    const Atom text_target = AtomOf(d, "TEXT");
    const Atom mime_utf8 = AtomOf(d, "text/plain;charset=utf-8");
    const Atom targets = AtomOf(d, "TARGETS");
    const Atom password_hint = AtomOf(d, "x-kde-passwordManagerHint");
    const std::optional<std::string> latin1 = ToLatin1(text);
    const bool current = owning && request.selection == clipboard_ &&
                         (request.time == CurrentTime || request.time >= owned_at);
    bool text_served = false;
    if (!current) {
      // Not ours (any more), or asked about an older ownership.
    } else if (request.target == targets) {
      std::vector<Atom> list = {targets,     AtomOf(d, "TIMESTAMP"), utf8_string, mime_utf8,
                                text_target, password_hint};
      if (latin1) {
        list.push_back(XA_STRING);
      }
      XChangeProperty(d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(list.data()), static_cast<int>(list.size()));
      reply.property = property;
    } else if (request.target == AtomOf(d, "TIMESTAMP")) {
      const long stamp = static_cast<long>(owned_at);
      XChangeProperty(d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&stamp), 1);
      reply.property = property;
    } else if (request.target == password_hint) {
      // KDE's Klipper leaves a text with this hint out of its history.
      static constexpr char kSecret[] = "secret";
      XChangeProperty(d, request.requestor, property, password_hint, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(kSecret), sizeof kSecret - 1);
      reply.property = property;
    } else {
      // TEXT leaves the encoding to us: Latin-1 where it does, for the
      // oldest readers, else UTF-8. STRING is Latin-1 or nothing.
      const bool as_latin1 = request.target == XA_STRING || (request.target == text_target && latin1);
      const bool as_utf8 = request.target == utf8_string || request.target == mime_utf8 ||
                           (request.target == text_target && !latin1);
      const std::string* data = as_latin1 && latin1 ? &*latin1 : as_utf8 ? &text : nullptr;
      if (data != nullptr) {
        const Atom type = as_latin1 ? XA_STRING : request.target == mime_utf8 ? mime_utf8 : utf8_string;
        XChangeProperty(d, request.requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data->data()), static_cast<int>(data->size()));
        reply.property = property;
        text_served = true;
      }
    }
    XSendEvent(d, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    // A reader that went away meanwhile got nothing.
    const bool delivered = SyncSucceeded(d);
    if (!text_served || !delivered || !offered || !ReadByProgramInFront(d, request.requestor)) {
      return;
    }
    std::lock_guard<std::mutex> lock(signals_.mutex);
    // Still the same offer: a new text may have come while we answered.
    if (offered_ && generation_ == generation) {
      offered_ = false;
      read_ = true;
      signals_.changed.notify_all();
    }
  }

  DisplayConnection display_;  // this thread's
  Display* waker_;             // the callers'
  WaitSignals& signals_;
  Window window_ = 0;
  Atom wake_ = 0;
  Atom clipboard_ = 0;
  // Guarded by signals_.mutex.
  Command command_ = Command::None;
  std::string command_text_;
  bool command_offer_ = false;
  std::optional<bool> command_result_;
  bool owning_ = false;
  std::string text_;              // UTF-8
  std::uint64_t generation_ = 0;  // counts the texts, so that a read is of this one
  Time owned_at_ = 0;
  bool offered_ = false;  // an offer waits for its read by the program in front
  bool read_ = false;     // the program in front read the offer
  // Declared last: started once everything it uses exists.
  std::thread thread_;
};

std::unique_ptr<X11Desktop> X11Desktop::Open(X11DesktopOptions options) {
  DisplayConnection display =
      OpenXTestDisplay(options.display_name.empty() ? nullptr : options.display_name.c_str());
  if (display == nullptr) {
    return nullptr;
  }
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(options), std::move(display)));
}

std::unique_ptr<Desktop> MakePlatformDesktop() { return X11Desktop::Open(); }

X11Desktop::X11Desktop(X11DesktopOptions options, DisplayConnection display)
    : options_(std::move(options)),
      display_(std::move(display)),
      give_back_thread_(&X11Desktop::GiveBackWhenIdle, this) {}

X11Desktop::~X11Desktop() {
  {
    std::lock_guard<std::mutex> lock(typist_mutex_);
    stopping_ = true;
  }
  give_back_changed_.notify_all();
  give_back_thread_.join();
  // A key left down would turn the user's next keys into shortcuts.
  for (const auto& [virtual_key, keycode] : keys_down_) {
    XTestFakeKeyEvent(display_.get(), keycode, False, CurrentTime);
  }
  XSync(display_.get(), False);
  // Its thread wakes through display_, which outlives it.
  clipboard_.reset();
}

void X11Desktop::GiveBackWhenIdle() {
  std::unique_lock<std::mutex> lock(typist_mutex_);
  for (;;) {
    // No wake-up at all until something was typed.
    give_back_changed_.wait(lock, [this] { return stopping_ || give_back_at_.has_value(); });
    if (stopping_) {
      return;
    }
    const auto due = *give_back_at_;
    // Typing again moves the time on; the wait starts over.
    if (give_back_changed_.wait_until(lock, due, [&] { return stopping_ || give_back_at_ != due; })) {
      continue;
    }
    if (typist_) {
      typist_->GiveBackIdle(kIdleGiveBack);
    }
    give_back_at_.reset();
  }
}

std::size_t X11Desktop::InjectKeyEvents(const std::vector<KeyEvent>& events) {
  std::size_t taken = 0;
  while (taken < events.size()) {
    const KeyEvent& event = events[taken];
    if ((event.flags & kKeyEventUnicode) != 0) {
      std::size_t end = taken;
      while (end < events.size() && (events[end].flags & kKeyEventUnicode) != 0) {
        ++end;
      }
      const std::size_t typed = TypeUnicode(events, taken, end);
      taken += typed;
      if (taken < end) {
        return taken;
      }
    } else if ((event.flags & kKeyEventScanCode) != 0 &&
               PressKey(event.code, (event.flags & kKeyEventKeyUp) == 0)) {
      ++taken;
    } else {
      return taken;
    }
  }
  return taken;
}

std::size_t X11Desktop::TypeUnicode(const std::vector<KeyEvent>& events, std::size_t begin, std::size_t end) {
  // The code points of the down events, a surrogate pair's two units (each
  // a down and an up of its own) joined, and where each code point's events
  // begin: a short count from the typist is counted back in events.
  std::u32string text;
  std::vector<std::size_t> starts;
  bool pair_open = false;
  for (std::size_t i = begin; i < end; ++i) {
    if ((events[i].flags & kKeyEventKeyUp) != 0) {
      continue;
    }
    const auto unit = static_cast<char16_t>(events[i].code);
    if (pair_open && IsLowSurrogate(unit)) {
      text.back() = 0x10000 + ((text.back() - 0xD800) << 10) + (unit - 0xDC00);
      pair_open = false;
      continue;
    }
    if (pair_open) {
      text.back() = 0xFFFD;  // a high surrogate without its low half
    }
    pair_open = IsHighSurrogate(unit);
    starts.push_back(i);
    text.push_back(IsLowSurrogate(unit) ? 0xFFFD : unit);
  }
  if (pair_open) {
    text.back() = 0xFFFD;
  }
  if (text.empty()) {
    return end - begin;
  }

  Display* d = display_.get();
  // Caps Lock would turn the typed letters into capitals (clients apply it
  // to a keysym that has cases): unlocked for the text, locked again after.
  // A text with nothing it could change (most Chinese) spares the round trip.
  const bool has_case =
      std::any_of(text.begin(), text.end(), [](char32_t c) { return !CapsLockCannotChange(c); });
  XkbStateRec state{};
  const bool caps_locked =
      has_case && XkbGetState(d, XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask);
  if (caps_locked) {
    XkbLockModifiers(d, XkbUseCoreKbd, LockMask, 0);
    XSync(d, False);
  }
  std::size_t typed = 0;
  {
    std::lock_guard<std::mutex> lock(typist_mutex_);
    if (!typist_) {
      typist_ = X11Typist::Open(options_.display_name.empty() ? nullptr : options_.display_name.c_str());
    }
    if (typist_) {
      typed = typist_->Type(text);
      give_back_at_ = std::chrono::steady_clock::now() + kIdleGiveBack;
      give_back_changed_.notify_all();
    }
  }
  if (caps_locked) {
    XkbLockModifiers(d, XkbUseCoreKbd, LockMask, LockMask);
    XSync(d, False);
  }
  return typed < starts.size() ? starts[typed] - begin : end - begin;
}

std::uint16_t X11Desktop::ScanCodeFor(std::uint16_t virtual_key) { return virtual_key; }

bool X11Desktop::PressKey(std::uint16_t virtual_key, bool down) {
  Display* d = display_.get();
  KeyCode keycode = 0;
  if (!down) {
    const auto held = keys_down_.find(virtual_key);
    if (held == keys_down_.end()) {
      return true;  // nothing to lift: the key is up
    }
    keycode = held->second;
    keys_down_.erase(held);
  } else {
    switch (virtual_key) {
      case kVirtualKeyBack:
        keycode = KeycodeOf(d, {XK_BackSpace});
        break;
      case kVirtualKeyReturn:
        keycode = KeycodeOf(d, {XK_Return, XK_KP_Enter});
        break;
      case kVirtualKeyControl:
        keycode = KeycodeOf(d, {XK_Control_L, XK_Control_R});
        break;
      case kVirtualKeyV:
        keycode = KeycodeOf(d, {XK_v, XK_V});
        break;
      default:
        break;
    }
    if (keycode == 0) {
      return false;
    }
  }
  XTestFakeKeyEvent(d, keycode, down ? True : False, CurrentTime);
  if (!SyncSucceeded(d)) {
    return false;
  }
  if (down) {
    keys_down_[virtual_key] = static_cast<std::uint8_t>(keycode);
  }
  return true;
}

void X11Desktop::Wait(unsigned milliseconds) {
  std::unique_lock<std::mutex> lock(signals_.mutex);
  signals_.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return signals_.cancelled; });
}

void X11Desktop::CancelWaits() {
  std::lock_guard<std::mutex> lock(signals_.mutex);
  signals_.cancelled = true;
  signals_.changed.notify_all();
}

bool X11Desktop::Own(const std::u16string& text, bool offer) {
  if (!clipboard_) {
    clipboard_ = ClipboardOwner::Open(options_.display_name, display_.get(), signals_);
  }
  return clipboard_ && clipboard_->Own(Utf16ToUtf8(text), offer);
}

bool X11Desktop::SetClipboardText(const std::u16string& text) { return Own(text, false); }

bool X11Desktop::OfferClipboardText(const std::u16string& text) { return Own(text, true); }

bool X11Desktop::WaitForClipboardRead(unsigned timeout_ms) {
  return clipboard_ && clipboard_->WaitForRead(timeout_ms);
}

pid_t X11Desktop::FrontPid() {
  Display* d = display_.get();
  const Window active = ActiveWindow(d);
  if (active == 0) {
    return 0;
  }
  if (active != front_window_) {
    front_window_ = active;
    front_pid_ = WindowPid(d, active);
  }
  return front_pid_;
}

std::u16string X11Desktop::ForegroundImagePath() {
  const pid_t pid = FrontPid();
  if (pid <= 0) {
    return {};
  }
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char path[PATH_MAX];
  const ssize_t length = readlink(link.c_str(), path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
    return {};
  }
  return ToUtf16(std::string_view(path, static_cast<std::size_t>(length)));
}

TargetBlock X11Desktop::CheckTarget() {
  // The lock screen takes the keyboard: text would go into its password
  // field, and Enter would try it.
  if (options_.screen_locked && options_.screen_locked()) {
    return TargetBlock::OtherDesktop;
  }
  const pid_t front = FrontPid();
  if (front != 0 && front == options_.own_pid) {
    return TargetBlock::OwnWindow;
  }
  return TargetBlock::None;
}

bool X11Desktop::ModifiersHeld() {
  // One round trip: the modifiers that keys held down set now. Caps Lock's
  // and Num Lock's locks are not held keys (and Num Lock's Mod2 never
  // changes what a letter types); Shift, Control, Alt and Meta (Mod1), Hyper
  // (Mod3), Super (Mod4) and AltGr (Mod5) are.
  constexpr unsigned kHeldModifiers = ShiftMask | ControlMask | Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask;
  XkbStateRec state{};
  if (XkbGetState(display_.get(), XkbUseCoreKbd, &state) != Success) {
    return false;
  }
  return (state.base_mods & kHeldModifiers) != 0;
}

}  // namespace lumora
