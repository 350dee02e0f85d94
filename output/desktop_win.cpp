#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "output/desktop.h"

namespace lumora {
namespace {

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

  void Wait(unsigned milliseconds) override { Sleep(milliseconds); }

  bool SetClipboardText(const std::u16string& text) override {
    // No owner window: the output thread pumps no messages, and a window of
    // its own would stall every program that sends the owner a message.
    if (!OpenClipboard(nullptr)) {
      return false;
    }
    ScopedClipboard clipboard;
    if (!EmptyClipboard()) {
      return false;
    }
    const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
    ScopedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (block.get() == nullptr) {
      return false;
    }
    void* memory = GlobalLock(block.get());
    if (memory == nullptr) {
      return false;
    }
    std::memcpy(memory, text.c_str(), bytes);
    GlobalUnlock(block.get());
    // On success the clipboard owns the block; on failure it is still ours.
    if (SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr) {
      return false;
    }
    block.Release();
    // Dictated text may be private: keep it out of the clipboard history,
    // the cloud clipboard and clipboard monitors. Unmarked, it would leak
    // there, so a text that cannot be marked is taken off again and the
    // caller types it instead.
    if (!SetClipboardMarker(L"ExcludeClipboardContentFromMonitorProcessing") ||
        !SetClipboardMarker(L"CanIncludeInClipboardHistory") ||
        !SetClipboardMarker(L"CanUploadToCloudClipboard")) {
      EmptyClipboard();
      return false;
    }
    return true;
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
    // A process we cannot even open for a limited query is protected or
    // elevated beyond us: Windows would drop our input there just as well.
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process.valid()) {
      return TargetBlock::Elevated;
    }
    const std::optional<DWORD> theirs = IntegrityLevel(process.get());
    const std::optional<DWORD> ours = IntegrityLevel(GetCurrentProcess());
    if (!theirs || !ours || *theirs > *ours) {
      return TargetBlock::Elevated;
    }
    return TargetBlock::None;
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
  // One empty-valued (DWORD 0) format of the given registered name, in the
  // clipboard this thread has open. The format that excludes monitors may
  // hold anything; the two "Can..." formats must hold a DWORD 0 to say no.
  static bool SetClipboardMarker(const wchar_t* name) {
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
    return true;
  }

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

  static bool InputDesktopIsOurs() {
    // Opening the input desktop fails with access denied while it is the
    // secure desktop (Winlogon): that alone says it is not ours.
    ScopedDesktop input(OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
    if (input.get() == nullptr) {
      return false;
    }
    const std::wstring input_name = DesktopName(input.get());
    // The thread's own desktop handle belongs to the system: not closed.
    const std::wstring our_name = DesktopName(GetThreadDesktop(GetCurrentThreadId()));
    return !input_name.empty() &&
           CompareStringOrdinal(input_name.c_str(), -1, our_name.c_str(), -1, TRUE) == CSTR_EQUAL;
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
};

}  // namespace

std::unique_ptr<Desktop> MakePlatformDesktop() { return std::make_unique<Win32Desktop>(); }

std::u16string ToUtf16(std::string_view utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace lumora
