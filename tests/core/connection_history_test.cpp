#include "core/connection_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora {
namespace {

using Why = RefusalReason;

// A refusal from 192.168.1.<host> at 10:00:<10 + host>.
RefusedConnection Refused(unsigned host, Why reason) {
  return {0xC0A80100 | host, reason, "10:00:" + std::to_string(10 + host)};
}
std::string Line(unsigned host, Why reason) {
  return "  10:00:" + std::to_string(10 + host) + "  192.168.1." + std::to_string(host) + "  " +
         RefusalReasonText(reason);
}

TEST(ConnectionHistoryTest, LinesTable) {
  const std::string never = "自本程序启动以来，还没有手机连接过。";
  const std::string recent = "最近被拒绝的连接：";
  struct Case {
    const char* name;
    bool connected;  // noted after the refusals
    std::vector<RefusedConnection> refusals;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"nothing yet", false, {}, {never, "没有被拒绝的连接。"}},
      {"refused, newest first, kept past a connect",
       true,
       {Refused(23, Why::NotLocalNetwork), Refused(7, Why::RefusedByUser)},
       {"自本程序启动以来，已有手机连接过。", recent, Line(7, Why::RefusedByUser),
        Line(23, Why::NotLocalNetwork)}},
      {"beyond the bound the oldest go",
       false,
       {Refused(1, Why::NoHello), Refused(2, Why::NoHello), Refused(3, Why::AskedTooOften), Refused(4, Why::NoHello),
        Refused(5, Why::NotAnswered), Refused(6, Why::NoHello), Refused(7, Why::TooManyWaiting)},
       {never, recent, Line(7, Why::TooManyWaiting), Line(6, Why::NoHello), Line(5, Why::NotAnswered)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionHistory history;
    for (const RefusedConnection& refused : c.refusals) {
      history.NoteRefused(refused);
    }
    if (c.connected) {
      history.NoteConnected();
    }
    EXPECT_EQ(ConnectionHistoryLines(history), c.lines);
  }
}

}  // namespace
}  // namespace lumora
