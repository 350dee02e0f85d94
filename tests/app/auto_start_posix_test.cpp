// Start with the session: the desktop entry's Exec line for awkward paths, and
// the entry written and removed in the XDG configuration home.

#include "app/auto_start_posix.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace lumora {
namespace {

TEST(AutoStartTest, ExecQuotesAndEscapesWhatTheEntryRulesReserve) {
  struct Case {
    const char* program;
    const char* exec;  // empty: no entry can start it
  };
  // The value is unescaped twice by a reader: once as a string ("\\\\" is
  // "\\"), once inside the quotes ("\\" is "\").
  const Case cases[] = {
      {"/usr/bin/lumora-voice-input", "\"/usr/bin/lumora-voice-input\""},
      {"/opt/My Apps/lumora", "\"/opt/My Apps/lumora\""},
      {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
      {"/opt/$HOME`x`", "\"/opt/\\\\$HOME\\\\`x\\\\`\""},
      {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\""},
      {"/opt/100%/x", "\"/opt/100%%/x\""},
      {"/opt/line\nbreak", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(DesktopEntryExec(c.program), c.exec);
  }
}

class AutoStartFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("parlino-autostart-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path home_;
};

TEST_F(AutoStartFileTest, OnWritesTheEntryBesideTheSettingsAndOffRemovesIt) {
  const std::filesystem::path entry = home_ / "autostart" / kAutoStartEntryName;
  ASSERT_EQ(AutoStartEntryPath(), entry);
  ASSERT_TRUE(ApplyAutoStart(true, "/opt/lumora voice/lumora-voice-input"));
  const std::string text = Read(entry);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nExec=\"/opt/lumora voice/lumora-voice-input\"\n"), std::string::npos);
  // Again, over the entry there: still one whole entry.
  ASSERT_TRUE(ApplyAutoStart(true, "/usr/bin/lumora-voice-input"));
  EXPECT_NE(Read(entry).find("\nExec=\"/usr/bin/lumora-voice-input\"\n"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(entry.parent_path()), {}), 1);

  ASSERT_TRUE(ApplyAutoStart(false));
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(ApplyAutoStart(false)) << "already off is off";
}

TEST_F(AutoStartFileTest, AnEntryThatCannotBeWrittenIsAFailure) {
  // A file where the folder should be: no entry can go in, for root too.
  std::ofstream(home_ / "autostart") << "not a folder";
  EXPECT_FALSE(ApplyAutoStart(true, "/usr/bin/lumora-voice-input"));
}

}  // namespace
}  // namespace lumora
