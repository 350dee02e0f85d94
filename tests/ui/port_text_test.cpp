// The port text rules, natively and under Wine.

#include "ui/port_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lumora {
namespace {

std::string Printable(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u" + std::to_string(static_cast<unsigned>(c));
    }
  }
  return out;
}

TEST(PortTextTest, ConvertsAsBase10TextToInteger) {
  struct Case {
    std::u16string text;
    std::optional<std::int32_t> value;  // none: false
  };
  const Case cases[] = {
      {u"8080", 8080},
      {u"0", 0},
      {u"1023", 1023},
      {u"65536", 65536},
      // White space before the number is skipped, after it ignored.
      {u" 8080", 8080},
      {u"\t\r\n\v\f 8080", 8080},
      {u"8080 ", 8080},
      {u"\u30008080", 8080},  // ideographic space
      // The digits end the number; what follows does not count.
      {u"8080a", 8080},
      {u"80 80", 80},
      {u"8080.9", 8080},
      {u"0x1F", 0},
      {u"1e5", 1},
      // One sign.
      {u"+8080", 8080},
      {u"-8080", -8080},
      {u"-0", 0},
      {u"+-8080", std::nullopt},
      {u"--8080", std::nullopt},
      {u"- 8080", std::nullopt},
      // Leading zeros are just digits.
      {u"08080", 8080},
      {u"0000000000000000000000000008080", 8080},  // 31 characters: all read
      // Full-width digits, as a Chinese input method in full-width mode types them.
      {u"８０８０", 8080},
      {u"５００００", 50000},
      {u"5０000", 50000},
      // Other scripts' digits and look-alikes are not digits.
      {u"\u0668\u0660", std::nullopt},  // Arabic-Indic
      {u"\u2460", std::nullopt},        // circled 1
      // No digits at all.
      {u"", std::nullopt},
      {u" ", std::nullopt},
      {u"abc", std::nullopt},
      {u"a8080", std::nullopt},
      {u"+", std::nullopt},
      // The 32-bit signed range, and far beyond it.
      {u"2147483647", 2147483647},
      {u"2147483648", std::nullopt},
      {u"-2147483648", -2147483647 - 1},
      {u"-2147483649", std::nullopt},
      {u"4294967296", std::nullopt},
      {u"4294975376", std::nullopt},            // 8080 more than 2^32: must not wrap to 8080
      {u"18446744073709559696", std::nullopt},  // 8080 more than 2^64
      {u"99999999999999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.text));
    std::int32_t out = -12345;
    const bool ok = ParsePortText(c.text, out);
    EXPECT_EQ(ok, c.value.has_value());
    EXPECT_EQ(out, c.value.value_or(-12345)) << "out must be left alone on false";
  }
}

TEST(PortTextTest, OnlyThe31UnitsAnEditReadGivesCount) {
  struct Case {
    std::u16string text;
    std::optional<std::int32_t> value;
  };
  const std::u16string zeros30(30, u'0');
  const Case cases[] = {
      // 30 zeros and 8: the 31st unit still counts.
      {zeros30 + u"8", 8},
      // 31 zeros, then 8080: the digits are beyond what is read.
      {zeros30 + u"08080", 0},
      // 31 blanks: nothing left to convert.
      {std::u16string(31, u' ') + u"8080", std::nullopt},
      {std::u16string(30, u' ') + u"8080", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    std::int32_t out = -1;
    EXPECT_EQ(ParsePortText(c.text, out), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(out, *c.value);
    }
  }
}

TEST(PortTextTest, ListenPortIs1024To65535) {
  struct Case {
    std::u16string text;
    std::optional<std::int32_t> port;
  };
  const Case cases[] = {
      {u"1023", std::nullopt},
      {u"1024", 1024},
      {u"47823", 47823},
      {u"65535", 65535},
      {u"65536", std::nullopt},
      {u" 8080", 8080},
      {u"8080a", 8080},
      {u"", std::nullopt},
      {u"0", std::nullopt},
      {u"-8080", std::nullopt},
      {u"01024", 1024},
      {u"4294975376", std::nullopt},
      {u"99999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.text));
    EXPECT_EQ(ListenPortFromText(c.text), c.port);
  }
  EXPECT_FALSE(IsListenPort(1023));
  EXPECT_TRUE(IsListenPort(1024));
  EXPECT_TRUE(IsListenPort(65535));
  EXPECT_FALSE(IsListenPort(65536));
}

}  // namespace
}  // namespace lumora
