#include <windows.h>

#include <exception>
#include <string>

#include "app/log.h"
#include "app/win32_app_win.h"

namespace {

constexpr wchar_t kSingleInstanceMutex[] = L"Local\\Lumora.Parlino.SingleInstance";

void LogError(const std::string& message) { lumora::Log(lumora::LogLevel::Error, "APP", message); }

}  // namespace

// The program takes no command-line arguments; only the instance is used.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  // "Local\" scopes the name to this logon session: another user, or a
  // remote-desktop logon, runs a copy of its own.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kSingleInstanceMutex);
  if (mutex == nullptr) {
    LogError("main: CreateMutex failed");
    return 1;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    lumora::Log(lumora::LogLevel::Debug, "APP", "main: another Parlino instance already running");
    CloseHandle(mutex);
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
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return result;
}
