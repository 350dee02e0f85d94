// The floor for the Linux latency measurement: the least a receiver can do
// with the same thread hops as the program. A connection thread reads lines
// and posts each committed text to a UI thread, which hands it to an output
// worker that types it with one XTest sequence: the text's keysyms mapped to
// keycodes of its own at once, then every press, then one flush. Speaks just
// enough of the wire protocol for the measuring phone (welcome, hello, text,
// commit and its ack).
//
// What the program does and this floor skips: the check of the window in
// front and of the screen lock, the wait for held modifiers, Caps Lock, the
// chunks whose counts are checked, the cooldown before a pressed keycode is
// mapped anew (the measuring phone waits for each text to arrive before it
// sends the next), the keymap given back between texts, Enter, Tab and
// Backspace as keys, the overlay and the log. A text with more distinct
// characters than the floor holds keycodes is refused (and the measuring
// phone sees nothing arrive).
//
// The keycodes it types through are borrowed from vendor keys (XF86 media
// and launch keys, none of them a modifier), which nobody presses on the
// measuring X server, and given back as they were when the phone leaves. The
// spare keycodes, those with no keysym at all, are what the program types
// through; an X server has few of them (19 on Xvfb's default map), and a
// floor that took some would slow the program down, not itself.
//
//   floor_receiver_linux PORT      (the X display from $DISPLAY)

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "net/protocol.h"
#include "net/server.h"
#include "net/socket_platform.h"
#include "output/keymap_plan.h"
#include "output/typing_x11.h"

// Named before Xlib comes, which makes ClientMessage a number.
using PhoneMessage = lumora::ClientMessage;

// Last: Xlib's macros (None, Bool, Status, ClientMessage) would spoil names
// declared after them.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace {

// Enough for the measured texts' distinct characters.
constexpr std::size_t kBorrowedKeycodes = 48;

// A queue between two threads; nothing (nullopt) tells the taker to end.
template <typename T>
class Handoff {
 public:
  void Put(std::optional<T> item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back(std::move(item));
    }
    wake_.notify_one();
  }
  std::optional<T> Take() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !items_.empty(); });
    std::optional<T> item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::optional<T>> items_;
};

// The vendor keysyms (XF86...), whose keys type no text.
bool IsVendorKeysym(KeySym keysym) { return (keysym & 0xFFFF0000) == 0x10080000; }

class FloorTypist {
 public:
  // Borrows its keycodes now; false without XTest or such keycodes.
  bool Open() {
    display_ = lumora::OpenDisplay(nullptr);
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (display_ == nullptr ||
        !XTestQueryExtension(display_.get(), &event_base, &error_base, &major, &minor)) {
      return false;
    }
    Display* d = display_.get();
    int min = 0;
    int max = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per_keycode_);
    XModifierKeymap* modifiers = XGetModifierMapping(d);
    if (map == nullptr || modifiers == nullptr) {
      return false;
    }
    const KeyCode* modifier_keys = modifiers->modifiermap;
    const KeyCode* modifier_end = modifier_keys + 8 * modifiers->max_keypermod;
    for (int keycode = min; keycode <= max && keycodes_.size() < kBorrowedKeycodes; ++keycode) {
      const KeySym* row = map + (keycode - min) * per_keycode_;
      if (IsVendorKeysym(row[0]) && std::find(modifier_keys, modifier_end, keycode) == modifier_end) {
        keycodes_.push_back(static_cast<KeyCode>(keycode));
        original_.insert(original_.end(), row, row + per_keycode_);
      }
    }
    XFreeModifiermap(modifiers);
    XFree(map);
    return !keycodes_.empty();
  }

  // Gives the keycodes back as they were.
  void Close() {
    for (std::size_t i = 0; i < keycodes_.size(); ++i) {
      XChangeKeyboardMapping(display_.get(), keycodes_[i], per_keycode_,
                             original_.data() + i * static_cast<std::size_t>(per_keycode_), 1);
    }
    XSync(display_.get(), False);
  }

  void Type(const std::string& utf8) {
    std::unordered_map<std::uint32_t, KeyCode> assigned;
    std::vector<KeyCode> presses;
    for (std::size_t i = 0; i < utf8.size();) {
      const std::size_t length = lumora::Utf8SequenceLength(utf8, i);
      const char32_t c = length == 0 ? U'\uFFFD' : lumora::DecodeUtf8(utf8, i, length);
      i += length == 0 ? 1 : length;
      const std::uint32_t keysym = lumora::KeysymForCodePoint(c);
      if (keysym == 0) {
        continue;
      }
      auto [at, added] = assigned.try_emplace(keysym, 0);
      if (added) {
        if (assigned.size() > keycodes_.size()) {
          std::fprintf(stderr, "floor: %zu distinct characters, %zu keycodes: text refused\n",
                       assigned.size(), keycodes_.size());
          return;
        }
        at->second = keycodes_[assigned.size() - 1];
        Map(at->second, keysym);
      }
      presses.push_back(at->second);
    }
    Display* d = display_.get();
    for (const KeyCode keycode : presses) {
      XTestFakeKeyEvent(d, keycode, True, CurrentTime);
      XTestFakeKeyEvent(d, keycode, False, CurrentTime);
    }
    // The server handles one connection's requests in order: the mappings
    // are in place before the first press, without a round trip between.
    XFlush(d);
  }

 private:
  void Map(KeyCode keycode, KeySym keysym) {
    // Every column, as the program maps them.
    std::vector<KeySym> columns(static_cast<std::size_t>(per_keycode_), keysym);
    XChangeKeyboardMapping(display_.get(), keycode, per_keycode_, columns.data(), 1);
  }

  lumora::DisplayConnection display_;
  int per_keycode_ = 0;
  std::vector<KeyCode> keycodes_;
  std::vector<KeySym> original_;  // per_keycode_ keysyms for each of keycodes_
};

// The connection thread: one phone, until it leaves.
void Serve(lumora::SocketHandle listener, Handoff<std::string>& ui) {
  const lumora::Socket client(::accept(listener, nullptr, nullptr));
  if (client.valid()) {
    lumora::SendLine(client.get(), lumora::BuildWelcome(lumora::kServerName, lumora::kServerVersion,
                                                        lumora::kProtocolVersion));
    std::string buffer;
    std::string live;
    char chunk[65536];
    for (;;) {
      const long received = lumora::ReceiveSome(client.get(), chunk, sizeof chunk);
      if (received <= 0) {
        break;
      }
      buffer.append(chunk, static_cast<std::size_t>(received));
      std::size_t line_feed;
      while ((line_feed = buffer.find('\n')) != std::string::npos) {
        PhoneMessage message;
        const bool parsed =
            lumora::ParseClientMessage(std::string_view(buffer).substr(0, line_feed), message);
        buffer.erase(0, line_feed + 1);
        if (!parsed) {
          continue;
        }
        if (message.type == lumora::MessageType::Text) {
          live = std::move(message.content);
        } else if (message.type == lumora::MessageType::Commit) {
          ui.Put(std::move(live));
          live.clear();
          lumora::SendLine(client.get(), lumora::BuildAck("commit"));
        }
      }
    }
  }
  ui.Put(std::nullopt);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: floor_receiver_linux PORT\n");
    return 2;
  }
  FloorTypist typist;
  if (!typist.Open()) {
    std::fprintf(stderr, "floor: no X display with XTest and vendor keys\n");
    return 1;
  }
  const lumora::Socket listener(lumora::OpenTcpSocket());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
  if (!listener.valid() || !lumora::ClaimListenAddress(listener.get()) ||
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.get(), 1) != 0) {
    std::fprintf(stderr, "floor: cannot listen on port %s\n", argv[1]);
    typist.Close();
    return 1;
  }

  Handoff<std::string> ui;
  Handoff<std::string> output;
  std::thread worker([&] {
    while (std::optional<std::string> text = output.Take()) {
      typist.Type(*text);
    }
  });
  std::thread connection(Serve, listener.get(), std::ref(ui));
  // This thread is the UI thread: it only hands each text on.
  while (std::optional<std::string> text = ui.Take()) {
    output.Put(std::move(text));
  }
  output.Put(std::nullopt);
  connection.join();
  worker.join();
  typist.Close();
  return 0;
}
