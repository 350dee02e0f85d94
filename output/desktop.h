#pragma once

// What text output needs from the desktop, as one small interface: the
// Windows implementation (desktop_win.cpp) talks to SendInput and the
// clipboard; tests use a recording fake, so every sequence and wait can be
// checked without touching a real desktop or sleeping.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

// Flags of a synthesized key event, with the values of KEYEVENTF_*.
inline constexpr std::uint32_t kKeyEventKeyUp = 0x0002;
inline constexpr std::uint32_t kKeyEventUnicode = 0x0004;
inline constexpr std::uint32_t kKeyEventScanCode = 0x0008;

// Virtual keys, with the values of VK_*.
inline constexpr std::uint16_t kVirtualKeyBack = 0x08;
inline constexpr std::uint16_t kVirtualKeyReturn = 0x0D;
inline constexpr std::uint16_t kVirtualKeyControl = 0x11;
inline constexpr std::uint16_t kVirtualKeyV = 0x56;

// Why the window in front must not receive our input now.
enum class TargetBlock {
  None,
  // One of this program's own windows (a dialog, a message box, a prompt):
  // dictated text would land in it and Enter would press its default button.
  OwnWindow,
  // A process at a higher integrity level, or one whose level cannot be
  // read: Windows discards our input without an error (UIPI).
  Elevated,
  // The input desktop is not ours (the lock screen, a UAC prompt): the input
  // is dropped as well.
  OtherDesktop,
};

// One keyboard input record. The virtual key is always 0: the target sees a
// UTF-16 unit (Unicode events) or a hardware scan code (key events) only.
struct KeyEvent {
  std::uint16_t code = 0;
  std::uint32_t flags = 0;

  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Inserts the events into the input stream in one call, so that no other
  // input can come between them. Returns how many the system took, from the
  // front: fewer than given means the rest never arrived.
  virtual std::size_t InjectKeyEvents(const std::vector<KeyEvent>& events) = 0;
  // The scan code of a virtual key in the current keyboard layout.
  virtual std::uint16_t ScanCodeFor(std::uint16_t virtual_key) = 0;
  // Suspends the calling (output) thread, until CancelWaits at the latest.
  virtual void Wait(unsigned milliseconds) = 0;
  // Replaces the clipboard's contents with `text`. True only when the text is
  // on the clipboard afterwards.
  virtual bool SetClipboardText(const std::u16string& text) = 0;
  // For a paste: replaces the clipboard's contents with `text`, marked as
  // SetClipboardText marks it, but hands the text over only when it is read,
  // so that the read can be seen. True when the clipboard holds the offer.
  virtual bool OfferClipboardText(const std::u16string& text) = 0;
  // Waits until the process in front has read the offered text, at most
  // `timeout_ms` and until CancelWaits at the latest. A read by any other
  // process does not count and gets nothing meanwhile. True when it was read.
  // Afterwards the text is on the clipboard for anyone who reads it.
  virtual bool WaitForClipboardRead(unsigned timeout_ms) = 0;
  // Any thread: the wait under way and every later one return at once. For
  // the program's exit.
  virtual void CancelWaits() = 0;
  // Full path of the executable that owns the foreground window; empty when
  // there is none or it cannot be queried.
  virtual std::u16string ForegroundImagePath() = 0;
  // Whether input may go to what is in front right now. No foreground window
  // at all is None: nothing there can misuse the text.
  virtual TargetBlock CheckTarget() = 0;
  // True while Ctrl, Alt, Shift or a Windows key is physically down: typed
  // letters would become shortcuts and Enter would become Ctrl+Enter.
  virtual bool ModifiersHeld() = 0;
};

// The real desktop of this platform: Windows, or on Linux the X11 session of
// $DISPLAY (output/desktop_x11.h). Null when there is none to type into (no
// X display, or one without XTest).
std::unique_ptr<Desktop> MakePlatformDesktop();

// UTF-8 to UTF-16 as the output path converts committed text: on Windows the
// system conversion (ill-formed input becomes U+FFFD); elsewhere an
// equivalent decoder.
std::u16string ToUtf16(std::string_view utf8);

}  // namespace lumora
