#pragma once

// GDI+ for the life of its owner: the host holds one for the whole run, a
// test program or a tool holds one in main. Everything that draws with GDI+
// (the overlay, the contact picture) runs inside that lifetime.

#include <windows.h>

namespace lumora {

class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  // False when GdiplusStartup failed; drawing then fails call by call with
  // GDI+'s own status, which every caller already handles.
  bool started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace lumora
