#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "config/app_config.h"
#include "log/log.h"
#include "tests/config/config_test_support.h"

namespace lumora {
namespace {

using test::ConfigFileTest;
using test::FolderEntries;
using test::ReadBytes;
using test::WriteBytes;

// Sets or unsets an environment variable until destroyed.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Set(value);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) {
    if (value != nullptr) {
      setenv(name_, value, 1);
    } else {
      unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(ConfigFileTest, FolderFollowsXdgThenHomeThenCurrentDirectory) {
  struct Case {
    const char* xdg;   // nullptr: unset
    const char* home;  // nullptr: unset
    std::filesystem::path expected;
  };
  const std::filesystem::path current = std::filesystem::current_path();
  const Case cases[] = {
      {"/srv/cfg", "/home/li", "/srv/cfg/Parlino"},
      {nullptr, "/home/li", "/home/li/.config/Parlino"},
      {"", "/home/li", "/home/li/.config/Parlino"},
      {"relative/cfg", "/home/li", "/home/li/.config/Parlino"},  // relative values are ignored
      {nullptr, nullptr, current / "Parlino"},
      {"relative/cfg", "relative/home", current / "Parlino"},
  };
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(ConfigDirectory(), c.expected) << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
    EXPECT_EQ(ConfigFilePath(), c.expected / "config.toml");
  }
}

TEST_F(ConfigFileTest, ChineseConfigFolderLoadsAndSaves) {
  const std::filesystem::path xdg = scratch_.path() / u8"用户 张三" / u8"配置";
  ScopedEnv env("XDG_CONFIG_HOME", xdg.c_str());
  const std::filesystem::path file = xdg / "Parlino" / "config.toml";
  ASSERT_EQ(ConfigFilePath(), file);

  const AppConfig config{.listen_port = 50000, .overlay_position = OverlayPosition::BottomLeft};
  SaveAppConfig(config);
  EXPECT_EQ(ReadBytes(file), FormatAppConfig(config));
  EXPECT_EQ(LoadAppConfig(), config);

  WriteBytes(file, "overlay_theme_color = \"Pink\"\n");
  EXPECT_EQ(LoadAppConfig(), AppConfig{.overlay_theme_color = OverlayThemeColor::Pink});
}

TEST_F(ConfigFileTest, SaveWithNoPossibleFolderIsSilentAndLogsNothing) {
  // Lines of the tests run before this one in the same process go.
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  WriteBytes(scratch_.path() / "blocker", "x");
  ScopedEnv env("XDG_CONFIG_HOME", (scratch_.path() / "blocker").c_str());
  SaveAppConfig(AppConfig{.listen_port = 6000});
  EXPECT_EQ(ReadBytes(scratch_.path() / "blocker"), "x");
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"blocker"});
  EXPECT_EQ(LoadAppConfig(), AppConfig{});
  EXPECT_FALSE(std::filesystem::exists(LogDirectory() / kLogFileName));
}

}  // namespace
}  // namespace lumora
