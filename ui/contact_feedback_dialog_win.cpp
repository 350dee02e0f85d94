#include "ui/contact_feedback_dialog_win.h"

#include <windows.h>

#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>

#include <atomic>
#include <climits>

#include "base/resource.h"
#include "base/scoped_win.h"
#include "overlay/dpi.h"

namespace lumora {

namespace {

constexpr DialogFrame kFrame{kContactDialogClass, L"Lumora语音输入 - 联系作者 & 问题反馈", 440, 496};

// Both start small at the corner; Layout puts them in place.
// clang-format off
constexpr ControlDesign kCaption{L"STATIC", kContactCaptionId, L"联系作者 · 问题反馈", 0, 0, 10, 10,
                                 SS_CENTER};
constexpr ControlDesign kClose{L"BUTTON", kContactCloseId, L"关闭", 0, 0, 10, 10, BS_DEFPUSHBUTTON};
// clang-format on

}  // namespace

namespace detail {

std::unique_ptr<Gdiplus::Bitmap> DecodeImage(const void* bytes, std::size_t size) {
  if (bytes == nullptr || size == 0 || size > UINT_MAX) {
    return nullptr;
  }
  // The stream holds a copy of the bytes; GDI+ keeps its own reference to it
  // for as long as the bitmap lives.
  const ScopedComPtr<IStream> stream(
      SHCreateMemStream(static_cast<const BYTE*>(bytes), static_cast<UINT>(size)));
  if (stream.get() == nullptr) {
    return nullptr;
  }
  auto bitmap = std::make_unique<Gdiplus::Bitmap>(stream.get());
  if (bitmap->GetLastStatus() != Gdiplus::Ok) {
    return nullptr;
  }
  return bitmap;
}

std::unique_ptr<Gdiplus::Bitmap> LoadContactImage(HINSTANCE instance) {
  // Resources of a module need no freeing: they live as long as the module.
  HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(IDR_CONTACT_IMAGE), RT_RCDATA);
  if (info == nullptr) {
    return nullptr;
  }
  HGLOBAL loaded = LoadResource(instance, info);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(instance, info);
  return DecodeImage(bytes, size);
}

}  // namespace detail

ContactFeedbackDialog::ContactFeedbackDialog(HINSTANCE instance, HWND owner)
    : instance_(instance), owner_(owner) {}

ContactFeedbackDialog::~ContactFeedbackDialog() = default;

bool ContactFeedbackDialog::Run(HWND owner, HINSTANCE instance) {
  static std::atomic<bool> registered{false};
  RegisterDialogClass(registered, instance, kContactDialogClass, &ContactFeedbackDialog::WindowProc);
  ContactFeedbackDialog dialog(instance, owner);
  return RunDialogFrame(kFrame, owner, instance, &dialog);
}

void ContactFeedbackDialog::Create() {
  font_.Create(DialogDpi(window()));
  image_ = detail::LoadContactImage(instance_);
  // Created at design size 10 x 10 at any DPI; Layout sizes them.
  CreateDialogControl(window(), instance_, kCaption, kDesignDpi, font_.get());
  CreateDialogControl(window(), instance_, kClose, kDesignDpi, font_.get());
  Layout();
}

void ContactFeedbackDialog::Layout() {
  RECT client{};
  GetClientRect(window(), &client);
  const ContactLayout layout = LayOutContactDialog(client.right, client.bottom, DialogDpi(window()));
  constexpr UINT kFlags = SWP_NOZORDER | SWP_NOACTIVATE;
  const auto place = [this](int id, const DialogBox& box) {
    if (HWND control = GetDlgItem(window(), id)) {
      SetWindowPos(control, nullptr, box.x, box.y, box.width, box.height, kFlags);
    }
  };
  place(kContactCaptionId, layout.caption);
  place(kContactCloseId, layout.close_button);
  image_x_ = layout.image_x;
  image_y_ = layout.image_y;
  image_size_ = layout.image_size;
  InvalidateRect(window(), nullptr, FALSE);
}

void ContactFeedbackDialog::Paint() {
  const ScopedPaint paint(window());
  if (image_ == nullptr || image_size_ < 1 || paint.dc() == nullptr) {
    return;
  }
  Gdiplus::Graphics graphics(paint.dc());
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.DrawImage(image_.get(), image_x_, image_y_, image_size_, image_size_);
}

LRESULT ContactFeedbackDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      Create();
      return 0;
    case WM_DPICHANGED: {
      // The layout follows the window's DPI at the next WM_SIZE, which the
      // suggested rectangle brings; the font is made for it first.
      const std::uint32_t dpi = HIWORD(wparam) != 0 ? HIWORD(wparam) : kDesignDpi;
      font_.Create(dpi);
      ApplyDpiChange(window(), dpi, font_.get(), reinterpret_cast<const RECT*>(lparam));
      Layout();
      return 0;
    }
    case WM_SIZE:
      // Safe before WM_CREATE too: controls not made yet are skipped, and
      // Create lays them out once they exist.
      Layout();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case DM_GETDEFID:
      // Enter closes, as Esc does: the window has nothing else to do.
      return MAKELRESULT(kContactCloseId, DC_HASDEFID);
    case WM_ACTIVATE:
      if (KeepFocusAcrossActivation(window(), wparam, focus_)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_COMMAND:
      if (LOWORD(wparam) == kContactCloseId || LOWORD(wparam) == IDCANCEL) {
        DestroyWindow(window());
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window());
      return 0;
    case WM_DESTROY:
      image_.reset();
      font_.Reset();
      ReleaseOwner(owner_);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

}  // namespace lumora
