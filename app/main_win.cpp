#include <windows.h>

#include <exception>
#include <string>

#include "app/win32_app_win.h"
#include "base/scoped_win.h"
#include "log/log.h"

namespace {

constexpr wchar_t kSingleInstanceMutex[] = L"Local\\Lumora.Parlino.SingleInstance";

void LogError(const std::string& message) { lumora::Log(lumora::LogLevel::Error, "APP", message); }

// The running copy's host window may still be in the making (it was started
// a moment ago): looked for during up to 2 s.
void ShowRunningCopy() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (HWND running = FindWindowW(lumora::kHostWindowClass, nullptr)) {
      DWORD process_id = 0;
      GetWindowThreadProcessId(running, &process_id);
      AllowSetForegroundWindow(process_id);
      PostMessageW(running, lumora::kShowConnectionInfoMessage, 0, 0);
      return;
    }
    Sleep(100);
  }
}

}  // namespace

// The program takes no command-line arguments; only the instance is used.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  // "Local\" scopes the name to this logon session: another user, or a
  // remote-desktop logon, runs a copy of its own.
  const lumora::ScopedHandle mutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutex));
  if (!mutex.valid()) {
    LogError("main: CreateMutex failed");
    return 1;
  }
  // Not the owner then: the handle is only closed. The user who starts the
  // program again is looking for it: the running copy shows its connection
  // box, brought to the front with the right this process has now.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    lumora::Log(lumora::LogLevel::Debug, "APP", "main: another Parlino instance already running");
    ShowRunningCopy();
    return 0;
  }

  int result = 1;
  try {
    lumora::Log(lumora::LogLevel::Warn, "APP", "Parlino starting");
    lumora::Win32App app(instance);
    result = app.Run();
    lumora::Log(lumora::LogLevel::Warn, "APP", "Parlino exit");
  } catch (const std::exception& error) {
    LogError(std::string("main: fatal: ") + error.what());
    result = 1;
  } catch (...) {
    LogError("main: fatal (unknown exception)");
    result = 1;
  }
  // The wrapper only closes the handle; the ownership taken at creation is
  // given up first.
  ReleaseMutex(mutex.get());
  return result;
}
