#pragma once

// Plays the user at a dialog from inside the dialog's own modal loop. The
// dialogs run their loops on the calling thread, so the test cannot act
// between "open" and "closed" from outside: a thread timer ticks in whatever
// loop is running (the dialog's, or a message box's) and performs the
// script's steps in order.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace lumora::testing {

// A top-level window of this thread with the class (and title, if given).
HWND FindThreadWindow(const wchar_t* class_name, const wchar_t* title = nullptr);

// The message box that a dialog on this thread shows (class "#32770",
// captioned with the product name), or null.
HWND FindMessageBox();

std::wstring WindowText(HWND window);
// The texts of a window's children, one after the other: a message box's
// message is in one of them.
std::wstring ChildTexts(HWND window);
std::wstring ClassOf(HWND window);

// Steps performed one per timer tick. A step returns false while what it
// waits for is not there yet (it runs again at the next tick) and true when
// it is done.
class DialogScript {
 public:
  using Step = std::function<bool()>;

  DialogScript() = default;
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  DialogScript& Then(std::string name, Step step);
  // Waits for the dialog of `class_name` to be open and remembers it.
  DialogScript& WaitForDialog(const wchar_t* class_name);
  // Acts on the control `id` of the remembered dialog, as the user would.
  DialogScript& SetText(int id, const std::wstring& text);
  DialogScript& Click(int id);
  DialogScript& SetChecked(int id, bool checked);
  DialogScript& PickEntry(int id, int index);
  // A mouse click on row `row` of the list box `id`: the list selects it and
  // tells the dialog, as for the user's click.
  DialogScript& ClickRow(int id, int row);
  // A key press arriving at the dialog window, as the keyboard's would.
  DialogScript& PressKey(WPARAM virtual_key);
  // Puts the focus in the control `id`, then presses Enter there.
  DialogScript& PressEnterIn(int id);
  // The title bar's close box.
  DialogScript& CloseBox();
  // Waits for the port warning, checks its text and owner, dismisses it and
  // waits until it is gone.
  DialogScript& DismissPortWarning();
  // Runs `check` (for EXPECTs) once, at this point of the script.
  DialogScript& Check(std::function<void()> check);

  // Starts the timer; the steps run once a loop of this thread dispatches.
  void Start();
  bool finished() const { return !gave_up_ && next_ == steps_.size(); }
  // What went wrong: a step that never came true in time. The script then
  // closes what is open, so that the dialog's Run returns.
  const std::string& failure() const { return failure_; }
  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  void Tick();
  void GiveUp();

  std::vector<Step> steps_;
  std::vector<std::string> names_;
  std::size_t next_ = 0;
  HWND dialog_ = nullptr;
  const wchar_t* dialog_class_ = nullptr;
  UINT_PTR timer_ = 0;
  bool in_tick_ = false;
  bool gave_up_ = false;
  std::string failure_;
  std::chrono::steady_clock::time_point step_started_{};
};

}  // namespace lumora::testing
