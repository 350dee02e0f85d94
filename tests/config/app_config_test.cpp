#include "config/app_config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/config/config_test_support.h"

namespace lumora {
namespace {

using test::ConfigFileTest;
using test::FolderEntries;
using test::ReadBytes;
using test::WriteBytes;

// What versions before the known phones wrote, and still the start of every file.
constexpr std::string_view kSevenLineFile =
    "# Parlino config\r\n"
    "listen_port = 47823\r\n"
    "press_enter_on_commit = true\r\n"
    "use_clipboard_paste = false\r\n"
    "auto_start = true\r\n"
    "overlay_theme_color = \"white\"\r\n"
    "overlay_position = \"center\"\r\n";

const std::string kDefaultFile =
    std::string(kSevenLineFile) + "confirm_new_phones = true\r\nknown_phones = []\r\n";

AppConfig WithPhones(std::vector<KnownPhone> phones) {
  AppConfig config;
  config.known_phones = std::move(phones);
  return config;
}

// Lines of a file that must end every line in CR LF; fails on a bare LF.
std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
      lines.push_back(bytes.substr(start, i - 1 - start));
      start = i + 1;
    }
  }
  EXPECT_EQ(start, bytes.size()) << "last line has no line break";
  return lines;
}

TEST_F(ConfigFileTest, SettingsComeFromTheTextKeyByKey) {
  struct Case {
    std::string text;
    AppConfig expected;
  };
  const AppConfig defaults;
  const Case cases[] = {
      {"", defaults},
      {"listen_port = 5000", {.listen_port = 5000}},
      // The port's range and the types that can give it.
      {"listen_port = 1024", {.listen_port = 1024}},
      {"listen_port = 65535", {.listen_port = 65535}},
      {"listen_port = 1023", defaults},
      {"listen_port = 65536", defaults},
      {"listen_port = 0", defaults},
      {"listen_port = -1", defaults},
      {"listen_port = 4294972296", defaults},           // 5000 in 32 bits
      {"listen_port = 9223372036854775807", defaults},  // largest 64-bit
      {"listen_port = -9223372036854775808", defaults},
      {"listen_port = 0x1F90", {.listen_port = 8080}},
      {"listen_port = 1_0_2_4", {.listen_port = 1024}},
      {"listen_port = 8080.0", {.listen_port = 8080}},
      {"listen_port = 5e3", {.listen_port = 5000}},
      {"listen_port = 1024.0", {.listen_port = 1024}},
      {"listen_port = 8080.5", defaults},
      {"listen_port = 1023.9999", defaults},
      {"listen_port = 65535.5", defaults},
      {"listen_port = 1e300", defaults},
      {"listen_port = -8080.0", defaults},
      {"listen_port = inf", defaults},
      {"listen_port = -inf", defaults},
      {"listen_port = nan", defaults},
      {"listen_port = \"5000\"", defaults},
      {"listen_port = true", defaults},
      {"listen_port = [5000]", defaults},
      {"listen_port = { value = 5000 }", defaults},
      {"listen_port = 1979-05-27", defaults},
      // Switches: booleans, or integers as C reads them.
      {"press_enter_on_commit = false", {.press_enter_on_commit = false}},
      {"press_enter_on_commit = 0", {.press_enter_on_commit = false}},
      {"use_clipboard_paste = 2", {.use_clipboard_paste = true}},
      {"press_enter_on_commit = \"false\"", defaults},
      {"press_enter_on_commit = 0.0", defaults},
      {"use_clipboard_paste = true", {.use_clipboard_paste = true}},
      {"use_clipboard_paste = 1", {.use_clipboard_paste = true}},
      {"use_clipboard_paste = -9223372036854775808", {.use_clipboard_paste = true}},
      {"use_clipboard_paste = \"true\"", defaults},
      {"use_clipboard_paste = 1.0", defaults},
      {"use_clipboard_paste = [true]", defaults},
      {"auto_start = false", {.auto_start = false}},
      {"auto_start = 0", {.auto_start = false}},
      {"auto_start = 0x0", {.auto_start = false}},
      {"auto_start = \"no\"", defaults},
      {"confirm_new_phones = false", {.confirm_new_phones = false}},
      {"confirm_new_phones = 0", {.confirm_new_phones = false}},
      {"confirm_new_phones = \"false\"", defaults},
      // Names as ParseThemeColor and ParsePosition read them (their own table
      // below), from any form of TOML string and from nothing else.
      {"overlay_theme_color = \"Purple\"", {.overlay_theme_color = OverlayThemeColor::Purple}},
      {"overlay_theme_color = 'blue'", {.overlay_theme_color = OverlayThemeColor::Blue}},
      {"overlay_theme_color = \"\"\"green\"\"\"", {.overlay_theme_color = OverlayThemeColor::Green}},
      {"overlay_theme_color = 3", defaults},
      {"overlay_theme_color = true", defaults},
      {"overlay_position = \"TOP_LEFT\"", {.overlay_position = OverlayPosition::TopLeft}},
      {"overlay_position = 2", defaults},
      // Only exact top-level keys are seen.
      {"[overlay]\noverlay_position = \"top_left\"", defaults},
      {"listen_port = 5000\n[server]\nauto_start = false", {.listen_port = 5000}},
      {"overlay.overlay_position = \"top_left\"", defaults},
      {"[[listen_port]]\nvalue = 5000", defaults},
      {"Listen_Port = 5000\nAUTO_START = false", defaults},
      {"\"listen_port\" = 5000", {.listen_port = 5000}},
      {"listen_port = 5000 # mine\nwindow_width = 800\nname = \"x\"", {.listen_port = 5000}},
      // Text that is not TOML gives every default, even for the keys before the fault.
      {"listen_port = 5000\nauto_start = false\noverlay_theme_color = \"pink\nuse_clipboard_paste = true",
       defaults},
      {"auto_start = false\nlisten_port = 99999999999999999999", defaults},  // beyond 64 bits
      {"auto_start = false\nlisten_port = 1e400", defaults},
      {"listen_port = 5000\nlisten_port = 6000", defaults},
      {"listen_port = 5000\nauto_start = false\nthis line is not toml", defaults},
      {"listen_port = 5000\noverlay_position = \"top_left\xFF\"", defaults},  // not UTF-8
      {std::string("listen_port = 5000\nauto_start = false\n\0", 39), defaults},
      {"listen_port = 5000\rauto_start = false", defaults},
      {"listen_port = 5000\n[设置]\nauto_start = false", defaults},  // not a bare key
      {"listen_port = 5000\n[=]", defaults},
      {"listen_port = 5000\n[[ #]]", defaults},
      {std::string("listen_port = 5000\n[\0]", 22), defaults},
      {std::string(64, '\0'), defaults},  // what a crash can leave of a file
      // Characters toml++ 3.3.0 mishandles while skipping blanks (U+00A1..U+0499,
      // U+2C5E..U+2FFF, U+3001..U+3057, U+FB26..U+FEFE), where TOML allows them and where it does not.
      {"# 设置、说明。café «Ω» ﹏\nlisten_port = 5000", {.listen_port = 5000}},
      {"note = \"\"\"first \\\n、second\"\"\"\nlisten_port = 5000", {.listen_port = 5000}},
      {"note = \"\"\"\\\n   é\"\"\"\nauto_start = 0", {.auto_start = false}},
      {"\"é\" = 1\n\"ü\" = 2\nlisten_port = 5000", {.listen_port = 5000}},
      {"overlay_theme_color = \"pink、\"", defaults},
      {"listen_port = 5000 、", defaults},
      {"listen_port = 5000\nauto_start = false。", defaults},
      {"listen_port = 5000\ncafé = 1", defaults},
      {"listen_port = 5000\n、 = 1", defaults},
      {"listen_port = 5000 \xE0\x82\xA1", defaults},  // U+00A1 overlong: not UTF-8
      // The forms editors save: a BOM, CR LF, blanks and comments.
      {"\xEF\xBB\xBFlisten_port = 5000", {.listen_port = 5000}},
      {"# mine\r\n\r\n  listen_port\t=\t6000  # here\r\nauto_start = false\r\n",
       {.listen_port = 6000, .auto_start = false}},
      {"overlay_position = \"bottom_left\"\nauto_start = 0\nuse_clipboard_paste = true\n"
       "press_enter_on_commit = false\noverlay_theme_color = \"yellow\"\nlisten_port = 50000\n",
       {.listen_port = 50000,
        .overlay_theme_color = OverlayThemeColor::Yellow,
        .overlay_position = OverlayPosition::BottomLeft,
        .press_enter_on_commit = false,
        .use_clipboard_paste = true,
        .auto_start = false}},
  };
  const std::filesystem::path file = ConfigFilePath();
  for (const Case& c : cases) {
    EXPECT_EQ(ParseAppConfig(c.text), c.expected) << c.text;
    WriteBytes(file, c.text);
    EXPECT_EQ(LoadAppConfig(), c.expected) << "from the file: " << c.text;
  }
}

TEST_F(ConfigFileTest, MissingOrUnreadableFileGivesDefaults) {
  ASSERT_FALSE(std::filesystem::exists(ConfigFilePath()));
  EXPECT_EQ(LoadAppConfig(), AppConfig{});

  // A folder where the file should be.
  std::filesystem::create_directories(ConfigFilePath() / "inside");
  EXPECT_EQ(LoadAppConfig(), AppConfig{});
}

// A file that exists but cannot be read gives the defaults in memory; a save
// of those must not replace it. A folder stands in for the file that another
// program holds, then the user's file is back, as when that program lets go.
TEST_F(ConfigFileTest, FileThatCouldNotBeReadIsKeptUntilItIsRead) {
  const std::filesystem::path file = scratch_.path() / "config.toml";
  const std::string users = "listen_port = 5000\r\n";
  const AppConfig changed{.listen_port = 6000};

  std::filesystem::create_directories(file);
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{});
  std::filesystem::remove(file);
  WriteBytes(file, users);
  EXPECT_FALSE(detail::SaveAppConfigTo(file, changed));
  EXPECT_EQ(ReadBytes(file), users);
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"config.toml"});

  // Read once, it is known: saves replace it again.
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{.listen_port = 5000});
  EXPECT_TRUE(detail::SaveAppConfigTo(file, changed));
  EXPECT_EQ(detail::LoadAppConfigFrom(file), changed);

  // Gone meanwhile: nothing is lost, the save makes a new file.
  std::filesystem::remove(file);
  std::filesystem::create_directories(file);
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{});
  std::filesystem::remove(file);
  EXPECT_TRUE(detail::SaveAppConfigTo(file, changed));
  EXPECT_EQ(ReadBytes(file), FormatAppConfig(changed));

  // A malformed file was read: it gives the defaults and a save replaces it.
  WriteBytes(file, "listen_port = = 1\r\n");
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{});
  EXPECT_TRUE(detail::SaveAppConfigTo(file, changed));
  EXPECT_EQ(ReadBytes(file), FormatAppConfig(changed));
}

TEST(ConfigNamesTest, DisplayNamesInMenuOrder) {
  const std::vector<std::string_view> colors = {"白", "粉", "绿", "黄", "蓝", "紫"};
  const std::vector<std::string_view> positions = {"居中", "左上", "右上", "左下", "右下"};
  ASSERT_EQ(colors.size(), static_cast<size_t>(kOverlayThemeColorCount));
  ASSERT_EQ(positions.size(), static_cast<size_t>(kOverlayPositionCount));
  for (std::int32_t i = 0; i < kOverlayThemeColorCount; ++i) {
    EXPECT_EQ(ThemeColorDisplayName(static_cast<OverlayThemeColor>(i)), colors[static_cast<size_t>(i)]);
  }
  for (std::int32_t i = 0; i < kOverlayPositionCount; ++i) {
    EXPECT_EQ(PositionDisplayName(static_cast<OverlayPosition>(i)), positions[static_cast<size_t>(i)]);
  }
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  for (std::int32_t value : {-1, 6, kMin, kMax}) {
    EXPECT_EQ(ThemeColorDisplayName(static_cast<OverlayThemeColor>(value)), "白") << value;
  }
  for (std::int32_t value : {-1, 5, kMin, kMax}) {
    EXPECT_EQ(PositionDisplayName(static_cast<OverlayPosition>(value)), "居中") << value;
  }
}

// Each text through both parsers: whole names only, in any case of their ASCII letters.
TEST(ConfigNamesTest, ParseMatchesWholeNamesInAnyAsciiCase) {
  using Color = OverlayThemeColor;
  using Position = OverlayPosition;
  struct Case {
    std::string text;
    Color color;
    Position position;
  };
  const Case cases[] = {
      {"white", Color::White, Position::Center},
      {"pink", Color::Pink, Position::Center},
      {"green", Color::Green, Position::Center},
      {"yellow", Color::Yellow, Position::Center},
      {"blue", Color::Blue, Position::Center},
      {"purple", Color::Purple, Position::Center},
      {"center", Color::White, Position::Center},
      {"top_left", Color::White, Position::TopLeft},
      {"top_right", Color::White, Position::TopRight},
      {"bottom_left", Color::White, Position::BottomLeft},
      {"bottom_right", Color::White, Position::BottomRight},
      {"Purple", Color::Purple, Position::Center},
      {"gReEn", Color::Green, Position::Center},
      {"TOP_LEFT", Color::White, Position::TopLeft},
      {"Bottom_Right", Color::White, Position::BottomRight},
      {"", Color::White, Position::Center},
      {"red", Color::White, Position::Center},
      {"pinkk", Color::White, Position::Center},
      {" pink", Color::White, Position::Center},
      {std::string("pink\0", 5), Color::White, Position::Center},
      {"top-left", Color::White, Position::Center},
      {"top left", Color::White, Position::Center},
      {"left", Color::White, Position::Center},
      {"粉", Color::White, Position::Center},
      {"左上", Color::White, Position::Center},
      {"1", Color::White, Position::Center},
      {"PİNK", Color::White, Position::Center},  // dotted capital I is not ASCII
      {std::string(1000, 'a') + "pink", Color::White, Position::Center},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseThemeColor(c.text), c.color) << c.text;
    EXPECT_EQ(ParsePosition(c.text), c.position) << c.text;
  }
}

TEST_F(ConfigFileTest, DefaultFileIsNineCrLfLines) {
  SaveAppConfig(AppConfig{});
  const std::string bytes = ReadBytes(ConfigFilePath());
  EXPECT_EQ(bytes, kDefaultFile);
  EXPECT_EQ(CrLfLines(bytes).size(), 9u);
  EXPECT_EQ(FormatAppConfig(AppConfig{}), kDefaultFile);
  EXPECT_EQ(LoadAppConfig(), AppConfig{});

  // A file of an earlier version: asking first, and nobody allowed yet.
  WriteBytes(ConfigFilePath(), kSevenLineFile);
  EXPECT_EQ(LoadAppConfig(), AppConfig{});
}

TEST_F(ConfigFileTest, OutOfRangeValuesAreSavedAsDefaults) {
  struct Case {
    AppConfig config;
    std::string line;  // replaces the default file's line of the same key
  };
  const Case cases[] = {
      {{.listen_port = 1023}, "listen_port = 47823"},
      {{.listen_port = 65536}, "listen_port = 47823"},
      {{.listen_port = std::numeric_limits<std::int32_t>::min()}, "listen_port = 47823"},
      {{.listen_port = std::numeric_limits<std::int32_t>::max()}, "listen_port = 47823"},
      {{.listen_port = 1024}, "listen_port = 1024"},
      {{.listen_port = 65535}, "listen_port = 65535"},
      {{.overlay_theme_color = static_cast<OverlayThemeColor>(6)}, "overlay_theme_color = \"white\""},
      {{.overlay_theme_color = static_cast<OverlayThemeColor>(-1)}, "overlay_theme_color = \"white\""},
      {{.overlay_theme_color = OverlayThemeColor::Purple}, "overlay_theme_color = \"purple\""},
      {{.overlay_position = static_cast<OverlayPosition>(5)}, "overlay_position = \"center\""},
      {{.overlay_position = static_cast<OverlayPosition>(-7)}, "overlay_position = \"center\""},
      {{.overlay_position = OverlayPosition::BottomRight}, "overlay_position = \"bottom_right\""},
      {{.press_enter_on_commit = false}, "press_enter_on_commit = false"},
      {{.use_clipboard_paste = true}, "use_clipboard_paste = true"},
      {{.auto_start = false}, "auto_start = false"},
      {{.confirm_new_phones = false}, "confirm_new_phones = false"},
  };
  for (const Case& c : cases) {
    std::string expected(kDefaultFile);
    const std::string key = "\n" + c.line.substr(0, c.line.find(" = ") + 3);
    const size_t at = expected.find(key);
    ASSERT_NE(at, std::string::npos) << c.line;
    const size_t start = at + 1;
    expected.replace(start, expected.find('\r', start) - start, c.line);

    SaveAppConfig(c.config);
    EXPECT_EQ(ReadBytes(ConfigFilePath()), expected) << c.line;
  }
}

TEST_F(ConfigFileTest, SaveAfterHandEditKeepsOnlyItsOwnLines) {
  const std::string edited =
      "# my settings, do not lose\n"
      "auto_start = false\n"
      "listen_port = 50123   # the router forwards this one\n"
      "window_width = 800\n"
      "overlay_position = \"Top_Right\"\n"
      "[extra]\n"
      "note = \"hello\"\n"
      "[[known_phones]]\n"
      "name = \"Café 的手机\"  # raw, as an editor saves it\n"
      "address = \"192.168.1.23\"\n";
  WriteBytes(ConfigFilePath(), edited);
  const AppConfig loaded = LoadAppConfig();
  const AppConfig expected{.listen_port = 50123,
                           .overlay_position = OverlayPosition::TopRight,
                           .auto_start = false,
                           .known_phones = {{"Café 的手机", "", "192.168.1.23"}}};
  ASSERT_EQ(loaded, expected);

  SaveAppConfig(loaded);
  const std::string bytes = ReadBytes(ConfigFilePath());
  EXPECT_EQ(bytes,
            "# Parlino config\r\n"
            "listen_port = 50123\r\n"
            "press_enter_on_commit = true\r\n"
            "use_clipboard_paste = false\r\n"
            "auto_start = false\r\n"
            "overlay_theme_color = \"white\"\r\n"
            "overlay_position = \"top_right\"\r\n"
            "confirm_new_phones = true\r\n"
            "known_phones = [\r\n"
            "  { name = \"Caf\\u00E9 的手机\", hardware_address = \"\", address = \"192.168.1.23\" },\r\n"
            "]\r\n");
  EXPECT_EQ(CrLfLines(bytes).size(), 11u);
  EXPECT_EQ(LoadAppConfig(), expected);
}

// After the six settings every version reads: the switch, then one inline
// table a line, in the order the phones were allowed, in the form a load gives.
TEST(MergeDialogChoicesTest, ChangesMadeElsewhereWhileTheDialogWasOpenStay) {
  const KnownPhone mine{"mine", "", "192.168.1.2"};
  const KnownPhone old{"old", "", "192.168.1.3"};
  const KnownPhone allowed_meanwhile{"new", "", "192.168.1.4"};
  AppConfig opened;
  opened.known_phones = {mine, old};
  struct Case {
    const char* name;
    std::function<void(AppConfig&)> in_dialog;
    std::function<void(AppConfig&)> meanwhile;
    std::function<void(AppConfig&)> want;  // applied to `opened`
  };
  const Case cases[] = {
      {"port in the dialog, Enter and paste from the tray", [](AppConfig& c) { c.listen_port = 50000; },
       [](AppConfig& c) {
         c.press_enter_on_commit = false;
         c.use_clipboard_paste = true;
       },
       [](AppConfig& c) {
         c.listen_port = 50000;
         c.press_enter_on_commit = false;
         c.use_clipboard_paste = true;
       }},
      {"the same setting in both: the dialog's OK came last", [](AppConfig& c) { c.auto_start = false; },
       [](AppConfig& c) { c.auto_start = false; }, [](AppConfig& c) { c.auto_start = false; }},
      {"theme from the tray, position in the dialog",
       [](AppConfig& c) { c.overlay_position = OverlayPosition::TopLeft; },
       [](AppConfig& c) { c.overlay_theme_color = OverlayThemeColor::Green; },
       [](AppConfig& c) {
         c.overlay_position = OverlayPosition::TopLeft;
         c.overlay_theme_color = OverlayThemeColor::Green;
       }},
      {"a phone forgotten in the dialog, another allowed meanwhile",
       [&](AppConfig& c) { c.known_phones = {mine}; },
       [&](AppConfig& c) { c.known_phones.push_back(allowed_meanwhile); },
       [&](AppConfig& c) {
         c.known_phones = {mine, allowed_meanwhile};
       }},
      {"asking turned off in the dialog", [](AppConfig& c) { c.confirm_new_phones = false; },
       [](AppConfig&) {}, [](AppConfig& c) { c.confirm_new_phones = false; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppConfig chosen = opened;
    c.in_dialog(chosen);
    AppConfig live = opened;
    c.meanwhile(live);
    AppConfig want = opened;
    c.want(want);
    EXPECT_EQ(MergeDialogChoices(opened, chosen, live), want);
  }
}

TEST(ConfigPhonesTest, PhonesAreWrittenOneInlineTableALine) {
  struct Case {
    const char* what;
    std::vector<KnownPhone> phones;
    std::string tail;  // the lines after "confirm_new_phones = true"
  };
  const Case cases[] = {
      {"none", {}, "known_phones = []\r\n"},
      {"one",
       {{"Pixel 8", "aa:bb:cc:dd:ee:ff", "192.168.1.23"}},
       "known_phones = [\r\n"
       "  { name = \"Pixel 8\", hardware_address = \"aa:bb:cc:dd:ee:ff\", address = \"192.168.1.23\" },\r\n"
       "]\r\n"},
      {"escapes",
       {{std::string("say \"hi\"\\\b\t\n\f\r\x01\x1F\x7F\0.", 19), "AA:BB:CC:DD:EE:0F", "10.0.0.1"}},
       "known_phones = [\r\n"
       "  { name = \"say \\\"hi\\\"\\\\\\b\\t\\n\\f\\r\\u0001\\u001F\\u007F\\u0000.\", "
       "hardware_address = \"aa:bb:cc:dd:ee:0f\", address = \"10.0.0.1\" },\r\n"
       "]\r\n"},
      // Chinese and emoji as they are; what toml++ trips over escaped.
      {"beyond ASCII",
       {{"张三 é、😀", "", "10.0.0.1"}},
       "known_phones = [\r\n"
       "  { name = \"张三 \\u00E9\\u3001😀\", hardware_address = \"\", address = \"10.0.0.1\" },\r\n"
       "]\r\n"},
      {"not UTF-8",
       {{"ab\xFF", "", "10.0.0.1"}},
       "known_phones = [\r\n"
       "  { name = \"ab\xEF\xBF\xBD\", hardware_address = \"\", address = \"10.0.0.1\" },\r\n"
       "]\r\n"},
      {"only what a load keeps",
       {{"A", "AA:BB:CC:DD:EE:FF", "10.0.0.1"},
        {"bad address", "", "10.0.0.256"},
        {"A", "aa:bb:cc:dd:ee:ff", "10.0.0.1"},
        {"B", "aa-bb-cc-dd-ee-ff", "10.0.0.2"}},
       "known_phones = [\r\n"
       "  { name = \"A\", hardware_address = \"aa:bb:cc:dd:ee:ff\", address = \"10.0.0.1\" },\r\n"
       "  { name = \"B\", hardware_address = \"\", address = \"10.0.0.2\" },\r\n"
       "]\r\n"},
      {"none the file can keep", {{"bad address", "", "localhost"}}, "known_phones = []\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = FormatAppConfig(WithPhones(c.phones));
    EXPECT_EQ(bytes, std::string(kSevenLineFile) + "confirm_new_phones = true\r\n" + c.tail);
    CrLfLines(bytes);
  }
}

// Names come from the network: any bytes save and load back as they were,
// or, where a file cannot hold them, as well-formed UTF-8 of at most 120 bytes.
TEST_F(ConfigFileTest, AnyPhoneNameSavesAndLoadsBack) {
  std::string controls;
  for (char c = 0; c < 0x20; ++c) {
    controls += c;
  }
  controls += '\x7F';
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string name;
    std::string loaded;
  };
  const Case cases[] = {
      {"plain", "Pixel 8", "Pixel 8"},
      {"empty", "", ""},
      {"quotes and backslashes", "say \"hi\" \\ C:\\phone\\", "say \"hi\" \\ C:\\phone\\"},
      {"line breaks and tabs", "one\r\ntwo\tthree\n", "one\r\ntwo\tthree\n"},
      {"every control character", controls, controls},
      {"Chinese and emoji", "张三的手机 📱😀", "张三的手机 📱😀"},
      {"what toml++ trips over", "Café «Ω» 、ぁ ﹏ Жизнь", "Café «Ω» 、ぁ ﹏ Жизнь"},
      // U+F00E9, where a read moves an é out of toml++'s way.
      {"plane 15 beside what is moved there", "é\xF3\xB0\x83\xA9", "é\xF3\xB0\x83\xA9"},
      {"not UTF-8", "ab\xFF\xC0\xE4\xB8", "ab" + fffd + fffd + fffd + fffd},
      {"200 bytes", std::string(200, 'x'), std::string(120, 'x')},
      {"120 bytes ending in an emoji", std::string(116, 'x') + "😀", std::string(116, 'x') + "😀"},
      {"a character across byte 120", std::string(118, 'x') + "😀", std::string(118, 'x')},
      {"Chinese across byte 120", std::string(119, 'x') + "张", std::string(119, 'x')},
      {"a bad byte at 120", std::string(119, 'x') + "\xFF", std::string(119, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppConfig config{.listen_port = 5000, .confirm_new_phones = false};
    config.known_phones = {{c.name, "AA:bb:CC:dd:EE:ff", "10.0.0.7"}, {"other", "", "10.0.0.8"}};
    SaveAppConfig(config);
    AppConfig want = config;
    want.known_phones = {{c.loaded, "aa:bb:cc:dd:ee:ff", "10.0.0.7"}, {"other", "", "10.0.0.8"}};
    const AppConfig loaded = LoadAppConfig();
    EXPECT_EQ(loaded, want);
    // Saved again, the same bytes.
    const std::string bytes = ReadBytes(ConfigFilePath());
    EXPECT_EQ(FormatAppConfig(loaded), bytes);
    EXPECT_EQ(CrLfLines(bytes).size(), 12u);
  }
}

TEST(ConfigPhonesTest, EntriesComeFromTheFileOneByOne) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<KnownPhone> phones;
  };
  const Case cases[] = {
      {"empty", "known_phones = []", {}},
      {"not a list", "known_phones = \"10.0.0.1\"", {}},
      {"a table, not a list", "known_phones = { name = \"A\", address = \"10.0.0.1\" }", {}},
      {"entries that are not tables",
       "known_phones = [ \"A\", 5, [\"10.0.0.1\"], { name = \"A\", address = \"10.0.0.1\" } ]",
       {{"A", "", "10.0.0.1"}}},
      {"fields that are not strings",
       "known_phones = [ { name = 5, address = \"10.0.0.1\" },\n"
       "  { name = \"A\", hardware_address = false, address = \"10.0.0.1\" },\n"
       "  { name = \"A\", address = 167772161 },\n"
       "  { name = [\"A\"], address = \"10.0.0.1\" },\n"
       "  { name = \"B\", address = \"10.0.0.2\" } ]",
       {{"B", "", "10.0.0.2"}}},
      {"a missing name or hardware address is empty, a missing address spoils",
       "known_phones = [ { address = \"10.0.0.1\" }, { name = \"B\" } ]",
       {{"", "", "10.0.0.1"}}},
      {"keys of later versions",
       "known_phones = [ { name = \"A\", address = \"10.0.0.1\", since = 1979-05-27 } ]",
       {{"A", "", "10.0.0.1"}}},
      {"a repeated phone once, in its first place",
       "known_phones = [ { name = \"A\", hardware_address = \"AA:BB:CC:DD:EE:FF\", address = \"10.0.0.1\" "
       "},\n"
       "  { name = \"B\", address = \"10.0.0.2\" },\n"
       "  { name = \"A\", hardware_address = \"aa:bb:cc:dd:ee:ff\", address = \"10.0.0.1\" },\n"
       "  { name = \"a\", hardware_address = \"aa:bb:cc:dd:ee:ff\", address = \"10.0.0.1\" },\n"
       "  { name = \"A\", address = \"10.0.0.1\" } ]",
       {{"A", "aa:bb:cc:dd:ee:ff", "10.0.0.1"},
        {"B", "", "10.0.0.2"},
        {"a", "aa:bb:cc:dd:ee:ff", "10.0.0.1"},
        {"A", "", "10.0.0.1"}}},
      {"as an array of tables",
       "[[known_phones]]\nname = \"A\"\naddress = \"10.0.0.1\"\n[[known_phones]]\nname = 'C:\\phone'\n"
       "address = \"10.0.0.2\"",
       {{"A", "", "10.0.0.1"}, {"C:\\phone", "", "10.0.0.2"}}},
      {"inside a table", "[phones]\nknown_phones = [ { name = \"A\", address = \"10.0.0.1\" } ]", {}},
      {"escapes",
       "known_phones = [ { name = \"a\\u0000b\\U0001F600\", address = \"10.0.0.1\" } ]",
       {{std::string("a\0b😀", 7), "", "10.0.0.1"}}},
      {"what toml++ trips over, written by hand",
       "# 设置、说明\nknown_phones = [ { name = \"Café、\", address = \"10.0.0.1\" } ]",
       {{"Café、", "", "10.0.0.1"}}},
      {"a long name",
       "known_phones = [ { name = \"" + std::string(130, 'x') + "\", address = \"10.0.0.1\" } ]",
       {{std::string(120, 'x'), "", "10.0.0.1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ParseAppConfig(c.text).known_phones, c.phones) << c.text;
  }
}

TEST(ConfigPhonesTest, AFileHoldsTheFirst32DistinctPhones) {
  const auto phone = [](int i) {
    return KnownPhone{"phone " + std::to_string(i), "", "10.0.0." + std::to_string(i)};
  };
  const auto entry = [](const KnownPhone& p) {
    return "  { name = \"" + p.name + "\", address = \"" + p.address + "\" },\n";
  };
  std::vector<KnownPhone> first32;
  std::string text = "known_phones = [\n";
  for (int i = 1; i <= 40; ++i) {
    text += entry(phone(i));
    if (i <= 10) {
      // Neither counts.
      text += entry(phone(i));
      text += entry({"bad", "", "10.0.0." + std::to_string(255 + i)});
    }
    if (i <= 32) {
      first32.push_back(phone(i));
    }
  }
  text += "]\n";
  EXPECT_EQ(ParseAppConfig(text).known_phones, first32);

  // A record with more saves only those that a load would keep.
  std::vector<KnownPhone> forty;
  for (int i = 1; i <= 40; ++i) {
    forty.push_back(phone(i));
  }
  const std::string bytes = FormatAppConfig(WithPhones(forty));
  EXPECT_EQ(CrLfLines(bytes).size(), 9u + 32u + 1u);
  EXPECT_EQ(ParseAppConfig(bytes).known_phones, first32);
}

TEST(ConfigPhonesTest, TheFileKeepsAStrictIpv4AddressAndAHardwareAddressOrNone) {
  // The address as ParseIpv4 reads it (its own table): strict, or the phone is not kept.
  EXPECT_EQ(NormalizedKnownPhone({"A", "", "192.168.1.23"})->address, "192.168.1.23");
  for (const char* address : {"", "01.2.3.4", "1.2.3.4:47823", "localhost"}) {
    EXPECT_FALSE(NormalizedKnownPhone({"A", "", address}).has_value()) << address;
  }

  struct Hardware {
    const char* given;
    const char* kept;
  };
  const Hardware hardware[] = {
      {"aa:bb:cc:dd:ee:ff", "aa:bb:cc:dd:ee:ff"},
      {"AA:BB:CC:DD:EE:0F", "aa:bb:cc:dd:ee:0f"},
      {"00:1A:2b:3C:4d:5E", "00:1a:2b:3c:4d:5e"},
      {"", ""},
      {"aa-bb-cc-dd-ee-ff", ""},
      {"aa:bb:cc:dd:ee", ""},
      {"aa:bb:cc:dd:ee:ff:00", ""},
      {"aa:bb:cc:dd:ee:f", ""},
      {"ag:bb:cc:dd:ee:ff", ""},
      {" aa:bb:cc:dd:ee:ff", ""},
      {"aabb:cc:dd:ee:ff:", ""},
      {"aabbccddeeff", ""},
  };
  for (const Hardware& h : hardware) {
    const std::optional<KnownPhone> phone = NormalizedKnownPhone({"A", h.given, "10.0.0.1"});
    ASSERT_TRUE(phone.has_value()) << h.given;
    EXPECT_EQ(phone->hardware_address, h.kept) << h.given;
  }
}

TEST_F(ConfigFileTest, EveryThemeAndPositionSurvivesSaveAndLoad) {
  int round = 0;
  for (std::int32_t color = 0; color < kOverlayThemeColorCount; ++color) {
    for (std::int32_t position = 0; position < kOverlayPositionCount; ++position, ++round) {
      const AppConfig config{
          .listen_port = kMinListenPort + round * 2111,
          .overlay_theme_color = static_cast<OverlayThemeColor>(color),
          .overlay_position = static_cast<OverlayPosition>(position),
          .press_enter_on_commit = (round & 1) != 0,
          .use_clipboard_paste = (round & 2) != 0,
          .auto_start = (round & 4) != 0,
          .confirm_new_phones = (round & 8) != 0,
      };
      SaveAppConfig(config);
      EXPECT_EQ(LoadAppConfig(), config);
      EXPECT_EQ(ParseThemeColor(ThemeColorFileName(config.overlay_theme_color)), config.overlay_theme_color);
      EXPECT_EQ(ParsePosition(PositionFileName(config.overlay_position)), config.overlay_position);
    }
  }
}

// A save cut short at any step: the file keeps its old bytes and no
// half-written file stays beside it.
TEST_F(ConfigFileTest, FailedSaveLeavesOldFileWholeAndNoTempFile) {
  using detail::SaveFault;
  using detail::SaveStep;
  const AppConfig changed{.listen_port = 6000, .overlay_theme_color = OverlayThemeColor::Blue};
  const size_t full = FormatAppConfig(changed).size();
  const SaveFault faults[] = {
      {SaveStep::Write, 0},    {SaveStep::Write, 1}, {SaveStep::Write, 40},  {SaveStep::Write, full - 1},
      {SaveStep::Write, full}, {SaveStep::Flush, 0}, {SaveStep::Replace, 0},
  };
  const std::string old_bytes = "# mine\nlisten_port = 5000\noverlay_position = \"top_left\"\n";
  const AppConfig old_config{.listen_port = 5000, .overlay_position = OverlayPosition::TopLeft};
  const std::filesystem::path folder = scratch_.path() / u8"设置 副本";
  const std::filesystem::path file = folder / "config.toml";

  for (const SaveFault& fault : faults) {
    const std::string label = "step " + std::to_string(static_cast<int>(fault.fail_at)) + " after " +
                              std::to_string(fault.bytes_written);
    WriteBytes(file, old_bytes);
    EXPECT_FALSE(detail::SaveAppConfigTo(file, changed, fault)) << label;
    EXPECT_EQ(ReadBytes(file), old_bytes) << label;
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"config.toml"}) << label;
    EXPECT_EQ(detail::LoadAppConfigFrom(file), old_config) << label;

    // No earlier file: none appears.
    std::filesystem::remove(file);
    EXPECT_FALSE(detail::SaveAppConfigTo(file, changed, fault)) << label;
    EXPECT_TRUE(FolderEntries(folder).empty()) << label;
    EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{}) << label;
  }

  // The same save without a fault replaces the file.
  WriteBytes(file, old_bytes);
  EXPECT_TRUE(detail::SaveAppConfigTo(file, changed));
  EXPECT_EQ(ReadBytes(file), FormatAppConfig(changed));
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"config.toml"});
  EXPECT_EQ(detail::LoadAppConfigFrom(file), changed);
}

TEST_F(ConfigFileTest, SaveOverAFolderFailsAndRemovesItsTempFile) {
  const std::filesystem::path file = scratch_.path() / "config.toml";
  WriteBytes(file / "keep.txt", "kept");
  EXPECT_FALSE(detail::SaveAppConfigTo(file, AppConfig{.listen_port = 6000}));
  EXPECT_EQ(ReadBytes(file / "keep.txt"), "kept");
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"config.toml"});
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{});
}

TEST_F(ConfigFileTest, SaveWhereNoFolderCanBeMadeIsSilent) {
  // A file stands where a parent folder would have to be.
  WriteBytes(scratch_.path() / "blocker", "x");
  const std::filesystem::path file = scratch_.path() / "blocker" / u8"配置" / "config.toml";
  EXPECT_FALSE(detail::SaveAppConfigTo(file, AppConfig{.listen_port = 6000}));
  EXPECT_EQ(ReadBytes(scratch_.path() / "blocker"), "x");
  EXPECT_EQ(FolderEntries(scratch_.path()), std::vector<std::string>{"blocker"});
  EXPECT_EQ(detail::LoadAppConfigFrom(file), AppConfig{});
}

TEST_F(ConfigFileTest, ChinesePathLoadsAndSaves) {
  const std::filesystem::path file = scratch_.path() / u8"用户 张三" / u8"应用数据" / "config.toml";
  const AppConfig config{.listen_port = 12345, .overlay_theme_color = OverlayThemeColor::Green};
  EXPECT_TRUE(detail::SaveAppConfigTo(file, config));
  EXPECT_EQ(ReadBytes(file), FormatAppConfig(config));
  EXPECT_EQ(detail::LoadAppConfigFrom(file), config);
  EXPECT_EQ(FolderEntries(file.parent_path()), std::vector<std::string>{"config.toml"});
}

}  // namespace
}  // namespace lumora
