#include "ui/dialog_frame_win.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>

#include "base/product.h"
#include "base/win32_util_win.h"
#include "overlay/dpi_win.h"
#include "ui/dialog_layout.h"
#include "ui/port_text.h"

namespace lumora {

namespace {

std::atomic<std::uint32_t> g_dpi_for_test{0};

using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);


// The dialog font measured as the controls draw it, on a memory DC.
class GdiTextMeasure final : public TextMeasure {
 public:
  explicit GdiTextMeasure(HFONT font) : dc_(CreateCompatibleDC(nullptr)) {
    if (dc_ != nullptr) {
      old_ = SelectObject(dc_, font);
      TEXTMETRICW metrics{};
      if (GetTextMetricsW(dc_, &metrics)) {
        line_ = metrics.tmHeight;
      }
      // The dialog base unit as Windows reckons it from a font: the mean
      // width of the 52 Latin letters, rounded.
      static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
      SIZE size{};
      if (GetTextExtentPoint32W(dc_, kLetters, 52, &size)) {
        average_ = (size.cx / 26 + 1) / 2;
      }
    }
  }
  ~GdiTextMeasure() override {
    if (dc_ != nullptr) {
      SelectObject(dc_, old_);
      DeleteDC(dc_);
    }
  }
  GdiTextMeasure(const GdiTextMeasure&) = delete;
  GdiTextMeasure& operator=(const GdiTextMeasure&) = delete;

  std::int32_t LineHeight() const override { return line_; }
  std::int32_t AverageWidth() const override { return average_; }
  std::int32_t Width(std::u16string_view line) const override {
    SIZE size{};
    if (dc_ == nullptr || line.empty() ||
        !GetTextExtentPoint32W(dc_, reinterpret_cast<const wchar_t*>(line.data()),
                               static_cast<int>(line.size()), &size)) {
      return 0;
    }
    return size.cx;
  }
  std::int32_t WrappedHeight(std::u16string_view text, std::int32_t width) const override {
    // As a static control draws its text, without access keys.
    RECT rect{0, 0, width, 0};
    if (dc_ == nullptr || text.empty()) {
      return line_;
    }
    DrawTextW(dc_, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_EDITCONTROL);
    return std::max<std::int32_t>(rect.bottom, line_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
  // The stock GUI font's, should the DC fail.
  std::int32_t line_ = 16;
  std::int32_t average_ = 7;
};

// The window class and style of a control of `kind`, besides WS_CHILD and
// WS_VISIBLE.
struct ControlClass {
  const wchar_t* name;
  DWORD style;
};

ControlClass ClassOf(const FormControl& control) {
  const DWORD no_prefix = control.literal ? SS_NOPREFIX | SS_EDITCONTROL : 0;
  // Every control that takes input is a tab stop; the order of creation,
  // which is reading order, is the order of Tab. A label is not, but its
  // access key moves the focus to the control made after it, which also
  // takes the label's text as its accessible name. A list without selection
  // is there to be read, as a label is.
  switch (control.kind) {
    case ControlKind::Label:
    case ControlKind::Paragraph:
      return {L"STATIC", SS_LEFT | no_prefix};
    case ControlKind::NumberEdit:
      return {L"EDIT", WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL};
    case ControlKind::CheckBox:
      return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX};
    case ControlKind::DropList:
      return {L"COMBOBOX", WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL};
    // A list is exactly as tall as its layout: Windows would shrink it to
    // whole rows of the font it was made with, before it has its own.
    case ControlKind::List:
      return {L"LISTBOX", WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT};
    case ControlKind::ReadOnlyList:
      return {L"LISTBOX", WS_BORDER | WS_VSCROLL | LBS_NOSEL | LBS_NOINTEGRALHEIGHT};
    case ControlKind::Button:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON};
    case ControlKind::DefaultButton:
      return {L"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON};
    case ControlKind::Picture:
      break;
  }
  return {nullptr, 0};
}

// A drop-down list is made as tall as it is when dropped: its closed box
// and a row for each entry, with one to spare.
std::int32_t WindowHeight(const FormControl& control, const LayoutBox& box) {
  if (control.kind != ControlKind::DropList) {
    return box.height;
  }
  return box.height * (static_cast<std::int32_t>(control.entries.size()) + 2);
}

std::optional<DialogRect> WindowRectOf(HWND window) {
  RECT rect{};
  if (window == nullptr || !IsWindow(window) || !GetWindowRect(window, &rect)) {
    return std::nullopt;
  }
  return DialogRect{rect.left, rect.top, rect.right, rect.bottom};
}

std::optional<DialogRect> PrimaryWorkArea() {
  RECT rect{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0)) {
    return std::nullopt;
  }
  return DialogRect{rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace

DialogPlacement PlaceDialogFor(HWND owner, std::int32_t width, std::int32_t height) {
  return PlaceDialog(width, height, WindowRectOf(owner), PrimaryWorkArea());
}

namespace {

// The system's fonts and title bar sizes at `dpi`, where the system can say.
std::optional<NONCLIENTMETRICSW> NonClientMetrics(std::uint32_t dpi) {
  // The size Windows Vista and later expect, padded border width included.
  static_assert(sizeof(NONCLIENTMETRICSW) == 504);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  static const auto for_dpi = reinterpret_cast<SystemParametersInfoForDpiFn>(
      reinterpret_cast<void*>(User32Proc("SystemParametersInfoForDpi")));
  if ((for_dpi != nullptr && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) ||
      SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return metrics;
  }
  return std::nullopt;
}

std::optional<LOGFONTW> MessageFont(std::uint32_t dpi) {
  const std::optional<NONCLIENTMETRICSW> metrics = NonClientMetrics(dpi);
  return metrics ? std::optional<LOGFONTW>(metrics->lfMessageFont) : std::nullopt;
}

// The client width that shows the whole of `title` in the caption font at
// `dpi`, beside the close button.
std::int32_t TitleRoom(std::wstring_view title, std::uint32_t dpi) {
  const std::optional<NONCLIENTMETRICSW> metrics = NonClientMetrics(dpi);
  if (!metrics || title.empty()) {
    return 0;
  }
  const ScopedGdiObject<HFONT> font(CreateFontIndirectW(&metrics->lfCaptionFont));
  const HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    return 0;
  }
  const HGDIOBJ old = SelectObject(dc, font.get() != nullptr ? font.get() : GetStockObject(DEFAULT_GUI_FONT));
  SIZE size{};
  GetTextExtentPoint32W(dc, title.data(), static_cast<int>(title.size()), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size.cx + metrics->iCaptionWidth + ScaleForDpi(16, dpi);
}

std::wstring TitleOf(HWND window) {
  wchar_t title[256] = {};
  const int length = GetWindowTextW(window, title, static_cast<int>(std::size(title)));
  return std::wstring(title, static_cast<std::size_t>(length > 0 ? length : 0));
}

// The outer size of a window of these styles whose client area is
// `client_width` x `client_height`, with the frame and title bar of `dpi`
// where the system can say.
SIZE OuterSizeFor(std::int32_t client_width, std::int32_t client_height, DWORD style, DWORD ex_style,
                  std::uint32_t dpi) {
  RECT rect{0, 0, client_width, client_height};
  static const auto for_dpi = reinterpret_cast<AdjustWindowRectExForDpiFn>(
      reinterpret_cast<void*>(User32Proc("AdjustWindowRectExForDpi")));
  if (for_dpi == nullptr || !for_dpi(&rect, style, FALSE, ex_style, dpi)) {
    AdjustWindowRectEx(&rect, style, FALSE, ex_style);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

void DialogFont::Create(std::uint32_t dpi) {
  Reset();
  if (const std::optional<LOGFONTW> message_font = MessageFont(dpi)) {
    owned_.Reset(CreateFontIndirectW(&*message_font));
    made_from_ = *message_font;
  }
  font_ = owned_.get() != nullptr ? owned_.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

bool DialogFont::Outdated(std::uint32_t dpi) const {
  const std::optional<LOGFONTW> now = MessageFont(dpi);
  return now && (now->lfHeight != made_from_.lfHeight || now->lfWeight != made_from_.lfWeight ||
                 now->lfItalic != made_from_.lfItalic || now->lfCharSet != made_from_.lfCharSet ||
                 std::wcsncmp(now->lfFaceName, made_from_.lfFaceName, LF_FACESIZE) != 0);
}

void RegisterDialogClass(std::atomic<bool>& registered, HINSTANCE instance, const wchar_t* class_name,
                         WNDPROC window_proc) {
  if (registered.exchange(true)) {
    return;
  }
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = class_name;
  RegisterClassExW(&window_class);
}

std::uint32_t DialogDpi(HWND window) {
  const std::uint32_t forced = g_dpi_for_test.load();
  return forced != 0 ? forced : WindowDpi(window);
}

SIZE DialogControls::LayOut(std::uint32_t dpi, std::wstring_view title, DWORD style, DWORD ex_style) {
  font_.Create(dpi);
  const GdiTextMeasure measure(font_.get());
  layout_ = LayOutForm(form_, measure, dpi, TitleRoom(title, dpi));
  return OuterSizeFor(layout_.client_width, layout_.client_height, style, ex_style, dpi);
}

void DialogControls::Create(HWND dialog, HINSTANCE instance) {
  dialog_ = dialog;
  windows_.assign(form_.controls.size(), nullptr);
  for (std::size_t i = 0; i < form_.controls.size(); ++i) {
    const FormControl& control = form_.controls[i];
    const ControlClass kind = ClassOf(control);
    if (kind.name == nullptr) {
      continue;  // drawn by the dialog
    }
    const LayoutBox& box = layout_.boxes[i];
    const DWORD style = WS_CHILD | WS_VISIBLE | kind.style | (control.disabled ? WS_DISABLED : 0);
    HWND window = CreateWindowExW(
        0, kind.name, WideChars(control.text), style, box.x, box.y, box.width, WindowHeight(control, box), dialog,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (window == nullptr) {
      continue;
    }
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    if (control.kind == ControlKind::NumberEdit) {
      // ES_NUMBER keeps letters out of typing only, not of a paste.
      SendMessageW(window, EM_SETLIMITTEXT, kPortEditMaxDigits, 0);
    }
    for (const std::u16string& entry : control.entries) {
      SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideChars(entry)));
    }
    windows_[i] = window;
  }
}

void DialogControls::LayOutAgain(std::uint32_t dpi, const RECT* suggested) {
  if (dialog_ == nullptr) {
    return;
  }
  // Windows suggests the old size scaled; the text may not scale so, and the
  // size the controls need is the one that counts.
  const SIZE outer = LayOut(dpi, TitleOf(dialog_), static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE)),
                            static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE)));
  for (std::size_t i = 0; i < windows_.size(); ++i) {
    if (windows_[i] == nullptr) {
      continue;
    }
    const LayoutBox& box = layout_.boxes[i];
    SendMessageW(windows_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    SetWindowPos(windows_[i], nullptr, box.x, box.y, box.width, WindowHeight(form_.controls[i], box),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT now{};
  GetWindowRect(dialog_, &now);
  const POINT corner =
      suggested != nullptr ? POINT{suggested->left, suggested->top} : POINT{now.left, now.top};
  SetWindowPos(dialog_, nullptr, corner.x, corner.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  // Every control drawn again in its new font, also one whose place stayed.
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool DialogControls::HandleLayoutChange(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DPICHANGED) {
    // Moved to a monitor of another DPI, or the DPI changed.
    LayOutAgain(HIWORD(wparam) != 0 ? HIWORD(wparam) : kDesignDpi, reinterpret_cast<const RECT*>(lparam));
    return true;
  }
  if (message == WM_SETTINGCHANGE && font_.Outdated(DialogDpi(dialog_))) {
    // The text size changed, and the message font with it. (Which setting
    // the message names differs between versions of Windows; the font is
    // what counts.)
    LayOutAgain(DialogDpi(dialog_), nullptr);
    return true;
  }
  return false;
}

void DialogControls::SetText(int id, std::u16string text) {
  for (std::size_t i = 0; i < form_.controls.size(); ++i) {
    FormControl& control = form_.controls[i];
    if (control.id != id || control.text == text) {
      continue;
    }
    control.text = std::move(text);
    if (i < windows_.size() && windows_[i] != nullptr) {
      SetWindowTextW(windows_[i], WideChars(control.text));
    }
    if (control.kind == ControlKind::Paragraph && dialog_ != nullptr) {
      LayOutAgain(DialogDpi(dialog_), nullptr);
    }
    return;
  }
}

LayoutBox DialogControls::BoxOf(int id) const {
  for (std::size_t i = 0; i < form_.controls.size() && i < layout_.boxes.size(); ++i) {
    if (form_.controls[i].id == id) {
      return layout_.boxes[i];
    }
  }
  return {};
}

namespace {

// The letter after the single "&" of a label's text, or 0.
wchar_t AccessKeyOf(HWND label) {
  wchar_t text[128] = {};
  const int length = GetWindowTextW(label, text, static_cast<int>(std::size(text)));
  for (int i = 0; i + 1 < length; ++i) {
    if (text[i] == L'&') {
      if (text[i + 1] != L'&') {
        return text[i + 1];
      }
      ++i;  // "&&" shows one "&"
    }
  }
  return 0;
}

// A label's access key moves the focus to its field, the first tab stop
// after it, as in any Windows dialog. IsDialogMessageW only finds the label
// and asks the dialog to move on with WM_NEXTDLGCTL, which only the dialog
// manager's own window procedure carries out, so a plain window does it here.
// Without Alt the letter counts only where the focused control takes no
// characters. Buttons and check boxes are left to IsDialogMessageW, which
// clicks them.
bool MoveFocusByAccessKey(HWND dialog, const MSG& message) {
  if (message.message != WM_SYSCHAR && message.message != WM_CHAR) {
    return false;
  }
  if (message.hwnd != dialog && !IsChild(dialog, message.hwnd)) {
    return false;
  }
  if (message.message == WM_CHAR) {
    const LRESULT code =
        SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam, reinterpret_cast<LPARAM>(&message));
    if ((code & (DLGC_WANTCHARS | DLGC_WANTMESSAGE)) != 0) {
      return false;
    }
  }
  const auto key = static_cast<wint_t>(std::towupper(static_cast<wint_t>(message.wParam)));
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    wchar_t name[16] = {};
    GetClassNameW(child, name, static_cast<int>(std::size(name)));
    if (_wcsicmp(name, L"Static") != 0 || (style & WS_VISIBLE) == 0 || (style & SS_NOPREFIX) != 0) {
      continue;
    }
    const wchar_t access = AccessKeyOf(child);
    if (access == 0 || static_cast<wint_t>(std::towupper(static_cast<wint_t>(access))) != key) {
      continue;
    }
    for (HWND field = GetWindow(child, GW_HWNDNEXT); field != nullptr;
         field = GetWindow(field, GW_HWNDNEXT)) {
      const LONG_PTR field_style = GetWindowLongPtrW(field, GWL_STYLE);
      if ((field_style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
        SetFocus(field);
        if ((SendMessageW(field, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
          SendMessageW(field, EM_SETSEL, 0, -1);
        }
        return true;
      }
    }
    return true;  // a label with nothing to go to: the key is still its
  }
  return false;
}

}  // namespace

bool RunDialogFrame(const DialogFrame& frame, DialogControls& controls, HWND owner, HINSTANCE instance,
                    void* create_param) {
  const SIZE outer = controls.LayOut(DialogDpi(owner), frame.title, kDialogStyle, kDialogExStyle);
  const DialogPlacement placement = PlaceDialogFor(owner, outer.cx, outer.cy);
  if (placement.disable_owner) {
    EnableWindow(owner, FALSE);
  }
  HWND dialog = CreateWindowExW(kDialogExStyle, frame.class_name, frame.title, kDialogStyle,
                                placement.window.x, placement.window.y, placement.window.width,
                                placement.window.height, owner, nullptr, instance, create_param);
  if (dialog == nullptr) {
    if (placement.disable_owner) {
      EnableWindow(owner, TRUE);
    }
    return false;
  }
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  SetForegroundWindow(dialog);
  FocusFirstControl(dialog);

  // Every message of the thread passes here while the dialog is open, so the
  // host window, the tray, UI tasks and the overlay's timer keep working.
  MSG message{};
  bool quit = false;
  while (IsWindow(dialog)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      break;
    }
    if (got == -1) {
      break;
    }
    if (MoveFocusByAccessKey(dialog, message)) {
      continue;
    }
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // Left early: the window still points at the caller's state, which is about
  // to go out of scope, so it must not outlive this call.
  if (IsWindow(dialog)) {
    DestroyWindow(dialog);
  }
  if (quit) {
    PostQuitMessage(static_cast<int>(message.wParam));
  }
  return true;
}

void FocusFirstControl(HWND dialog) {
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  if (first == nullptr) {
    return;
  }
  SetFocus(first);
  // As Tab does: what is typed replaces the value.
  if ((SendMessageW(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
    SendMessageW(first, EM_SETSEL, 0, -1);
  }
}

bool KeepFocusAcrossActivation(HWND dialog, WPARAM wparam, HWND& saved) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    saved = focus != nullptr && IsChild(dialog, focus) ? focus : nullptr;
    return false;
  }
  if (saved != nullptr && IsWindow(saved) && IsChild(dialog, saved)) {
    SetFocus(saved);
    return true;
  }
  return false;
}

bool ParsePortText(HWND edit, std::int32_t& out) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  wchar_t buffer[kPortTextMaxUnits + 1] = {};
  const int length = GetWindowTextW(edit, buffer, static_cast<int>(std::size(buffer)));
  const std::u16string_view text(reinterpret_cast<const char16_t*>(buffer),
                                 static_cast<std::size_t>(length > 0 ? length : 0));
  return ParsePortText(text, out);
}

bool ReadListenPortOrWarn(HWND dialog, HWND edit, std::int32_t& port) {
  std::int32_t value = 0;
  if (ParsePortText(edit, value) && IsListenPort(value)) {
    port = value;
    return true;
  }
  MessageBoxW(dialog, AsWide(PortWarningText()).c_str(), kProductName, MB_OK | MB_ICONWARNING);
  SelectEditText(edit);
  return false;
}

void SelectEditText(HWND edit) {
  // Gone with its dialog while the box was open (the program was closed).
  if (edit == nullptr || !IsWindow(edit)) {
    return;
  }
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
}

bool IsChecked(HWND check_box) { return SendMessageW(check_box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void ReleaseOwner(HWND owner) {
  if (owner != nullptr && IsWindow(owner)) {
    EnableWindow(owner, TRUE);
  }
}

ConfigDialog::ConfigDialog(HINSTANCE instance, HWND owner, const AppConfig& current, ControlIds ids,
                           Form form, PortTrial try_port)
    : instance_(instance),
      owner_(owner),
      ids_(ids),
      try_port_(std::move(try_port)),
      working_(current),
      controls_(std::move(form)) {}

bool ConfigDialog::RunModal(const DialogFrame& frame, std::atomic<bool>& registered, AppConfig* result) {
  RegisterDialogClass(registered, instance_, frame.class_name, &ConfigDialog::WindowProc);
  if (!RunDialogFrame(frame, controls_, owner_, instance_, this)) {
    return false;
  }
  if (!accepted_ || result == nullptr) {
    return false;
  }
  *result = working_;
  return true;
}

void ConfigDialog::Confirm() {
  std::int32_t port = 0;
  const HWND edit = GetDlgItem(window(), ids_.port_edit);
  if (!ReadListenPortOrWarn(window(), edit, port)) {
    return;  // the dialog stays as the user left it
  }
  // Told here, while the user can still pick another, not after the dialog
  // closed on a port nothing listens on.
  if (try_port_ && !try_port_(port)) {
    if (IsWindow(edit)) {
      MessageBoxW(window(), AsWide(DialogPortTakenText(port)).c_str(), kProductName, MB_OK | MB_ICONWARNING);
    }
    SelectEditText(edit);
    return;
  }
  if (window() == nullptr) {
    return;  // destroyed meanwhile: the program is closing
  }
  TakeControls(port, working_);
  accepted_ = true;
  DestroyWindow(window());
}

void ConfigDialog::Close() {
  accepted_ = false;
  DestroyWindow(window());
}

LRESULT ConfigDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      controls_.Create(window(), instance_);
      FillControls();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      if (HandleCommand(id, HIWORD(wparam))) {
        return 0;
      }
      if (id == ids_.confirm) {
        Confirm();
      } else if (id == ids_.cancel || id == IDCANCEL) {  // IDCANCEL: Esc, through IsDialogMessageW
        Close();
      }
      return 0;
    }
    case DM_GETDEFID:
      // Enter, through IsDialogMessageW, presses the default button as it
      // does in any Windows dialog.
      return MAKELRESULT(ids_.confirm, DC_HASDEFID);
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) {
        Activated();
      }
      if (KeepFocusAcrossActivation(window(), wparam, focus_)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
      if (controls_.HandleLayoutChange(message, wparam, lparam)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      controls_.Release();
      ReleaseOwner(owner_);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

namespace detail {
void SetDialogDpiForTest(std::uint32_t dpi) { g_dpi_for_test = dpi; }
}  // namespace detail

}  // namespace lumora
