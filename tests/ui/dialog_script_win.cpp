#include "tests/ui/dialog_script_win.h"

#include <gtest/gtest.h>

namespace lumora::testing {

namespace {

// Thread timers carry no user data: the one running script of the thread.
thread_local DialogScript* g_running = nullptr;

constexpr UINT kTickMs = 20;
// How long one step may wait for its window before the script gives up. A
// watchdog against a hang, not a measure of speed.
constexpr auto kStepPatience = std::chrono::seconds(20);

struct ThreadWindowSearch {
  const wchar_t* class_name;
  const wchar_t* title;
  HWND found;
};

}  // namespace

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(window, buffer, 1024);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

std::wstring ChildTexts(HWND window) {
  std::wstring texts;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        *reinterpret_cast<std::wstring*>(param) += WindowText(child) + L"|";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

HWND FindThreadWindow(const wchar_t* class_name, const wchar_t* title) {
  ThreadWindowSearch search{class_name, title, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<ThreadWindowSearch*>(param);
        if (ClassOf(window) == s->class_name && (s->title == nullptr || WindowText(window) == s->title)) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindMessageBox() { return FindThreadWindow(L"#32770", L"Lumora语音输入"); }

DialogScript::~DialogScript() {
  if (timer_ != 0) {
    KillTimer(nullptr, timer_);
  }
  if (g_running == this) {
    g_running = nullptr;
  }
}

DialogScript& DialogScript::Then(std::string name, Step step) {
  names_.push_back(std::move(name));
  steps_.push_back(std::move(step));
  return *this;
}

DialogScript& DialogScript::WaitForDialog(const wchar_t* class_name) {
  dialog_class_ = class_name;
  return Then("dialog opens", [this, class_name] {
    dialog_ = FindThreadWindow(class_name);
    return dialog_ != nullptr && IsWindowVisible(dialog_);
  });
}

DialogScript& DialogScript::SetText(int id, const std::wstring& text) {
  // WM_SETTEXT, as a paste would: ES_NUMBER only filters typed characters.
  return Then("set text", [this, id, text] { return SetWindowTextW(Control(id), text.c_str()) != FALSE; });
}

DialogScript& DialogScript::Click(int id) {
  // Posted, so that whatever the click opens (a message box) runs its loop
  // outside this step.
  return Then("click", [this, id] { return PostMessageW(Control(id), BM_CLICK, 0, 0) != FALSE; });
}

DialogScript& DialogScript::SetChecked(int id, bool checked) {
  return Then("tick", [this, id, checked] {
    const bool now = SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    // A click toggles an automatic check box, as the mouse does.
    if (now != checked) {
      SendMessageW(Control(id), BM_CLICK, 0, 0);
    }
    return true;
  });
}

DialogScript& DialogScript::PickEntry(int id, int index) {
  return Then("pick", [this, id, index] {
    return SendMessageW(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0) == index;
  });
}

DialogScript& DialogScript::ClickRow(int id, int row) {
  return Then("click a row", [this, id, row] {
    HWND list = Control(id);
    RECT item{};
    if (SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) ==
        LB_ERR) {
      return false;
    }
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    return true;
  });
}

DialogScript& DialogScript::PressKey(WPARAM virtual_key) {
  return Then("key", [this, virtual_key] {
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(virtual_key), MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
    HWND target = GetFocus() != nullptr ? GetFocus() : dialog_;
    PostMessageW(target, WM_KEYDOWN, virtual_key, down);
    PostMessageW(target, WM_KEYUP, virtual_key, up);
    return true;
  });
}

DialogScript& DialogScript::PressEnterIn(int id) {
  Then("focus the control", [this, id] {
    SetFocus(Control(id));
    return GetFocus() == Control(id);
  });
  return PressKey(VK_RETURN);
}

DialogScript& DialogScript::CloseBox() {
  return Then("close box", [this] { return PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; });
}

DialogScript& DialogScript::DismissPortWarning() {
  Then("warning opens", [this] {
    HWND box = FindMessageBox();
    if (box == nullptr || !IsWindowVisible(box)) {
      return false;
    }
    EXPECT_NE(ChildTexts(box).find(L"请输入 1024 到 65535 之间的 TCP 端口。"), std::wstring::npos)
        << "the box says something else";
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_) << "the box is not the dialog's";
    EXPECT_FALSE(IsWindowEnabled(dialog_)) << "the dialog takes input while the box is open";
    return PostMessageW(box, WM_COMMAND, IDOK, 0) != FALSE;
  });
  return Then("warning closes", [] { return FindMessageBox() == nullptr; });
}

DialogScript& DialogScript::Check(std::function<void()> check) {
  return Then("check", [check = std::move(check)] {
    check();
    return true;
  });
}

void DialogScript::Start() {
  g_running = this;
  step_started_ = std::chrono::steady_clock::now();
  timer_ = SetTimer(nullptr, 0, kTickMs, &DialogScript::OnTimer);
}

void CALLBACK DialogScript::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (g_running != nullptr) {
    g_running->Tick();
  }
}

void DialogScript::Tick() {
  // A step that sends a message can land in a nested loop that ticks again.
  if (in_tick_ || gave_up_ || next_ >= steps_.size()) {
    return;
  }
  in_tick_ = true;
  // One step per tick: timer messages come only when no posted message is
  // waiting, so whatever the previous step posted has been handled by now.
  if (steps_[next_]()) {
    ++next_;
    step_started_ = std::chrono::steady_clock::now();
  } else if (std::chrono::steady_clock::now() - step_started_ > kStepPatience) {
    GiveUp();
  }
  in_tick_ = false;
}

void DialogScript::GiveUp() {
  gave_up_ = true;
  failure_ = "step " + std::to_string(next_ + 1) + " (" + names_[next_] + ") never came true";
  if (HWND box = FindMessageBox()) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  HWND dialog =
      dialog_ != nullptr ? dialog_ : (dialog_class_ != nullptr ? FindThreadWindow(dialog_class_) : nullptr);
  if (dialog != nullptr) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }
}

}  // namespace lumora::testing
