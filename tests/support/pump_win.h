#pragma once

// Waiting in a test for what this thread's windows bring about: their
// messages have to keep flowing meanwhile.

#include <windows.h>

#include <chrono>

namespace lumora::testing {

// Dispatches this thread's messages until `done` or the time-out; true when
// `done` came true.
template <typename Done>
bool PumpMessagesUntil(Done&& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    Sleep(5);
  }
}

}  // namespace lumora::testing
