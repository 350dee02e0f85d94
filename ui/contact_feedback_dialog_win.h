#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace Gdiplus {
class Bitmap;
}

namespace lumora {

inline constexpr wchar_t kContactDialogClass[] = L"Parlino.ContactFeedbackDialog";

// The contact picture: RCDATA 103 of the program, a square PNG.

// A line asking the user to scan the code below it, the contact picture and
// a close button. Changes no settings.
class ContactFeedbackDialog final : public WindowOwner<ContactFeedbackDialog> {
 public:
  // Shows the dialog; true once it has been shown and closed, false when the
  // window could not be created.
  static bool Run(HWND owner, HINSTANCE instance);

  ~ContactFeedbackDialog();
  ContactFeedbackDialog(const ContactFeedbackDialog&) = delete;
  ContactFeedbackDialog& operator=(const ContactFeedbackDialog&) = delete;

 private:
  friend class WindowOwner<ContactFeedbackDialog>;
  ContactFeedbackDialog(HINSTANCE instance, HWND owner);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Paint();

  HINSTANCE instance_;
  HWND owner_;
  DialogControls controls_;
  HWND focus_ = nullptr;                    // the control that had the focus when the window was left
  std::unique_ptr<Gdiplus::Bitmap> image_;  // decoded when the dialog opens, released when it closes
};

namespace detail {
// A bitmap decoded from PNG (or any format GDI+ reads) bytes; null when the
// bytes do not decode.
std::unique_ptr<Gdiplus::Bitmap> DecodeImage(const void* bytes, std::size_t size);
// The contact picture of `instance`, decoded; null when the module has none or
// it does not decode.
std::unique_ptr<Gdiplus::Bitmap> LoadContactImage(HINSTANCE instance);
}  // namespace detail

}  // namespace lumora
