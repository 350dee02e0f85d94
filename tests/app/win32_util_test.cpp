#include "app/win32_util_win.h"

#include <gtest/gtest.h>

#include <string>

#include "app/log.h"

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

}  // namespace
}  // namespace lumora
