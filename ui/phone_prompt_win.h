#pragma once

// The question the program asks when a phone it does not know connects: allow
// it or not. Unlike the other dialogs it has no modal loop of its own; the
// program goes on serving the current phone while the user decides, and the
// thread's ordinary message loop runs it.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/window_proc_win.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace lumora {

inline constexpr wchar_t kPhonePromptClass[] = L"Parlino.PhonePrompt";

// Names a phone and asks whether it may type into this PC: "允许" or "拒绝".
// "拒绝" has the keyboard focus and is the Enter button, so that dictated
// text ending in Enter, which may land here, never allows a phone. Tab moves
// between the two buttons, Enter presses the focused one, Esc refuses.
class PhonePrompt final : public WindowOwner<PhonePrompt> {
 public:
  // Shows the prompt in front, naming the phone; `decided` runs once, on the
  // UI thread, with true for "允许" and false for "拒绝", Esc or the close box,
  // after which the window is gone. Destroying the object closes a prompt that
  // is still up without calling `decided`. Null when the window cannot be made.
  //
  // `decided` may destroy the PhonePrompt: it runs as the very last step of
  // the decision. A window that goes with its owner decides nothing.
  static std::unique_ptr<PhonePrompt> Show(HWND owner, HINSTANCE instance, std::wstring_view phone_name,
                                           std::wstring_view address,
                                           std::function<void(bool allow)> decided);
  ~PhonePrompt();
  PhonePrompt(const PhonePrompt&) = delete;
  PhonePrompt& operator=(const PhonePrompt&) = delete;

 private:
  friend class WindowOwner<PhonePrompt>;
  PhonePrompt(HINSTANCE instance, const std::wstring& phone_line, std::function<void(bool)> decided);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  // A key that the window or one of its buttons received; true when it was
  // the prompt's to act on.
  bool HandleKey(WPARAM virtual_key, HWND from);
  void FocusButton(HWND button);
  void Decide(bool allow);
  static LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wparam, LPARAM lparam);

  HINSTANCE instance_;
  std::function<void(bool)> decided_;
  DialogControls controls_;
  // The button with the keyboard focus, given it back when the window is
  // activated again.
  HWND focused_ = nullptr;
};

}  // namespace lumora
