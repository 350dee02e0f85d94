#include "base/win32_util_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/window_proc_win.h"
#include "log/log.h"

namespace lumora {
namespace {

TEST(Utf8ToWideTest, ConvertsWithTheSystemConversion) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"commit", L"commit"},
      {"你好，世界", L"你好，世界"},
      {"\xF0\x9F\x98\x80", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},  // surrogate pair
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},                    // length, not NUL, ends it
      {"\xFF", L"\uFFFD"},                                                   // ill-formed: replaced
      {"ok\xE4\xBD", L"ok\uFFFD"},                                           // cut short: replaced
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
  }
}

// A folder identifier that no shell knows, so the lookup falls back.
constexpr KNOWNFOLDERID kUnknownFolder = {
    0x6d2c4a1e, 0x1b7f, 0x4c55, {0x9a, 0x1e, 0x3d, 0x2c, 0x11, 0x0f, 0x42, 0x77}};

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  return std::wstring(buffer, length);
}

TEST(KnownFolderPathTest, FallsBackToEnvironmentThenCurrentDirectory) {
  const wchar_t* kVariable = L"PARLINO_TEST_FOLDER";
  struct Case {
    const wchar_t* value;  // nullptr: variable unset
    bool expect_value;
  };
  const std::wstring longest(259, L'a');
  const std::wstring too_long(260, L'a');
  const Case cases[] = {
      {L"C:\\users\\test\\AppData\\Local", true},
      {longest.c_str(), true},
      {too_long.c_str(), false},
      {L"", false},
      {nullptr, false},
  };
  for (const Case& c : cases) {
    SetEnvironmentVariableW(kVariable, c.value);
    const std::wstring path = KnownFolderPath(kUnknownFolder, kVariable);
    EXPECT_EQ(path, c.expect_value ? std::wstring(c.value) : CurrentDirectory())
        << (c.value ? std::wstring(c.value).size() : 0);
  }
  SetEnvironmentVariableW(kVariable, nullptr);
}

TEST(KnownFolderPathTest, ShellAnswerWinsOverTheEnvironment) {
  SetEnvironmentVariableW(L"PARLINO_TEST_FOLDER", L"C:\\elsewhere");
  const std::wstring path = KnownFolderPath(FOLDERID_LocalAppData, L"PARLINO_TEST_FOLDER");
  SetEnvironmentVariableW(L"PARLINO_TEST_FOLDER", nullptr);
  EXPECT_NE(path, L"C:\\elsewhere");
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

TEST(KnownFolderPathTest, LogFolderIsParlinoUnderLocalAppData) {
  const std::filesystem::path expected =
      std::filesystem::path(KnownFolderPath(FOLDERID_LocalAppData, L"LOCALAPPDATA")) / L"Parlino";
  EXPECT_EQ(LogDirectory(), expected);
  EXPECT_EQ(LogDirectory().filename().wstring(), L"Parlino");
}

// An owner that records what reaches its HandleMessage; refuses WM_CREATE
// when told to.
class RecordingOwner : public WindowOwner<RecordingOwner> {
 public:
  explicit RecordingOwner(bool refuse_create = false) : refuse_create_(refuse_create) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &RecordingOwner::WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"Parlino.WindowOwnerTest";
    RegisterClassW(&window_class);
  }
  RecordingOwner(const RecordingOwner&) = delete;
  RecordingOwner& operator=(const RecordingOwner&) = delete;

  // An overlapped window: Windows sends it WM_GETMINMAXINFO before
  // WM_NCCREATE.
  HWND Create() {
    return CreateWindowExW(0, L"Parlino.WindowOwnerTest", L"owned", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                           nullptr, nullptr, GetModuleHandleW(nullptr), this);
  }

  struct Seen {
    UINT message;
    HWND window;      // window() while the message is handled
    LONG_PTR linked;  // GWLP_USERDATA then
  };
  const std::vector<Seen>& seen() const { return seen_; }

 private:
  friend class WindowOwner<RecordingOwner>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    seen_.push_back({message, window(), GetWindowLongPtrW(window(), GWLP_USERDATA)});
    if (message == WM_CREATE && refuse_create_) {
      return -1;
    }
    return DefaultHandling(message, wparam, lparam);
  }

  bool refuse_create_;
  std::vector<Seen> seen_;
};

TEST(WindowOwnerTest, OwnerHandlesEveryMessageFromNcCreateToNcDestroy) {
  RecordingOwner owner;
  const HWND window = owner.Create();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(owner.window(), window);
  const auto self = reinterpret_cast<LONG_PTR>(&owner);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), self);
  // What came before WM_NCCREATE went to DefWindowProcW, not to the owner.
  ASSERT_FALSE(owner.seen().empty());
  EXPECT_EQ(owner.seen().front().message, static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(owner.seen().front().window, window);
  // DefaultHandling gave WM_NCCREATE to DefWindowProcW, which sets the title.
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  EXPECT_STREQ(title, L"owned");

  ASSERT_TRUE(DestroyWindow(window));
  ASSERT_EQ(owner.seen().back().message, static_cast<UINT>(WM_NCDESTROY));
  // The owner still knows its window during WM_NCDESTROY, unlinked already,
  // and forgets it after.
  EXPECT_EQ(owner.seen().back().window, window);
  EXPECT_EQ(owner.seen().back().linked, 0);
  EXPECT_EQ(owner.window(), nullptr);
  for (std::size_t i = 0; i + 1 < owner.seen().size(); ++i) {
    EXPECT_EQ(owner.seen()[i].linked, self) << owner.seen()[i].message;
  }
}

TEST(WindowOwnerTest, RefusedCreationLeavesNoWindow) {
  RecordingOwner owner(true);
  EXPECT_EQ(owner.Create(), nullptr);
  EXPECT_EQ(owner.window(), nullptr);
  ASSERT_FALSE(owner.seen().empty());
  EXPECT_EQ(owner.seen().back().message, static_cast<UINT>(WM_NCDESTROY));
}

TEST(WindowOwnerTest, WindowOutlivingItsOwnerIsUnlinked) {
  HWND window = nullptr;
  {
    RecordingOwner owner;
    window = owner.Create();
    ASSERT_NE(window, nullptr);
  }
  // Its messages now end in DefWindowProcW instead of a destroyed owner.
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 0);
  EXPECT_TRUE(SetWindowTextW(window, L"orphan"));
  EXPECT_TRUE(DestroyWindow(window));
}

}  // namespace
}  // namespace lumora
