// Text output against the real Windows desktop (under Wine on the test
// bench): a probe window with an edit control takes the focus, and the
// injector types, pastes and presses keys into it. The probe is a window of
// this process, which the injector rightly refuses to type into; the tests
// that deliver into it go through ProbeTargetDesktop.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "output/desktop.h"
#include "output/text_injector.h"
#include "tests/support/clipboard_win.h"
#include "tests/support/probe_window_win.h"

namespace lumora {
namespace {

using testing::ClipboardText;
using testing::KeyMessage;
using testing::ProbeWindow;

// Without an owner window: emptying a clipboard that a window owns sends that
// window a message, and this thread is not pumping while the output runs.
void PutOnClipboard(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
}

std::vector<std::pair<UINT, unsigned>> Keys(const ProbeWindow& probe) {
  std::vector<std::pair<UINT, unsigned>> keys;
  for (const KeyMessage& key : probe.keys()) {
    keys.emplace_back(key.message, key.scan_code);
  }
  return keys;
}

constexpr auto kPatience = std::chrono::milliseconds(5000);

// The platform desktop, except that our own window in front (the probe) is
// an acceptable target. Everything else, including what the real query says
// about other targets, is passed through.
class ProbeTargetDesktop final : public Desktop {
 public:
  ProbeTargetDesktop() : inner_(MakePlatformDesktop()) {}

  std::size_t InjectKeyEvents(const std::vector<KeyEvent>& events) override {
    return inner_->InjectKeyEvents(events);
  }
  std::uint16_t ScanCodeFor(std::uint16_t virtual_key) override { return inner_->ScanCodeFor(virtual_key); }
  void Wait(unsigned milliseconds) override { inner_->Wait(milliseconds); }
  bool SetClipboardText(const std::u16string& text) override { return inner_->SetClipboardText(text); }
  bool OfferClipboardText(const std::u16string& text) override { return inner_->OfferClipboardText(text); }
  bool WaitForClipboardRead(unsigned timeout_ms) override { return inner_->WaitForClipboardRead(timeout_ms); }
  void CancelWaits() override { inner_->CancelWaits(); }
  std::u16string ForegroundImagePath() override { return inner_->ForegroundImagePath(); }
  TargetBlock CheckTarget() override {
    const TargetBlock real = inner_->CheckTarget();
    return real == TargetBlock::OwnWindow ? TargetBlock::None : real;
  }
  bool ModifiersHeld() override { return inner_->ModifiersHeld(); }

 private:
  std::unique_ptr<Desktop> inner_;
};

std::unique_ptr<Desktop> ProbeTarget() { return std::make_unique<ProbeTargetDesktop>(); }

TEST(DesktopWinTest, TypedChineseAndEmojiArriveWhole) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  const std::wstring want = L"你好，世界 \U0001F600";
  {
    TextInjector injector(ProbeTarget());
    injector.EnqueueText("你好，世界 \xF0\x9F\x98\x80", false, false);
    injector.Flush();
  }
  EXPECT_TRUE(probe.Pump([&] { return probe.Text() == want; }, kPatience)) << probe.Text().size();
}

TEST(DesktopWinTest, PasteLeavesTheTextOnTheClipboardAndSendsCtrlV) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  PutOnClipboard(L"earlier contents");
  {
    TextInjector injector(ProbeTarget());
    injector.EnqueueText("粘贴", false, true);
    injector.Flush();
  }
  EXPECT_EQ(ClipboardText(), L"粘贴");
  const std::vector<std::pair<UINT, unsigned>> ctrl_v = {
      {WM_KEYDOWN, 29}, {WM_KEYDOWN, 47}, {WM_KEYUP, 47}, {WM_KEYUP, 29}};
  EXPECT_TRUE(probe.Pump([&] { return probe.keys().size() >= 4; }, kPatience));
  EXPECT_EQ(Keys(probe), ctrl_v);
}

std::size_t CtrlVCount(const ProbeWindow& probe) {
  std::size_t count = 0;
  for (const KeyMessage& key : probe.keys()) {
    count += key.message == WM_KEYDOWN && key.scan_code == 47 ? 1 : 0;
  }
  return count;
}

TEST(DesktopWinTest, SlowClipboardReaderGetsEachPastedTextOnceInOrder) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  PutOnClipboard(L"earlier contents");
  std::vector<std::wstring> pasted;
  {
    TextInjector injector(ProbeTarget());
    for (const char* text : {"第一句", "第二句", "第三句"}) {
      injector.EnqueueText(text, false, true);
    }
    // A busy program: it reads the clipboard a moment after each Ctrl+V.
    std::vector<std::chrono::steady_clock::time_point> due;
    probe.Pump(
        [&] {
          const auto now = std::chrono::steady_clock::now();
          while (due.size() + pasted.size() < CtrlVCount(probe)) {
            due.push_back(now + std::chrono::milliseconds(250));
          }
          if (!due.empty() && now >= due.front()) {
            due.erase(due.begin());
            pasted.push_back(testing::ClipboardText(probe.window()));
          }
          return pasted.size() >= 3;
        },
        std::chrono::milliseconds(15000));
    injector.Flush();
  }
  EXPECT_EQ(pasted, (std::vector<std::wstring>{L"第一句", L"第二句", L"第三句"}));
  EXPECT_EQ(CtrlVCount(probe), 3u);
}

TEST(DesktopWinTest, StopDuringAnUnreadPasteReturnsBeforeItsTimeOut) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  TextInjector injector(ProbeTarget());
  // Nobody reads: each would wait out the whole time-out.
  for (int i = 0; i < 20; ++i) {
    injector.EnqueueText("没人读", true, true);
  }
  ASSERT_TRUE(probe.Pump([&] { return CtrlVCount(probe) == 1; }, kPatience));
  const auto start = std::chrono::steady_clock::now();
  injector.Stop();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(kClipboardReadTimeoutMs));
  probe.Pump([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(CtrlVCount(probe), 1u);
  EXPECT_TRUE(probe.KeyPresses().size() == 4) << "Enter pressed, or keys left down";
}

TEST(DesktopWinTest, BusyClipboardIsNotPastedButTyped) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  PutOnClipboard(L"secret");
  // This thread holds the clipboard for the whole output.
  ASSERT_TRUE(OpenClipboard(probe.window()));
  {
    TextInjector injector(ProbeTarget());
    injector.EnqueueText("说的话", false, true);
    injector.Flush();
  }
  CloseClipboard();
  EXPECT_TRUE(probe.Pump([&] { return probe.Text() == L"说的话"; }, kPatience)) << probe.Text().size();
  EXPECT_EQ(ClipboardText(), L"secret");
  for (const KeyMessage& key : probe.keys()) {
    EXPECT_NE(key.scan_code, 29u) << "Ctrl was pressed";
  }
}

TEST(DesktopWinTest, EnterAndBackspaceArriveAsScanCodes) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  {
    TextInjector injector(ProbeTarget());
    injector.EnqueueKey("enter");
    injector.EnqueueKey("backspace");
    injector.Flush();
  }
  EXPECT_TRUE(probe.Pump([&] { return probe.keys().size() >= 4; }, kPatience));
  const std::vector<std::pair<UINT, unsigned>> want = {
      {WM_KEYDOWN, 28}, {WM_KEYUP, 28}, {WM_KEYDOWN, 14}, {WM_KEYUP, 14}};
  EXPECT_EQ(Keys(probe), want);
}

TEST(DesktopWinTest, ForegroundImageIsThisProgram) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  const std::u16string path = MakePlatformDesktop()->ForegroundImagePath();
  ASSERT_GE(path.size(), 16u);
  std::u16string name = path.substr(path.find_last_of(u"\\/") + 1);
  for (char16_t& unit : name) {
    unit = static_cast<char16_t>(towlower(unit));
  }
  EXPECT_EQ(name, u"output_tests.exe");
  EXPECT_FALSE(IsRemoteDesktopImage(path));
}

TEST(DesktopWinTest, OwnWindowInFrontHoldsTheText) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  // Also shows that the input-desktop query, made first, does not misfire.
  EXPECT_EQ(MakePlatformDesktop()->CheckTarget(), TargetBlock::OwnWindow);
  std::vector<OutputReport> reports;
  {
    TextInjector injector(MakePlatformDesktop(),
                          [&reports](OutputReport report) { reports.push_back(report); });
    injector.EnqueueText("不该到这里", true, false);
    injector.EnqueueKey("enter");
    injector.Flush();
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].held);
  EXPECT_EQ(reports[0].reason, HoldReason::OwnWindow);
  EXPECT_EQ(reports[0].text, "不该到这里");
  probe.Pump([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(probe.Text(), L"");
  EXPECT_TRUE(probe.keys().empty());
}

// Wine's own notepad, started by this test and ended by its handle.
class ChildWindowProcess {
 public:
  ChildWindowProcess() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t command[] = L"notepad.exe";
    if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
      thread_.Reset(info_.hThread);
      process_.Reset(info_.hProcess);
    }
  }
  ~ChildWindowProcess() {
    if (process_.valid()) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), 5000);
    }
  }
  ChildWindowProcess(const ChildWindowProcess&) = delete;
  ChildWindowProcess& operator=(const ChildWindowProcess&) = delete;

  bool started() const { return process_.valid(); }
  bool InFront() const {
    DWORD process_id = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &process_id);
    return process_id == info_.dwProcessId;
  }

 private:
  PROCESS_INFORMATION info_{};
  ScopedHandle thread_;
  ScopedHandle process_;
};

TEST(DesktopWinTest, AnotherProcessInFrontIsATarget) {
  ChildWindowProcess notepad;
  ASSERT_TRUE(notepad.started());
  ASSERT_TRUE(
      testing::PumpMessagesUntil([&] { return notepad.InFront(); }, std::chrono::milliseconds(15000)));
  // Under Wine: same desktop, same integrity level (or none at all), so a
  // window of another process is a target.
  EXPECT_EQ(MakePlatformDesktop()->CheckTarget(), TargetBlock::None);
}

DWORD ClipboardDword(const wchar_t* format_name, bool* present) {
  const UINT format = RegisterClipboardFormatW(format_name);
  *present = IsClipboardFormatAvailable(format) != FALSE;
  DWORD value = 0xFFFFFFFF;
  if (HANDLE data = GetClipboardData(format)) {
    if (GlobalSize(data) >= sizeof(DWORD)) {
      if (const void* memory = GlobalLock(data)) {
        std::memcpy(&value, memory, sizeof value);
        GlobalUnlock(data);
      }
    }
  }
  return value;
}

TEST(DesktopWinTest, ClipboardTextIsKeptOutOfHistoryCloudAndMonitors) {
  PutOnClipboard(L"earlier contents");
  ASSERT_TRUE(MakePlatformDesktop()->SetClipboardText(u"私密的话"));
  EXPECT_EQ(ClipboardText(), L"私密的话");
  ASSERT_TRUE(OpenClipboard(nullptr));
  bool excluded = false;
  bool history = false;
  bool cloud = false;
  ClipboardDword(L"ExcludeClipboardContentFromMonitorProcessing", &excluded);
  const DWORD history_value = ClipboardDword(L"CanIncludeInClipboardHistory", &history);
  const DWORD cloud_value = ClipboardDword(L"CanUploadToCloudClipboard", &cloud);
  CloseClipboard();
  EXPECT_TRUE(excluded);
  EXPECT_TRUE(history);
  EXPECT_EQ(history_value, 0u);
  EXPECT_TRUE(cloud);
  EXPECT_EQ(cloud_value, 0u);
}

void InjectVirtualKey(WORD virtual_key, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtual_key;
  input.ki.dwFlags = flags;
  ASSERT_EQ(SendInput(1, &input, sizeof(INPUT)), 1u);
}

TEST(DesktopWinTest, InjectedCtrlCountsAsHeldUntilReleased) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  std::unique_ptr<Desktop> desktop = MakePlatformDesktop();
  ASSERT_FALSE(desktop->ModifiersHeld());
  InjectVirtualKey(VK_CONTROL, 0);
  EXPECT_TRUE(probe.Pump([&] { return desktop->ModifiersHeld(); }, kPatience));
  InjectVirtualKey(VK_CONTROL, KEYEVENTF_KEYUP);
  EXPECT_TRUE(probe.Pump([&] { return !desktop->ModifiersHeld(); }, kPatience));
}

}  // namespace
}  // namespace lumora
