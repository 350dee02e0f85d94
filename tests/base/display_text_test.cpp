#include "base/display_text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf16.h"

namespace lumora {
namespace {

const std::u16string kSmile = u"\U0001F600";  // a surrogate pair

TEST(PhoneDisplayTextTest, PlainOneLineTextCutWithoutSplittingACharacter) {
  struct Case {
    const char* what;
    std::u16string text;
    std::size_t max_units;
    std::u16string want;
  };
  const Case cases[] = {
      {"plain", u"Pixel 8", 40, u"Pixel 8"},
      {"empty", u"", 40, u""},
      {"line breaks and tabs separate words, blanks shrink to one", u"  My\r\nPhone\t\t 2 \n", 40,
       u"My Phone 2"},
      {"other control characters go",
       u"a\x01"
       u"b\x1B"
       u"c\x7F"
       u"d\x9F"
       u"e",
       40, u"abcde"},
      {"only control characters", u"\r\n\x01\x7F", 40, u""},
      {"reordering marks go",
       u"\x202E"
       u"evil\x202C \x2066x\x2069\x200F",
       40, u"evil x"},
      {"unpaired surrogates are replaced",
       std::u16string(u"a\xD800"
                      u"b\xDC00"),
       40,
       u"a\xFFFD"
       u"b\xFFFD"},
      {"pairs stay", u"hi " + kSmile, 40, u"hi " + kSmile},
      {"exact fit", u"abc" + kSmile + u"d", 6, u"abc" + kSmile + u"d"},
      {"cut", u"abcdefghijkl", 10, u"abcdefghi\x2026"},
      {"a pair at the cut goes whole", u"abc" + kSmile + u"de", 5, u"abc\x2026"},
      {"a pair before the cut stays", u"ab" + kSmile + u"def", 5, u"ab" + kSmile + u"\x2026"},
      {"the cut counts what is left after dropping",
       u"\x01\x01\x01"
       u"abcd",
       4, u"abcd"},
      {"no room", u"abc", 0, u""},
      {"a very long name", std::u16string(100000, u'x'), 40, std::u16string(39, u'x') + u"\x2026"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PhoneDisplayText(c.text, c.max_units), c.want);
  }
}

TEST(PhoneDisplayTextTest, LabelsAndThePromptLine) {
  // The tip's, the notices' and the settings' label; in UTF-8 the same, ill-formed bytes replaced.
  EXPECT_EQ(PhoneDisplayLabel(u"Pixel\r\n8", u"192.168.1.23"), u"Pixel 8（192.168.1.23）");
  EXPECT_EQ(PhoneDisplayLabel(u"\r\n\x202E", u"10.0.0.2"), u"未命名手机（10.0.0.2）");
  EXPECT_EQ(PhoneDisplayLabel("Mi\xFF\t13", "10.0.0.7"), "Mi\uFFFD 13（10.0.0.7）");
  // The prompt names the phone in quotes, its address only when there is one.
  EXPECT_EQ(PhonePromptLine(u"Pixel 8", u"192.168.1.23"), u"\u201CPixel 8\u201D（192.168.1.23）");
  EXPECT_EQ(PhonePromptLine(u"Pixel 8", u" \r\n"), u"\u201CPixel 8\u201D");
}

TEST(Utf16Test, BackToUtf8ReplacesUnpairedSurrogates) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"a\u00E9\u4F60", "a\xC3\xA9\xE4\xBD\xA0"},
      {kSmile, "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(u"\xD83D"
                      u"a"),
       "\xEF\xBF\xBD"
       "a"},                                                          // high without low
      {std::u16string(u"a\xDE00"), "a\xEF\xBF\xBD"},                  // low without high
      {std::u16string(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // the wrong way round
      {std::u16string(u"x\xD83D"), "x\xEF\xBF\xBD"},                  // cut after the high half
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
}

}  // namespace
}  // namespace lumora
