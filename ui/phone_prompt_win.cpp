#include "ui/phone_prompt_win.h"

#include <atomic>
#include <optional>
#include <utility>

#include "base/display_text.h"
#include "base/product.h"
#include "base/win32_util_win.h"
#include "overlay/dpi_win.h"
#include "ui/dialog_layout.h"

namespace lumora {

namespace {

// Topmost: the question concerns whoever is about to type into this PC, so
// it stays above the window being dictated into until it is answered.
constexpr DWORD kPromptExStyle = kDialogExStyle | WS_EX_TOPMOST;

// What a button tells the prompt. wParam: the virtual key, lParam: the
// button; the result is 1 when the prompt acted on the key.
constexpr UINT kKeyMessage = WM_USER + 1;
// lParam: the button that now has the keyboard focus.
constexpr UINT kFocusMessage = WM_USER + 2;

}  // namespace

PhonePrompt::PhonePrompt(HINSTANCE instance, std::u16string phone_line, std::function<void(bool)> decided)
    : instance_(instance), decided_(std::move(decided)), controls_(PhonePromptForm(std::move(phone_line))) {}

PhonePrompt::~PhonePrompt() {
  // Closed by its owner: nobody decided, so nobody is told.
  decided_ = nullptr;
  if (window() != nullptr) {
    DestroyWindow(window());
  }
}

std::unique_ptr<PhonePrompt> PhonePrompt::Show(HWND owner, HINSTANCE instance, std::wstring_view phone_name,
                                               std::wstring_view address,
                                               std::function<void(bool allow)> decided,
                                               std::chrono::milliseconds settle) {
  static std::atomic<bool> registered{false};
  RegisterDialogClass(registered, instance, kPhonePromptClass, &PhonePrompt::WindowProc);

  std::unique_ptr<PhonePrompt> prompt(
      new PhonePrompt(instance, PhonePromptLine(AsU16(phone_name), AsU16(address)), std::move(decided)));
  prompt->settle_ = settle;
  const std::wstring title = std::wstring(kProductName) + L" - 新手机";
  const SIZE size = prompt->controls_.LayOut(DialogDpi(owner), title, kDialogStyle, kPromptExStyle);
  // Centred like the other dialogs, but the owner stays enabled: the prompt
  // is not modal.
  const DialogPlacement placement = PlaceDialogFor(owner, size.cx, size.cy);
  HWND window = CreateWindowExW(kPromptExStyle, kPhonePromptClass, title.c_str(), kDialogStyle,
                                placement.window.x, placement.window.y, placement.window.width,
                                placement.window.height, owner, nullptr, instance, prompt.get());
  if (window == nullptr) {
    return nullptr;
  }
  // Seen, on top, but not active: a prompt that took the focus would get
  // the keys the user meant for their own window (Tab, then Space, allows).
  // The focus goes to "拒绝" when the user brings the prompt to the front.
  prompt->Unsettle();
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  return prompt;
}

void PhonePrompt::BringToFront() {
  if (window() == nullptr) {
    return;
  }
  ShowWindow(window(), SW_SHOWNORMAL);
  SetForegroundWindow(window());
  FocusButton(focused_);
  Unsettle();
}

void PhonePrompt::Unsettle() { settled_at_ = GetTickCount64() + static_cast<std::uint64_t>(settle_.count()); }

bool PhonePrompt::Settled() const { return GetTickCount64() >= settled_at_; }

void PhonePrompt::CreateControls() {
  controls_.Create(window(), instance_);
  for (const int id : {kPhonePromptAllowId, kPhonePromptRefuseId}) {
    // No dialog manager runs this window: the buttons hand their keys to it.
    // The button class keeps its state in the window's extra bytes, so the
    // user data is free to hold the class's own procedure.
    if (HWND button = GetDlgItem(window(), id)) {
      const LONG_PTR button_proc =
          SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PhonePrompt::ButtonProc));
      SetWindowLongPtrW(button, GWLP_USERDATA, button_proc);
    }
  }
  focused_ = GetDlgItem(window(), kPhonePromptRefuseId);
}

LRESULT CALLBACK PhonePrompt::ButtonProc(HWND button, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto button_proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(button, GWLP_USERDATA));
  HWND prompt = GetParent(button);
  switch (message) {
    case WM_KEYDOWN:
      // A key the prompt acts on may end it: the window, this button and the
      // PhonePrompt itself (its owner may destroy it when told) can all be
      // gone when the message returns, so nothing is touched after it.
      if (SendMessageW(prompt, kKeyMessage, wparam, reinterpret_cast<LPARAM>(button)) != 0) {
        return 0;
      }
      break;
    case WM_CHAR:
      // The characters of Enter, Tab and Esc, which a button does not use.
      if (wparam == L'\r' || wparam == L'\t' || wparam == 0x1B) {
        return 0;
      }
      break;
    case WM_SETFOCUS:
      SendMessageW(prompt, kFocusMessage, 0, reinterpret_cast<LPARAM>(button));
      break;
    default:
      break;
  }
  return CallWindowProcW(button_proc, button, message, wparam, lparam);
}

void PhonePrompt::FocusButton(HWND button) {
  if (button != nullptr) {
    SetFocus(button);
  }
}

bool PhonePrompt::HandleKey(WPARAM virtual_key, HWND from) {
  HWND allow = GetDlgItem(window(), kPhonePromptAllowId);
  HWND refuse = GetDlgItem(window(), kPhonePromptRefuseId);
  // Keys that reach the window itself act for the button that had the focus.
  HWND current = from == allow || from == refuse ? from : focused_;
  if (!Settled()) {
    // Taken, so that no button acts on it either (a Space, say).
    return virtual_key == VK_ESCAPE || virtual_key == VK_RETURN || virtual_key == VK_TAB ||
           virtual_key == VK_SPACE;
  }
  switch (virtual_key) {
    case VK_ESCAPE:
      Decide(false);
      return true;
    case VK_RETURN:
      // The focused button is the Enter button, as in any dialog; only a
      // user who moved the focus to "允许" allows with Enter.
      Decide(current == allow);
      return true;
    case VK_TAB:
      // Two buttons: forwards and backwards are the same move.
      FocusButton(current == allow ? refuse : allow);
      return true;
    default:
      return false;
  }
}

void PhonePrompt::Decide(bool allow) {
  std::function<void(bool)> decided = std::exchange(decided_, nullptr);
  // The answer first, the window after: the phone is served (or sent away)
  // as soon as the user answered, not once the window and the activation
  // that its going brings are done with. `decided` may destroy this object.
  const std::weak_ptr<bool> alive = alive_;
  if (decided) {
    decided(allow);
  }
  if (!alive.expired() && window() != nullptr) {
    DestroyWindow(window());
  }
}

LRESULT PhonePrompt::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
      if (controls_.HandleLayoutChange(message, wparam, lparam)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_ACTIVATE:
      // Brought to the front, by a click or from elsewhere: a key already on
      // its way, meant for the window before, must not answer it. The focus
      // goes back to the button that had it, not to the window.
      if (LOWORD(wparam) != WA_INACTIVE) {
        Unsettle();
      }
      if (LOWORD(wparam) != WA_INACTIVE && focused_ != nullptr) {
        SetFocus(focused_);
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_SETFOCUS:
      FocusButton(focused_);
      return 0;
    case kFocusMessage: {
      focused_ = reinterpret_cast<HWND>(lparam);
      // The focused button is the one Enter presses, and is drawn so.
      for (const int id : {kPhonePromptAllowId, kPhonePromptRefuseId}) {
        HWND button = GetDlgItem(window(), id);
        SendMessageW(button, BM_SETSTYLE, button == focused_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
      }
      return 0;
    }
    case kKeyMessage:
      return HandleKey(wparam, reinterpret_cast<HWND>(lparam)) ? 1 : 0;
    case WM_KEYDOWN:
      if (HandleKey(wparam, window())) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_COMMAND:
      if (!Settled()) {
        return 0;  // a click or a Space meant for what was in front before
      }
      if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == kPhonePromptAllowId) {
        Decide(true);
      } else if (HIWORD(wparam) == BN_CLICKED &&
                 (LOWORD(wparam) == kPhonePromptRefuseId || LOWORD(wparam) == IDCANCEL)) {
        Decide(false);
      }
      return 0;
    case WM_CLOSE:
      // The close box, Alt+F4.
      Decide(false);
      return 0;
    case WM_DESTROY:
      focused_ = nullptr;
      controls_.Release();
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

}  // namespace lumora
