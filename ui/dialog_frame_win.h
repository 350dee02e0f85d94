#pragma once

// What the settings, onboarding and contact dialogs share: each is a plain
// top-level window of its own class with standard controls, run by a modal
// loop of its own (no dialog templates), placed and sized at the owner's DPI.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/scoped_win.h"
#include "base/window_proc_win.h"
#include "config/app_config.h"
#include "ui/dialog_layout.h"
#include "ui/form_layout.h"
#include "ui/port_text.h"

namespace lumora {

inline constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;  // 0x00040001
inline constexpr DWORD kDialogStyle = WS_CAPTION | WS_SYSMENU;                  // 0x00C80000

// The dialog font: the system's message font at the dialog's DPI, or the
// stock GUI font when the system gives none. Created at WM_CREATE and deleted
// at WM_DESTROY.
class DialogFont {
 public:
  void Create(std::uint32_t dpi);
  void Reset() {
    owned_.Reset();
    font_ = nullptr;
    made_from_ = {};
  }
  HFONT get() const { return font_; }
  // Whether Create(dpi) would now make another font: the user changed the
  // text size or the message font.
  bool Outdated(std::uint32_t dpi) const;

 private:
  ScopedGdiObject<HFONT> owned_;
  HFONT font_ = nullptr;
  LOGFONTW made_from_{};  // the system's message font it was made from
};

// The window of one dialog kind; its size follows from its controls.
struct DialogFrame {
  const wchar_t* class_name;
  const wchar_t* title;
};

// The controls of one form on a dialog window: laid out from the dialog font
// at the dialog's DPI before the window is made, made at WM_CREATE, and laid
// out again with a new font when the DPI or the text size changes.
class DialogControls {
 public:
  explicit DialogControls(Form form) : form_(std::move(form)) {}

  // A font for `dpi` and the form laid out with it, in a client area wide
  // enough for the whole of `title` in the caption font of that DPI; the
  // outer size of a window of these styles around it.
  SIZE LayOut(std::uint32_t dpi, std::wstring_view title, DWORD style, DWORD ex_style);
  // Makes every control of the form that is a window where LayOut put it, in
  // order (the order of Tab), with its text, and a drop-down list with its
  // entries.
  void Create(HWND dialog, HINSTANCE instance);
  // A font for `dpi`, every control moved to its place with it, and the
  // dialog sized to fit: at the top left of `suggested` (a change of DPI),
  // else where it is.
  void LayOutAgain(std::uint32_t dpi, const RECT* suggested);
  // At WM_DPICHANGED and at a WM_SETTINGCHANGE that changed the message
  // font (the text size): laid out again; true when the message was one of
  // those.
  bool HandleLayoutChange(UINT message, WPARAM wparam, LPARAM lparam);
  // At WM_DESTROY.
  void Release() { font_.Reset(); }
  // New text for the control `id`; a paragraph's height follows it, and the
  // dialog is laid out again around it.
  void SetText(int id, std::u16string text);

  // The box of the control `id` in the client area (empty when unknown).
  LayoutBox BoxOf(int id) const;

 private:
  Form form_;
  HWND dialog_ = nullptr;
  DialogFont font_;
  FormLayout layout_;
  std::vector<HWND> windows_;  // per control of the form; null for a picture
};

// Registers the dialog's class on the first call for `registered`; a failure
// is not retried (CreateWindowExW then fails and Run says so).
void RegisterDialogClass(std::atomic<bool>& registered, HINSTANCE instance, const wchar_t* class_name,
                         WNDPROC window_proc);

// Lays `controls` out at the owner's DPI, places the dialog, disables an
// owner it is centred on, creates the window with `create_param` (whose
// WM_CREATE makes the controls), shows it and runs its modal loop until the
// window is gone. False when the window could not be created. A WM_QUIT ends
// the loop, destroys the dialog and is posted again, so that the caller's own
// loop ends too.
bool RunDialogFrame(const DialogFrame& frame, DialogControls& controls, HWND owner, HINSTANCE instance,
                    void* create_param);

// PlaceDialog for a window of this size, on the owner's rectangle and the
// primary work area as the system reports them now.
DialogPlacement PlaceDialogFor(HWND owner, std::int32_t width, std::int32_t height);

// The DPI a dialog scales by: WindowDpi, unless a test has put another in.
std::uint32_t DialogDpi(HWND window);

// Puts the focus on the dialog's first tab stop, its text selected when it is
// an edit: a keyboard user can act at once.
void FocusFirstControl(HWND dialog);

// At WM_ACTIVATE of a dialog: remembers the focused control when the dialog
// is left and gives it the focus back when the dialog is activated again
// (a plain window would otherwise take the focus itself). True when it set
// the focus, and the message is then handled.
bool KeepFocusAcrossActivation(HWND dialog, WPARAM wparam, HWND& saved);

// ParsePortText on what the port edit holds (read into 32 UTF-16 units).
bool ParsePortText(HWND edit, std::int32_t& out);

// The port edit's number when it is a port the dialogs accept; otherwise the
// warning box, owned by the dialog, and then the edit's text selected again.
bool ReadListenPortOrWarn(HWND dialog, HWND edit, std::int32_t& port);

bool IsChecked(HWND check_box);

// The focus in the edit with its whole text selected, so that what the user
// types next replaces it: after a warning about it, say.
void SelectEditText(HWND edit);

// At WM_DESTROY: the owner is enabled again (also when it was never disabled).
void ReleaseOwner(HWND owner);

// The settings and the onboarding dialog: the window edits a copy of the
// settings. The confirm button, or Enter, takes the controls' values when the
// port is one the dialogs accept and closes the window; the cancel button,
// Esc or the close box close it and leave the record as it was.
class ConfigDialog : public WindowOwner<ConfigDialog> {
 protected:
  struct ControlIds {
    int port_edit;
    int confirm;  // also the default button, pressed by Enter
    int cancel;
  };

  // `try_port` (may be empty) is asked at every confirmation with a valid
  // port.
  ConfigDialog(HINSTANCE instance, HWND owner, const AppConfig& current, ControlIds ids, Form form,
               PortTrial try_port);
  virtual ~ConfigDialog() = default;

  // Registers the dialog's class on the first call for `registered`, shows
  // the dialog and returns when it is closed. True, with `result` set to the
  // whole edited record, when the user confirmed and `result` is not null;
  // otherwise false with `result` untouched.
  bool RunModal(const DialogFrame& frame, std::atomic<bool>& registered, AppConfig* result);

  // At WM_CREATE, once the controls are made: what they show, from
  // working().
  virtual void FillControls() = 0;
  // At a confirmation with a valid `port`: what the controls hold, into
  // `working`.
  virtual void TakeControls(std::int32_t port, AppConfig& working) = 0;
  // A command of a control of the dialog's own, before the frame looks at
  // it; true when it was taken.
  virtual bool HandleCommand(int /*id*/, int /*code*/) { return false; }
  // The user came back to the dialog from another window.
  virtual void Activated() {}

  HINSTANCE instance() const { return instance_; }
  DialogControls& controls() { return controls_; }
  const AppConfig& working() const { return working_; }

 private:
  friend class WindowOwner<ConfigDialog>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Confirm();
  void Close();

  HINSTANCE instance_;
  HWND owner_;
  ControlIds ids_;
  PortTrial try_port_;
  AppConfig working_;
  bool accepted_ = false;
  DialogControls controls_;
  HWND focus_ = nullptr;  // the control that had the focus when the dialog was left
};

namespace detail {
// Replaces the DPI the dialogs scale by (0 puts WindowDpi back), so that a
// display scale can be played where the bench's cannot be changed.
void SetDialogDpiForTest(std::uint32_t dpi);
}  // namespace detail

}  // namespace lumora
