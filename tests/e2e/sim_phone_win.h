#pragma once

// The phone simulator on a thread of its own, and what the end-to-end tests
// do to the program's dialogs from outside.

#include <windows.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/phone_sim/session.h"

namespace lumora::testing {

struct SimResult {
  int status = -1;
  std::string transcript;
};

// Runs the phone simulator on a thread of its own, so that the test's thread
// can keep the probe window's messages flowing.
class Phone {
 public:
  Phone(std::vector<std::string> args, std::string script = "")
      : thread_([this, args = std::move(args), script = std::move(script)] {
          std::istringstream in(script);
          std::ostringstream out;
          std::ostringstream err;
          result_.status = RunPhoneSim(args, in, out, err);
          result_.transcript = out.str() + err.str();
          done_ = true;
        }) {}
  ~Phone() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  bool done() const { return done_; }
  const SimResult& Wait() {
    thread_.join();
    return result_;
  }

 private:
  SimResult result_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// What a click on the dialog's button tells the dialog. (BM_CLICK from
// another process needs the mouse capture, which a busy Wine desktop may not
// give.)
inline void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Asked of the control itself: GetWindowText from another process returns
// only the text the control was created with.
inline std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[256] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                      5000, &copied);
  return text;
}

}  // namespace lumora::testing
