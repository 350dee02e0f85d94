// Text output against the real Windows desktop (under Wine on the test
// bench): a probe window with an edit control takes the focus, and the
// injector types, pastes and presses keys into it.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "output/desktop.h"
#include "output/text_injector.h"
#include "tests/support/probe_window_win.h"

namespace lumora {
namespace {

using testing::KeyMessage;
using testing::ProbeWindow;

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) {
    return L"<clipboard busy>";
  }
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = units;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

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

TEST(DesktopWinTest, TypedChineseAndEmojiArriveWhole) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  const std::wstring want = L"你好，世界 \U0001F600";
  {
    TextInjector injector(MakePlatformDesktop());
    injector.EnqueueText("你好，世界 \xF0\x9F\x98\x80", false, false);
  }
  EXPECT_TRUE(probe.Pump([&] { return probe.Text() == want; }, kPatience)) << probe.Text().size();
}

TEST(DesktopWinTest, PasteLeavesTheTextOnTheClipboardAndSendsCtrlV) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  PutOnClipboard(L"earlier contents");
  {
    TextInjector injector(MakePlatformDesktop());
    injector.EnqueueText("粘贴", false, true);
  }
  EXPECT_EQ(ClipboardText(), L"粘贴");
  const std::vector<std::pair<UINT, unsigned>> ctrl_v = {
      {WM_KEYDOWN, 29}, {WM_KEYDOWN, 47}, {WM_KEYUP, 47}, {WM_KEYUP, 29}};
  EXPECT_TRUE(probe.Pump([&] { return probe.keys().size() >= 4; }, kPatience));
  EXPECT_EQ(Keys(probe), ctrl_v);
}

TEST(DesktopWinTest, BusyClipboardIsNotPastedButTyped) {
  ProbeWindow probe;
  ASSERT_TRUE(probe.ready());
  PutOnClipboard(L"secret");
  // This thread holds the clipboard for the whole output.
  ASSERT_TRUE(OpenClipboard(probe.window()));
  {
    TextInjector injector(MakePlatformDesktop());
    injector.EnqueueText("说的话", false, true);
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
    TextInjector injector(MakePlatformDesktop());
    injector.EnqueueKey("enter");
    injector.EnqueueKey("backspace");
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

}  // namespace
}  // namespace lumora
