#include <gtest/gtest.h>

#include "net/addresses.h"

namespace lumora {
namespace {

TEST(ParseIpv4NetTest, Table) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"192.168.1.20", true, 0xC0A80114},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"10.0.0.1", true, 0x0A000001},
      {"256.0.0.1", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"1.2.3.4.", false, 0},
      {".1.2.3.4", false, 0},
      {"1..3.4", false, 0},
      {"01.2.3.4", false, 0},
      {"1.2.3.0004", false, 0},
      {"1.2.3.-4", false, 0},
      {"+1.2.3.4", false, 0},
      {" 1.2.3.4", false, 0},
      {"1.2.3.4 ", false, 0},
      {"1.2.3.4\n", false, 0},
      {"localhost", false, 0},
      {"0x7f.0.0.1", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(ParseIpv4(c.text, address), c.ok) << c.text;
    EXPECT_EQ(address, c.ok ? c.want : 0xDEADBEEF) << c.text;
  }
}

}  // namespace
}  // namespace lumora
