#include "ui/contact_feedback_dialog_win.h"

#include <windows.h>

#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>

#include <atomic>
#include <climits>

#include "base/resource.h"
#include "base/scoped_win.h"

namespace lumora {

namespace {

constexpr DialogFrame kContactFrame{kContactDialogClass, L"Lumora语音输入 - 联系作者 & 问题反馈"};

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
    : instance_(instance), owner_(owner), controls_(ContactForm()) {}

ContactFeedbackDialog::~ContactFeedbackDialog() = default;

bool ContactFeedbackDialog::Run(HWND owner, HINSTANCE instance) {
  static std::atomic<bool> registered{false};
  RegisterDialogClass(registered, instance, kContactDialogClass, &ContactFeedbackDialog::WindowProc);
  ContactFeedbackDialog dialog(instance, owner);
  return RunDialogFrame(kContactFrame, dialog.controls_, owner, instance, &dialog);
}

void ContactFeedbackDialog::Paint() {
  const ScopedPaint paint(window());
  const LayoutBox box = controls_.BoxOf(kContactPictureId);
  if (image_ == nullptr || box.width < 1 || paint.dc() == nullptr) {
    return;
  }
  Gdiplus::Graphics graphics(paint.dc());
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.DrawImage(image_.get(), box.x, box.y, box.width, box.height);
}

LRESULT ContactFeedbackDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      controls_.Create(window(), instance_);
      image_ = detail::LoadContactImage(instance_);
      return 0;
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
      if (controls_.HandleLayoutChange(message, wparam, lparam)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case WM_PAINT:
      Paint();
      return 0;
    case DM_GETDEFID:
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
      controls_.Release();
      ReleaseOwner(owner_);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

}  // namespace lumora
