#include "base/gdiplus_win.h"

#include <objidl.h>

#include <gdiplus.h>

namespace lumora {

GdiplusSession::GdiplusSession() {
  // Version 1, no debug callback, GDI+'s own background thread.
  const Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    token_ = token;
  }
}

GdiplusSession::~GdiplusSession() {
  if (token_ != 0) {
    Gdiplus::GdiplusShutdown(token_);
  }
}

}  // namespace lumora
