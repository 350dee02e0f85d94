#pragma once

// One small owner per kind of Windows handle. Each releases its handle in the
// destructor and cannot be copied.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <utility>

namespace lumora {

// Memory that a shell or COM call allocated with CoTaskMemAlloc.
template <typename T>
class ScopedCoTaskMem {
 public:
  ScopedCoTaskMem() = default;
  ScopedCoTaskMem(const ScopedCoTaskMem&) = delete;
  ScopedCoTaskMem& operator=(const ScopedCoTaskMem&) = delete;
  ~ScopedCoTaskMem() { CoTaskMemFree(ptr_); }

  T* get() const { return ptr_; }
  // For out-parameters; frees what was held first.
  T** Receive() {
    CoTaskMemFree(ptr_);
    ptr_ = nullptr;
    return &ptr_;
  }

 private:
  T* ptr_ = nullptr;
};

// A kernel object handle (mutex, event, process, file). Null and
// INVALID_HANDLE_VALUE both mean "none".
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) {
      CloseHandle(handle_);
    }
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A desktop from OpenInputDesktop or OpenDesktop, closed with CloseDesktop.
// Not for GetThreadDesktop's handle, which must never be closed.
class ScopedDesktop {
 public:
  explicit ScopedDesktop(HDESK desktop) : desktop_(desktop) {}
  ScopedDesktop(const ScopedDesktop&) = delete;
  ScopedDesktop& operator=(const ScopedDesktop&) = delete;
  ~ScopedDesktop() {
    if (desktop_ != nullptr) {
      CloseDesktop(desktop_);
    }
  }

  HDESK get() const { return desktop_; }

 private:
  HDESK desktop_ = nullptr;
};

// An open registry key.
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  ~ScopedRegKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }

  HKEY get() const { return key_; }
  // For out-parameters; closes what was held first.
  HKEY* Receive() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
      key_ = nullptr;
    }
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

// An open clipboard (OpenClipboard succeeded); closed when it goes out of
// scope.
class ScopedClipboard {
 public:
  ScopedClipboard() = default;
  ScopedClipboard(const ScopedClipboard&) = delete;
  ScopedClipboard& operator=(const ScopedClipboard&) = delete;
  ~ScopedClipboard() { CloseClipboard(); }
};

// A device context from GetDC (of a window, or of the screen for null),
// given back with ReleaseDC.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  ~ScopedGetDC() {
    if (dc_ != nullptr) {
      ReleaseDC(window_, dc_);
    }
  }

  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class ScopedMemoryDC {
 public:
  ScopedMemoryDC() = default;
  explicit ScopedMemoryDC(HDC dc) : dc_(dc) {}
  ScopedMemoryDC(const ScopedMemoryDC&) = delete;
  ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
  ~ScopedMemoryDC() { Reset(); }

  HDC get() const { return dc_; }
  void Reset(HDC dc = nullptr) {
    if (dc_ != nullptr) {
      DeleteDC(dc_);
    }
    dc_ = dc;
  }

 private:
  HDC dc_ = nullptr;
};

// A GDI object (bitmap, brush, pen, font) deleted with DeleteObject. It must
// not be selected into a device context by then (see ScopedSelectObject).
template <typename T>
class ScopedGdiObject {
 public:
  ScopedGdiObject() = default;
  explicit ScopedGdiObject(T object) : object_(object) {}
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
  ~ScopedGdiObject() { Reset(); }

  T get() const { return object_; }
  void Reset(T object = nullptr) {
    if (object_ != nullptr) {
      DeleteObject(object_);
    }
    object_ = object;
  }

 private:
  T object_ = nullptr;
};

// An object selected into a device context; the object it replaced is
// selected back at the end, so that the device context and the object can
// both be deleted.
class ScopedSelectObject {
 public:
  ScopedSelectObject() = default;
  ScopedSelectObject(HDC dc, HGDIOBJ object) { Select(dc, object); }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() { Restore(); }

  // Restores any earlier selection first. False if SelectObject failed.
  bool Select(HDC dc, HGDIOBJ object) {
    Restore();
    HGDIOBJ previous = SelectObject(dc, object);
    if (previous == nullptr || previous == HGDI_ERROR) {
      return false;
    }
    dc_ = dc;
    previous_ = previous;
    return true;
  }
  void Restore() {
    if (dc_ != nullptr) {
      SelectObject(dc_, previous_);
    }
    dc_ = nullptr;
    previous_ = nullptr;
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// A COM interface pointer (an IStream from SHCreateMemStream, say), released
// at the end.
template <typename T>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  explicit ScopedComPtr(T* ptr) : ptr_(ptr) {}
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;
  ~ScopedComPtr() {
    if (ptr_ != nullptr) {
      ptr_->Release();
    }
  }

  T* get() const { return ptr_; }

 private:
  T* ptr_ = nullptr;
};

// The painting of one WM_PAINT, BeginPaint to EndPaint.
class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  ~ScopedPaint() { EndPaint(window_, &paint_); }

  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// A window that its creator destroys when done with it (test windows, mostly;
// the program's own windows are destroyed by their owners' logic).
class ScopedWindow {
 public:
  ScopedWindow() = default;
  explicit ScopedWindow(HWND window) : window_(window) {}
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;
  ~ScopedWindow() {
    if (window_ != nullptr && IsWindow(window_)) {
      DestroyWindow(window_);
    }
  }

  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// A menu from CreatePopupMenu or CreateMenu, destroyed with DestroyMenu,
// which destroys its submenus with it. A menu attached to another with
// MF_POPUP belongs to that one from then on: Release it once AppendMenuW has
// succeeded, and not before, so that a failed attach still destroys it. Can
// be moved, so that a function can hand a built menu to its caller.
class ScopedMenu {
 public:
  ScopedMenu() = default;
  explicit ScopedMenu(HMENU menu) : menu_(menu) {}
  ScopedMenu(ScopedMenu&& other) noexcept : menu_(other.Release()) {}
  ScopedMenu& operator=(ScopedMenu&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ScopedMenu(const ScopedMenu&) = delete;
  ScopedMenu& operator=(const ScopedMenu&) = delete;
  ~ScopedMenu() { Reset(); }

  HMENU get() const { return menu_; }
  HMENU Release() { return std::exchange(menu_, nullptr); }
  void Reset(HMENU menu = nullptr) {
    if (menu_ != nullptr && menu_ != menu) {
      DestroyMenu(menu_);
    }
    menu_ = menu;
  }

 private:
  HMENU menu_ = nullptr;
};

// An icon this program owns (LoadIconMetric, LoadImageW without LR_SHARED,
// CopyIcon), destroyed with DestroyIcon. Not for shared icons.
class ScopedIcon {
 public:
  ScopedIcon() = default;
  explicit ScopedIcon(HICON icon) : icon_(icon) {}
  ScopedIcon(const ScopedIcon&) = delete;
  ScopedIcon& operator=(const ScopedIcon&) = delete;
  ~ScopedIcon() { Reset(); }

  HICON get() const { return icon_; }
  void Reset(HICON icon = nullptr) {
    if (icon_ != nullptr && icon_ != icon) {
      DestroyIcon(icon_);
    }
    icon_ = icon;
  }

 private:
  HICON icon_ = nullptr;
};

// Global memory from GlobalAlloc, freed with GlobalFree unless it was handed
// on: a successful SetClipboardData makes the block the clipboard's, so
// Release it then.
class ScopedGlobal {
 public:
  explicit ScopedGlobal(HGLOBAL block) : block_(block) {}
  ScopedGlobal(const ScopedGlobal&) = delete;
  ScopedGlobal& operator=(const ScopedGlobal&) = delete;
  ~ScopedGlobal() {
    if (block_ != nullptr) {
      GlobalFree(block_);
    }
  }

  HGLOBAL get() const { return block_; }
  HGLOBAL Release() { return std::exchange(block_, nullptr); }

 private:
  HGLOBAL block_ = nullptr;
};

// A C stream (from _wfsopen), closed with fclose.
class ScopedFile {
 public:
  explicit ScopedFile(std::FILE* file) : file_(file) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }

  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_ = nullptr;
};

// A module from LoadLibrary or LoadLibraryEx (also one loaded as a data file
// to read its resources), freed with FreeLibrary.
class ScopedModule {
 public:
  ScopedModule() = default;
  explicit ScopedModule(HMODULE module) : module_(module) {}
  ScopedModule(const ScopedModule&) = delete;
  ScopedModule& operator=(const ScopedModule&) = delete;
  ~ScopedModule() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }

  HMODULE get() const { return module_; }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace lumora
