#pragma once

// The question the program asks when a phone it does not know connects: allow
// it or not. Unlike the other dialogs it has no modal loop of its own; the
// program goes on serving the current phone while the user decides, and the
// thread's ordinary message loop runs it.

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/window_proc_win.h"
#include "core/phone_consent.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace lumora {

inline constexpr wchar_t kPhonePromptClass[] = L"Parlino.PhonePrompt";

// How long the buttons and keys of a prompt do nothing after it appeared or
// came to the front: whatever the user was typing elsewhere at that moment
// must not answer it.
inline constexpr std::chrono::milliseconds kPhonePromptSettle{1000};

// Names a phone and asks whether it may type into this PC: "允许" or "拒绝".
// "拒绝" has the keyboard focus and is the Enter button, so that dictated
// text ending in Enter, which may land here, never allows a phone. Tab moves
// between the two buttons, Enter presses the focused one, Esc refuses.
class PhonePrompt final : public WindowOwner<PhonePrompt>, public ConsentPrompt {
 public:
  // Shows the prompt on top of the other windows without taking the
  // foreground or the keyboard focus from the window the user works in;
  // BringToFront (or a click) makes it the active window. `decided` runs
  // once, on the UI thread, with true for "允许" and false for "拒绝", Esc or
  // the close box, before the window goes. Destroying the object closes a
  // prompt that is still up without calling `decided`. Null when the window
  // cannot be made. `settle` is for tests.
  //
  // `decided` may destroy the PhonePrompt; a window that goes with its owner
  // decides nothing.
  static std::unique_ptr<PhonePrompt> Show(HWND owner, HINSTANCE instance, std::wstring_view phone_name,
                                           std::wstring_view address, std::function<void(bool allow)> decided,
                                           std::chrono::milliseconds settle = kPhonePromptSettle);
  ~PhonePrompt() override;

  // Makes the prompt the foreground window with "拒绝" (or the button last
  // focused) focused, when the user asked for it (the tray icon, its notice).
  void BringToFront() override;
  PhonePrompt(const PhonePrompt&) = delete;
  PhonePrompt& operator=(const PhonePrompt&) = delete;

 private:
  friend class WindowOwner<PhonePrompt>;
  PhonePrompt(HINSTANCE instance, std::u16string phone_line, std::function<void(bool)> decided);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  // A key that the window or one of its buttons received; true when it was
  // the prompt's to act on.
  bool HandleKey(WPARAM virtual_key, HWND from);
  void FocusButton(HWND button);
  void Decide(bool allow);
  // Starts the time in which input is ignored.
  void Unsettle();
  bool Settled() const;
  static LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wparam, LPARAM lparam);

  HINSTANCE instance_;
  std::function<void(bool)> decided_;
  DialogControls controls_;
  // The button with the keyboard focus, given it back when the window is
  // activated again.
  HWND focused_ = nullptr;
  std::chrono::milliseconds settle_{0};
  std::uint64_t settled_at_ = 0;  // GetTickCount64
  // Lets Decide tell whether `decided` destroyed this object.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumora
