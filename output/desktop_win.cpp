#include <windows.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "output/desktop.h"

namespace lumora {
namespace {

class Win32Desktop final : public Desktop {
 public:
  void InjectKeyEvents(const std::vector<KeyEvent>& events) override {
    if (events.empty()) {
      return;
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
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
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
};

}  // namespace

std::unique_ptr<Desktop> MakePlatformDesktop() { return std::make_unique<Win32Desktop>(); }

std::u16string ToUtf16(std::string_view utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace lumora
