#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "base/window_proc_win.h"
#include "output/desktop.h"

namespace lumora {
namespace {

constexpr wchar_t kClipboardOwnerClass[] = L"Parlino.ClipboardOwner";

// The text as a clipboard block (CF_UNICODETEXT, with its terminating zero);
// null when it cannot be had.
HGLOBAL NewTextBlock(const std::u16string& text) {
  const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
  ScopedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (block.get() == nullptr) {
    return nullptr;
  }
  void* memory = GlobalLock(block.get());
  if (memory == nullptr) {
    return nullptr;
  }
  std::memcpy(memory, text.c_str(), bytes);
  GlobalUnlock(block.get());
  return block.Release();
}

// One empty-valued (DWORD 0) format of each registered name that keeps a
// text out of the clipboard history, the cloud clipboard and clipboard
// monitors, in the clipboard this thread has open. The format that excludes
// monitors may hold anything; the two "Can..." formats must hold a DWORD 0 to
// say no.
bool SetPrivacyMarkers() {
  for (const wchar_t* name : {L"ExcludeClipboardContentFromMonitorProcessing",
                              L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
    const UINT format = RegisterClipboardFormatW(name);
    if (format == 0) {
      return false;
    }
    ScopedGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD)));
    if (block.get() == nullptr) {
      return false;
    }
    if (SetClipboardData(format, block.get()) == nullptr) {
      return false;
    }
    block.Release();
  }
  return true;
}

// The process of a window; 0 for none.
DWORD ProcessOf(HWND window) {
  DWORD process_id = 0;
  if (window != nullptr) {
    GetWindowThreadProcessId(window, &process_id);
  }
  return process_id;
}

// What the output thread waits on, and what cuts every wait short at exit.
struct WaitSignals {
  std::mutex mutex;
  std::condition_variable changed;
  bool cancelled = false;  // guarded by mutex
};

// Owns the clipboard while a pasted text waits to be read. The text is put
// there unrendered, so the system asks this window for it (WM_RENDERFORMAT)
// at the moment a program reads it: that is how the output learns that the
// target has the text and the next item may take the clipboard. The window
// lives on a thread of its own that does nothing but answer, since a reader
// waits for the answer and the output thread sleeps between its steps.
class ClipboardOwner final : public WindowOwner<ClipboardOwner> {
 public:
  explicit ClipboardOwner(WaitSignals& signals) : signals_(signals), thread_(&ClipboardOwner::Run, this) {
    std::unique_lock<std::mutex> lock(signals_.mutex);
    signals_.changed.wait(lock, [this] { return started_; });
  }
  ~ClipboardOwner() {
    if (HWND owner = OwnerWindow()) {
      PostMessageW(owner, WM_CLOSE, 0, 0);
    }
    thread_.join();
  }
  ClipboardOwner(const ClipboardOwner&) = delete;
  ClipboardOwner& operator=(const ClipboardOwner&) = delete;

  bool Offer(const std::u16string& text) {
    HWND owner = OwnerWindow();
    if (owner == nullptr || !OpenClipboard(owner)) {
      return false;
    }
    ScopedClipboard clipboard;
    // Tells the previous owner (perhaps this window, with the last offer)
    // that its contents are gone, before this offer stands.
    if (!EmptyClipboard()) {
      return false;
    }
    SetState(OfferState::Waiting, &text);
    // A null handle: rendered when asked for. Whether that took shows only in
    // what the clipboard now lists.
    SetClipboardData(CF_UNICODETEXT, nullptr);
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !SetPrivacyMarkers()) {
      // Unmarked, the text would leak into the history: taken off again.
      EmptyClipboard();
      SetState(OfferState::None);
      return false;
    }
    return true;
  }

  bool WaitForRead(unsigned timeout_ms) {
    bool read = false;
    bool render_now = false;
    {
      std::unique_lock<std::mutex> lock(signals_.mutex);
      signals_.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [this] { return state_ != OfferState::Waiting || signals_.cancelled; });
      read = state_ == OfferState::Read;
      render_now = state_ == OfferState::Waiting && !signals_.cancelled;
    }
    if (render_now) {
      RenderForAnyone();
    }
    return read;
  }

 private:
  friend class WindowOwner<ClipboardOwner>;
  enum class OfferState {
    None,     // nothing of ours on the clipboard, or rendered for anyone
    Waiting,  // offered, not yet read by the process in front
    Read,     // handed to the process in front
    Gone,     // someone else emptied the clipboard
  };

  HWND OwnerWindow() {
    std::lock_guard<std::mutex> lock(signals_.mutex);
    return owner_;
  }

  void SetState(OfferState state, const std::u16string* text = nullptr) {
    std::lock_guard<std::mutex> lock(signals_.mutex);
    state_ = state;
    if (text != nullptr) {
      offered_ = *text;
    } else if (state != OfferState::Waiting) {
      offered_.clear();
    }
    signals_.changed.notify_all();
  }

  void Run() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &ClipboardOwner::WindowProc;
    window_class.hInstance = instance;
    window_class.lpszClassName = kClipboardOwnerClass;
    RegisterClassExW(&window_class);  // fails harmlessly when registered before
    // Message-only: never shown, never enumerated with the top-level windows.
    HWND created =
        CreateWindowExW(0, kClipboardOwnerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      owner_ = created;
      started_ = true;
      signals_.changed.notify_all();
    }
    if (created == nullptr) {
      return;
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      DispatchMessageW(&message);
    }
  }

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_RENDERFORMAT:
        if (wparam == CF_UNICODETEXT) {
          RenderForReader();
        }
        return 0;
      case WM_DESTROYCLIPBOARD:
        // Another program (or the next offer) emptied the clipboard: this
        // text can no longer be read.
        SetState(OfferState::Gone);
        return 0;
      case WM_RENDERALLFORMATS:
        // Going away with an unread text at exit: it is dropped with the
        // rest of what was not typed.
        return 0;
      case WM_CLOSE:
        DestroyWindow(window());
        return 0;
      case WM_DESTROY: {
        std::lock_guard<std::mutex> lock(signals_.mutex);
        owner_ = nullptr;
      }
        PostQuitMessage(0);
        return 0;
    }
    return DefaultHandling(message, wparam, lparam);
  }

  // Inside the reader's GetClipboardData, which waits for this. Only the
  // process in front gets the text now: the program that got the Ctrl+V.
  // Anything else (a clipboard monitor, a program in the background) gets
  // nothing, so that its read neither counts nor hides the target's later
  // read.
  void RenderForReader() {
    const DWORD reader = ProcessOf(GetOpenClipboardWindow());
    if (reader == 0 || reader != ProcessOf(GetForegroundWindow())) {
      return;
    }
    std::u16string text;
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      if (state_ != OfferState::Waiting) {
        return;
      }
      text = offered_;
    }
    ScopedGlobal block(NewTextBlock(text));
    if (block.get() == nullptr || SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr) {
      return;
    }
    block.Release();
    SetState(OfferState::Read);
  }

  // Nobody in front read the text in time: it is put on the clipboard for
  // whoever reads it next (the user may paste it by hand), as long as the
  // clipboard is still ours.
  void RenderForAnyone() {
    HWND owner = OwnerWindow();
    std::u16string text;
    {
      std::lock_guard<std::mutex> lock(signals_.mutex);
      if (state_ != OfferState::Waiting) {
        return;
      }
      text = offered_;
    }
    if (owner == nullptr || !OpenClipboard(owner)) {
      return;
    }
    ScopedClipboard clipboard;
    if (GetClipboardOwner() != owner) {
      return;
    }
    ScopedGlobal block(NewTextBlock(text));
    if (block.get() != nullptr && SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr) {
      block.Release();
      SetState(OfferState::None);
    }
  }

  WaitSignals& signals_;
  // Guarded by signals_.mutex.
  bool started_ = false;
  HWND owner_ = nullptr;
  OfferState state_ = OfferState::None;
  std::u16string offered_;
  // Declared last: started once everything it uses exists.
  std::thread thread_;
};

class Win32Desktop final : public Desktop {
 public:
  std::size_t InjectKeyEvents(const std::vector<KeyEvent>& events) override {
    if (events.empty()) {
      return 0;
    }
    std::vector<INPUT> inputs(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
      inputs[i].type = INPUT_KEYBOARD;
      inputs[i].ki.wVk = 0;
      inputs[i].ki.wScan = events[i].code;
      inputs[i].ki.dwFlags = events[i].flags;
      inputs[i].ki.time = 0;
      inputs[i].ki.dwExtraInfo = 0;
    }
    // Fewer than given when input is blocked (by another thread, or by UIPI,
    // which on some systems still reports success: hence CheckTarget).
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  }

  std::uint16_t ScanCodeFor(std::uint16_t virtual_key) override {
    return static_cast<std::uint16_t>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC));
  }

  void Wait(unsigned milliseconds) override {
    std::unique_lock<std::mutex> lock(signals_.mutex);
    signals_.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return signals_.cancelled; });
  }

  void CancelWaits() override {
    std::lock_guard<std::mutex> lock(signals_.mutex);
    signals_.cancelled = true;
    signals_.changed.notify_all();
  }

  bool SetClipboardText(const std::u16string& text) override {
    // No owner window: nothing here waits for a read, and a copy must stay
    // on the clipboard after this desktop is gone.
    if (!OpenClipboard(nullptr)) {
      return false;
    }
    ScopedClipboard clipboard;
    if (!EmptyClipboard()) {
      return false;
    }
    ScopedGlobal block(NewTextBlock(text));
    // On success the clipboard owns the block; on failure it is still ours.
    if (block.get() == nullptr || SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr) {
      return false;
    }
    block.Release();
    // Dictated text may be private: keep it out of the clipboard history,
    // the cloud clipboard and clipboard monitors. Unmarked, it would leak
    // there, so a text that cannot be marked is taken off again and the
    // caller types it instead.
    if (!SetPrivacyMarkers()) {
      EmptyClipboard();
      return false;
    }
    return true;
  }

  bool OfferClipboardText(const std::u16string& text) override {
    // Made on the first paste only: most desktops of this program never
    // paste (a copy from the tray, a target query).
    if (!clipboard_owner_) {
      clipboard_owner_ = std::make_unique<ClipboardOwner>(signals_);
    }
    return clipboard_owner_->Offer(text);
  }

  bool WaitForClipboardRead(unsigned timeout_ms) override {
    return clipboard_owner_ && clipboard_owner_->WaitForRead(timeout_ms);
  }

  std::u16string ForegroundImagePath() override {
    HWND window = GetForegroundWindow();
    if (window == nullptr) {
      return {};
    }
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == 0) {
      return {};
    }
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process.valid()) {
      return {};
    }
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
      return {};
    }
    return std::u16string(reinterpret_cast<const char16_t*>(path), size);
  }

  TargetBlock CheckTarget() override {
    // The input desktop first: while the lock screen or a UAC prompt is up
    // there is no foreground window of ours to look at, and input is dropped.
    if (!InputDesktopIsOurs()) {
      return TargetBlock::OtherDesktop;
    }
    HWND window = GetForegroundWindow();
    if (window == nullptr) {
      return TargetBlock::None;
    }
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id == GetCurrentProcessId()) {
      return TargetBlock::OwnWindow;
    }
    // A process's integrity level never changes, and a window never moves to
    // another process: the answer for the window in front is kept until
    // another window comes to the front. Each query is a round trip to the
    // system that every commit would otherwise wait for before its first
    // character; the user dictates into the same window again and again.
    if (window != target_window_ || process_id != target_process_) {
      target_window_ = window;
      target_process_ = process_id;
      target_elevated_ = TargetIsElevated(process_id);
    }
    return target_elevated_ ? TargetBlock::Elevated : TargetBlock::None;
  }

  bool ModifiersHeld() override {
    // The high bit is the key's physical state now, not the message queue's.
    for (int key : {VK_CONTROL, VK_MENU, VK_SHIFT, VK_LWIN, VK_RWIN}) {
      if ((GetAsyncKeyState(key) & 0x8000) != 0) {
        return true;
      }
    }
    return false;
  }

 private:
  static std::wstring DesktopName(HDESK desktop) {
    DWORD bytes = 0;
    GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &bytes);
    if (bytes == 0) {
      return {};
    }
    std::vector<wchar_t> name(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!GetUserObjectInformationW(desktop, UOI_NAME, name.data(),
                                   static_cast<DWORD>(name.size() * sizeof(wchar_t)), &bytes)) {
      return {};
    }
    return name.data();
  }

  bool InputDesktopIsOurs() {
    // Opening the input desktop fails with access denied while it is the
    // secure desktop (Winlogon): that alone says it is not ours.
    ScopedDesktop input(OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
    if (input.get() == nullptr) {
      return false;
    }
    const std::wstring input_name = DesktopName(input.get());
    // The output thread's desktop is set when the thread starts and stays;
    // its handle belongs to the system and is not closed.
    if (our_desktop_name_.empty()) {
      our_desktop_name_ = DesktopName(GetThreadDesktop(GetCurrentThreadId()));
    }
    return !input_name.empty() &&
           CompareStringOrdinal(input_name.c_str(), -1, our_desktop_name_.c_str(), -1, TRUE) == CSTR_EQUAL;
  }

  // Whether Windows would drop our input in process `process_id`: a process
  // we cannot even open for a limited query is protected or elevated beyond
  // us, and so is one whose level is above ours or cannot be read.
  bool TargetIsElevated(DWORD process_id) {
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process.valid()) {
      return true;
    }
    const std::optional<DWORD> theirs = IntegrityLevel(process.get());
    return !theirs || !own_level_ || *theirs > *own_level_;
  }

  // The mandatory integrity level (its RID, e.g. 0x2000 medium, 0x3000 high)
  // of a process; nothing when it cannot be read.
  static std::optional<DWORD> IntegrityLevel(HANDLE process) {
    HANDLE raw_token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw_token)) {
      return std::nullopt;
    }
    ScopedHandle token(raw_token);
    DWORD bytes = 0;
    GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &bytes);
    if (bytes < sizeof(TOKEN_MANDATORY_LABEL)) {
      return std::nullopt;
    }
    // DWORD-sized elements keep the label and its SID suitably aligned.
    std::vector<DWORD> buffer((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), bytes, &bytes)) {
      return std::nullopt;
    }
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    if (sid == nullptr || !IsValidSid(sid)) {
      return std::nullopt;
    }
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    if (count == 0) {
      return std::nullopt;
    }
    return *GetSidSubAuthority(sid, count - 1);
  }

  WaitSignals signals_;
  std::unique_ptr<ClipboardOwner> clipboard_owner_;
  // What CheckTarget learnt once and keeps (the output thread's alone).
  std::wstring our_desktop_name_;
  const std::optional<DWORD> own_level_ = IntegrityLevel(GetCurrentProcess());  // empty: unreadable
  HWND target_window_ = nullptr;
  DWORD target_process_ = 0;
  bool target_elevated_ = false;
};

}  // namespace

std::unique_ptr<Desktop> MakePlatformDesktop() { return std::make_unique<Win32Desktop>(); }

std::u16string ToUtf16(std::string_view utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace lumora
