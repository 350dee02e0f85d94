#include "ui/dialog_frame_win.h"

#include <optional>
#include <string_view>

#include "base/product.h"
#include "overlay/dpi_win.h"
#include "ui/dialog_layout.h"
#include "ui/port_text.h"

namespace lumora {

namespace {

std::atomic<std::uint32_t> g_dpi_for_test{0};

using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

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

void DialogFont::Create(std::uint32_t dpi) {
  Reset();
  // The size Windows Vista and later expect, padded border width included.
  static_assert(sizeof(NONCLIENTMETRICSW) == 504);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  static const auto for_dpi = reinterpret_cast<SystemParametersInfoForDpiFn>(
      reinterpret_cast<void*>(User32Proc("SystemParametersInfoForDpi")));
  bool have_metrics = false;
  if (for_dpi != nullptr) {
    have_metrics = for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE;
  }
  if (!have_metrics) {
    have_metrics = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != FALSE;
  }
  if (have_metrics) {
    owned_.Reset(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  font_ = owned_.get() != nullptr ? owned_.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
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

bool RunDialogFrame(const DialogFrame& frame, HWND owner, HINSTANCE instance, void* create_param) {
  const std::uint32_t dpi = DialogDpi(owner);
  const DialogPlacement placement =
      PlaceDialogFor(owner, ScaleForDpi(frame.design_width, dpi), ScaleForDpi(frame.design_height, dpi));
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

HWND CreateDialogControl(HWND dialog, HINSTANCE instance, const ControlDesign& design, std::uint32_t dpi,
                         HFONT font) {
  // Every control that takes input is a tab stop; the order of creation,
  // which is reading order, is the order of Tab. A label is not, but its
  // mnemonic moves the focus to the control created after it, which also
  // takes the label's text as its accessible name.
  // A list without selection is there to be read, as a label is.
  const auto is = [&](const wchar_t* name) {
    return CompareStringOrdinal(design.class_name, -1, name, -1, TRUE) == CSTR_EQUAL;
  };
  const bool read_only = is(L"STATIC") || (is(L"LISTBOX") && (design.style & LBS_NOSEL) != 0);
  const DWORD style = WS_CHILD | WS_VISIBLE | design.style | (read_only ? 0 : WS_TABSTOP);
  HWND control = CreateWindowExW(0, design.class_name, design.text, style, ScaleForDpi(design.x, dpi),
                                 ScaleForDpi(design.y, dpi), ScaleForDpi(design.width, dpi),
                                 ScaleForDpi(design.height, dpi), dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), instance, nullptr);
  if (control != nullptr) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    // The design, kept for a change of DPI (the designs are static; the
    // standard controls leave their user data to the application).
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&design));
  }
  return control;
}

void ApplyDpiChange(HWND dialog, std::uint32_t dpi, HFONT font, const RECT* suggested) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (const auto* design =
            reinterpret_cast<const ControlDesign*>(GetWindowLongPtrW(child, GWLP_USERDATA))) {
      SetWindowPos(child, nullptr, ScaleForDpi(design->x, dpi), ScaleForDpi(design->y, dpi),
                   ScaleForDpi(design->width, dpi), ScaleForDpi(design->height, dpi),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (suggested != nullptr) {
    SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(dialog, nullptr, TRUE);
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
  MessageBoxW(dialog, kPortWarningText, kProductName, MB_OK | MB_ICONWARNING);
  return false;
}

bool IsChecked(HWND check_box) { return SendMessageW(check_box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void ReleaseOwner(HWND owner) {
  if (owner != nullptr && IsWindow(owner)) {
    EnableWindow(owner, TRUE);
  }
}

ConfigDialog::ConfigDialog(HINSTANCE instance, HWND owner, const AppConfig& current, ControlIds ids)
    : instance_(instance), owner_(owner), ids_(ids), working_(current) {}

bool ConfigDialog::RunModal(const DialogFrame& frame, std::atomic<bool>& registered, AppConfig* result) {
  RegisterDialogClass(registered, instance_, frame.class_name, &ConfigDialog::WindowProc);
  if (!RunDialogFrame(frame, owner_, instance_, this)) {
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
  if (!ReadListenPortOrWarn(window(), GetDlgItem(window(), ids_.port_edit), port)) {
    return;  // the dialog stays as the user left it
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
    case WM_CREATE: {
      const std::uint32_t dpi = DialogDpi(window());
      font_.Create(dpi);
      CreateControls(dpi, font_.get());
      return 0;
    }
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
      if (KeepFocusAcrossActivation(window(), wparam, focus_)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI, or the DPI changed: a font for it,
      // every control at its designed place for it, and the size Windows
      // suggests.
      const std::uint32_t dpi = HIWORD(wparam) != 0 ? HIWORD(wparam) : kDesignDpi;
      font_.Create(dpi);
      ApplyDpiChange(window(), dpi, font_.get(), reinterpret_cast<const RECT*>(lparam));
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      font_.Reset();
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
