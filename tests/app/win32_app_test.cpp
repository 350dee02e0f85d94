// The host's UI task queue and start with Windows, on the real Win32 API.

#include "app/win32_app_win.h"
#include "tests/support/pump_win.h"
#include "tests/support/run_value_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/auto_start_win.h"
#include "log/log.h"

namespace lumora {
namespace {

std::vector<std::string> LogLines(const std::string& needle) {
  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.find(needle) != std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

// Dispatches this thread's messages until `done` or five seconds pass.
template <typename Done>
bool PumpUntil(Done done) {
  return testing::PumpMessagesUntil(done, std::chrono::seconds(5));
}

class UiTaskQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    ASSERT_TRUE(app_.InitHostWindow());
  }
  void TearDown() override { DestroyWindow(app_.window()); }

  Win32App app_{GetModuleHandleW(nullptr)};
};

TEST_F(UiTaskQueueTest, BurstFromAnotherThreadRunsInPostingOrderOnTheUiThread) {
  const DWORD ui_thread = GetCurrentThreadId();
  std::vector<int> ran;
  std::atomic<bool> wrong_thread{false};
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      app_.PostUiTask([&, i] {
        wrong_thread = wrong_thread || GetCurrentThreadId() != ui_thread;
        ran.push_back(i);
      });
    }
  });
  poster.join();
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 100; }));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  }
  EXPECT_FALSE(wrong_thread);
}

TEST_F(UiTaskQueueTest, ThrowingTaskIsLoggedOnceAndTheRestRun) {
  std::vector<int> ran;
  app_.PostUiTask([&] { ran.push_back(1); });
  app_.PostUiTask([] { throw std::runtime_error("task failed"); });
  app_.PostUiTask([] { throw 42; });
  app_.PostUiTask([&] { ran.push_back(2); });
  app_.PostUiTask(nullptr);  // ignored
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 2; }));
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  const auto lines = LogLines("Win32App: UI task threw");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[E APP ", 0), 0u);
}

TEST_F(UiTaskQueueTest, TaskPostedByATaskRunsAtTheNextMessage) {
  std::vector<std::string> ran;
  app_.PostUiTask([&] {
    ran.push_back("outer");
    app_.PostUiTask([&] { ran.push_back("inner"); });
    ran.push_back("outer done");
  });
  app_.PostUiTask([&] { ran.push_back("second"); });
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 4; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"outer", "outer done", "second", "inner"}));
}

TEST(HostWindowTest, IsHiddenToolWindowWithTheProductTitle) {
  Win32App app(GetModuleHandleW(nullptr));
  ASSERT_TRUE(app.InitHostWindow());
  HWND window = app.window();
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  EXPECT_STREQ(class_name, L"Parlino.Host");
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Lumora语音输入");
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  // Closing the window ends the loop with 0.
  PostMessageW(window, WM_CLOSE, 0, 0);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 0u);
}

TEST(AutoStartTest, RunValueFollowsTheSetting) {
  ASSERT_TRUE(ApplyAutoStart(false));
  EXPECT_EQ(testing::RunValue(), std::nullopt);
  EXPECT_TRUE(ApplyAutoStart(false));  // already absent: still fine
  ASSERT_TRUE(ApplyAutoStart(true));
  const std::wstring quoted = QuotedModulePath();
  ASSERT_GE(quoted.size(), 3u);
  EXPECT_EQ(quoted.front(), L'"');
  EXPECT_EQ(quoted.back(), L'"');
  EXPECT_NE(quoted.find(L"app_tests.exe"), std::wstring::npos);
  EXPECT_EQ(testing::RunValue(), quoted);
  // A value deleted by hand comes back at the next start.
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
  EXPECT_TRUE(ApplyAutoStart(true));
  EXPECT_EQ(testing::RunValue(), quoted);
  EXPECT_TRUE(ApplyAutoStart(false));
  EXPECT_EQ(testing::RunValue(), std::nullopt);
}

TEST(AutoStartTest, AMissingKeyIsMadeAndAFailureIsLoggedAtWarnWithTheStatus) {
  constexpr wchar_t kMissing[] = L"Software\\ParlinoTest\\NoRunKeyYet";
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ParlinoTest");
  EXPECT_TRUE(detail::ApplyAutoStartAt(HKEY_CURRENT_USER, kMissing, kRunValueName, true));
  EXPECT_EQ(
      RegGetValueW(HKEY_CURRENT_USER, kMissing, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ParlinoTest");

  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  const HKEY not_a_key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7777));
  EXPECT_FALSE(detail::ApplyAutoStartAt(not_a_key, L"Run", kRunValueName, true));
  const auto lines = LogLines("auto_start: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[W APP ", 0), 0u);
  EXPECT_NE(lines[0].find("] auto_start: RegCreateKeyEx failed hr=6"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace lumora
