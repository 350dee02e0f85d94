#pragma once

// Starts the real program in the bench's Wine prefix and watches it through
// its log file, its windows and its exit code.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "tests/support/log_messages.h"

namespace lumora::testing {

// The program's path as Windows sees it: the build passes the Linux path,
// which Wine shows on drive Z:.
inline std::wstring ProgramPath() {
  std::wstring path = L"Z:";
  for (const char c : std::string(PARLINO_PROGRAM_PATH)) {
    path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  }
  return path;
}

inline std::vector<std::string> ReadLogMessages() { return LogMessagesOf(LogDirectory() / kLogFileName); }

class ProgramRun {
 public:
  ProgramRun() = default;
  ~ProgramRun() {
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
      }
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Start() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + ProgramPath() + L"\"";
    return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process_) != 0;
  }

  // Waits until a log message contains `needle`.
  static bool WaitForLog(const std::string& needle,
                         std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const std::string& message : ReadLogMessages()) {
        if (message.find(needle) != std::string::npos) {
          return true;
        }
      }
      Sleep(20);
    }
    return false;
  }

  // The top-level windows of this process with the given class (and title,
  // if one is given).
  std::vector<HWND> WindowsOfClass(const wchar_t* class_name, const wchar_t* title = nullptr) const {
    struct Search {
      DWORD process_id;
      const wchar_t* class_name;
      const wchar_t* title;
      std::vector<HWND> found;
    } search{process_.dwProcessId, class_name, title, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t name[128] = {};
          GetClassNameW(window, name, 128);
          wchar_t text[128] = {};
          GetWindowTextW(window, text, 128);
          if (owner == s->process_id && std::wstring(name) == s->class_name &&
              (s->title == nullptr || std::wstring(text) == s->title)) {
            s->found.push_back(window);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND FindWindowOfClass(const wchar_t* class_name, const wchar_t* title = nullptr) const {
    const std::vector<HWND> found = WindowsOfClass(class_name, title);
    return found.empty() ? nullptr : found.front();
  }

  // Asks the program to quit as the tray's exit command does, and waits.
  bool Close(DWORD* exit_code) {
    HWND host = FindWindowOfClass(L"Parlino.Host");
    if (host == nullptr) {
      return false;
    }
    PostMessageW(host, WM_CLOSE, 0, 0);
    return WaitForExit(exit_code);
  }

  bool WaitForExit(DWORD* exit_code, DWORD timeout_ms = 15000) {
    if (WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0) {
      return false;
    }
    GetExitCodeProcess(process_.hProcess, exit_code);
    return true;
  }

  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

 private:
  PROCESS_INFORMATION process_{};
};

}  // namespace lumora::testing
