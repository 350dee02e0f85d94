#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/app_config.h"
#include "tests/config/config_test_support.h"

namespace lumora {
namespace {

using test::ConfigFileTest;
using test::FolderEntries;
using test::ReadBytes;

constexpr wchar_t kExplorerKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr wchar_t kRedirectMarker[] = L"parlino-config-test-";

// A string value under HKEY_CURRENT_USER as it was, or absent.
struct RegistryText {
  std::wstring key;
  std::optional<std::wstring> text;
  DWORD type = REG_SZ;

  static RegistryText Read(std::wstring key) {
    RegistryText value{std::move(key), std::nullopt, REG_SZ};
    wchar_t buffer[1024];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, value.key.c_str(), L"AppData",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &value.type, buffer,
                     &size) == ERROR_SUCCESS) {
      value.text = buffer;
    }
    return value;
  }

  void Write() const {
    if (!text) {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"AppData");
      return;
    }
    const DWORD size = static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"AppData", type, text->c_str(), size),
              ERROR_SUCCESS);
  }
};

// Points the profile's roaming application-data folder at another folder
// until destroyed. The shell answers from "User Shell Folders\AppData" (the
// APPDATA variable does not move it, measured under Wine 8) and writes what it
// found to "Shell Folders\AppData"; both are put back.
class RoamingFolderRedirect {
 public:
  explicit RoamingFolderRedirect(const std::filesystem::path& folder)
      : user_(RegistryText::Read(kExplorerKey + std::wstring(L"\\User Shell Folders"))),
        resolved_(RegistryText::Read(kExplorerKey + std::wstring(L"\\Shell Folders"))) {
    // A run that crashed here left its redirect behind: the usual value is
    // what belongs back.
    if (user_.text && user_.text->find(kRedirectMarker) != std::wstring::npos) {
      user_.text = L"%USERPROFILE%\\AppData\\Roaming";
      user_.type = REG_EXPAND_SZ;
    }
    RegistryText{user_.key, folder.wstring(), REG_EXPAND_SZ}.Write();
  }
  RoamingFolderRedirect(const RoamingFolderRedirect&) = delete;
  RoamingFolderRedirect& operator=(const RoamingFolderRedirect&) = delete;
  ~RoamingFolderRedirect() {
    user_.Write();
    resolved_.Write();
  }

 private:
  RegistryText user_;
  RegistryText resolved_;
};

TEST_F(ConfigFileTest, ChineseRoamingFolderLoadsAndSaves) {
  const std::filesystem::path original = ConfigDirectory();
  // The shell reports a redirected folder only once it exists.
  const std::filesystem::path roaming = scratch_.path() / u8"用户 张三" / u8"漫游";
  ASSERT_NE(scratch_.path().wstring().find(kRedirectMarker), std::wstring::npos);
  std::filesystem::create_directories(roaming);
  const AppConfig config{.listen_port = 50000, .overlay_theme_color = OverlayThemeColor::Yellow};
  {
    RoamingFolderRedirect redirect(roaming);
    ASSERT_EQ(ConfigDirectory(), roaming / L"Parlino");

    SaveAppConfig(config);
    const std::filesystem::path file = roaming / L"Parlino" / L"config.toml";
    EXPECT_EQ(ReadBytes(file), FormatAppConfig(config));
    EXPECT_EQ(FolderEntries(file.parent_path()), std::vector<std::string>{"config.toml"});
    EXPECT_EQ(LoadAppConfig(), config);
  }
  EXPECT_EQ(ConfigDirectory(), original);
  EXPECT_EQ(LoadAppConfig(), AppConfig{});
}

// A program that holds the file open without sharing deletion (an editor, a
// virus scanner) keeps it from being replaced: the save fails and leaves it whole.
TEST_F(ConfigFileTest, FileHeldOpenByAnotherProgramIsLeftAsItWas) {
  const std::filesystem::path file = scratch_.path() / L"config.toml";
  const std::string old_bytes = "listen_port = 5000\r\n";
  test::WriteBytes(file, old_bytes);
  const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const bool saved = detail::SaveAppConfigTo(file, AppConfig{.listen_port = 6000});
  const std::vector<std::string> entries = FolderEntries(scratch_.path());
  CloseHandle(held);

  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadBytes(file), old_bytes);
  EXPECT_EQ(entries, std::vector<std::string>{"config.toml"});
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{.listen_port = 5000});
}

}  // namespace
}  // namespace lumora
