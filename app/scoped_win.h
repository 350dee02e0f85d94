#pragma once

// One small owner per kind of Windows handle. Each releases its handle in the
// destructor and cannot be copied.

#include <windows.h>

#include <objbase.h>

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

// An open clipboard (OpenClipboard succeeded); closed when it goes out of
// scope.
class ScopedClipboard {
 public:
  ScopedClipboard() = default;
  ScopedClipboard(const ScopedClipboard&) = delete;
  ScopedClipboard& operator=(const ScopedClipboard&) = delete;
  ~ScopedClipboard() { CloseClipboard(); }
};

}  // namespace lumora
