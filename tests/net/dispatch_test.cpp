#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/server.h"

namespace lumora {
namespace {

// Runs DispatchLines over `stream` and records callbacks and replies in one
// list. Streams cut into pieces are the framing fuzzer's (tests/fuzz), which
// checks on every input that the cut never changes this outcome.
struct Outcome {
  std::vector<std::string> trace;
  bool ended = false;
  std::string left;
};

Outcome Feed(const std::string& stream, DispatchMode mode) {
  Outcome out;
  ServerCallbacks callbacks;
  callbacks.OnText = [&](const std::string& c) { out.trace.push_back("text " + c); };
  callbacks.OnCommit = [&](bool e) { out.trace.push_back(e ? "commit 1" : "commit 0"); };
  callbacks.OnClear = [&] { out.trace.push_back("clear"); };
  callbacks.OnKey = [&](const std::string& n) { out.trace.push_back("key " + n); };
  callbacks.OnError = [&](const std::string& c, const std::string& m) {
    out.trace.push_back("error " + c + " " + m);
  };
  const auto send = [&](std::string_view line) { out.trace.push_back("reply " + std::string(line)); };

  std::string buffer = stream;
  out.ended = !DispatchLines(buffer, callbacks, send, mode);
  if (!out.ended) {
    EXPECT_EQ(buffer.find('\n'), std::string::npos) << "a complete line was left behind";
    out.left = buffer;
  }
  return out;
}

TEST(DispatchLinesTest, Table) {
  struct Case {
    const char* name;
    std::string stream;
    std::vector<std::string> trace;
    bool ended;
    std::string left;
    DispatchMode mode = DispatchMode::Serve;
  };
  const Case cases[] = {
      {"partial line waits",
       "{\"type\":\"clear\"}\n{\"type\":\"te",
       {"clear", "reply {\"type\":\"ack\",\"of\":\"clear\"}\n"},
       false,
       "{\"type\":\"te"},
      {"crlf, lf, empty, cr only",
       "{\"type\":\"key\",\"name\":\"enter\"}\r\n\n\r\n{\"type\":\"text\",\"content\":\"a\\r\"}\n",
       {"key enter", "text a\r"},
       false,
       ""},
      {"bye stops before the next line", "{\"type\":\"bye\"}\n{\"type\":\"clear\"}\n", {}, true, ""},
      {"unknown type and late hello ignored", "{\"type\":\"hello\"}\n{\"type\":\"x\"}\n", {}, false, ""},
      {"ping echoes its ts",
       "{\"type\":\"ping\",\"ts\":-3.7}\n",
       {"reply {\"type\":\"pong\",\"ts\":-3}\n"},
       false,
       ""},
      {"held: only pings answered, nothing taken or acked",
       "{\"type\":\"text\",\"content\":\"a\"}\n{\"type\":\"commit\"}\n{\"type\":\"clear\"}\n"
       "{\"type\":\"key\",\"name\":\"enter\"}\n{\"type\":\"ping\",\"ts\":1}\n{\"type\":\"te",
       {"reply {\"type\":\"pong\",\"ts\":1}\n"},
       false,
       "{\"type\":\"te",
       DispatchMode::Hold},
      {"held: a bad line still ends it",
       " \n",
       {"error bad_frame invalid json", "reply {\"type\":\"error\",\"code\":\"bad_frame\",\"message\":\"invalid json\"}\n",
        "reply {\"type\":\"bye\",\"reason\":\"protocol_error\"}\n"},
       true,
       "",
       DispatchMode::Hold},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Feed(c.stream, c.mode);
    EXPECT_EQ(out.trace, c.trace);
    EXPECT_EQ(out.ended, c.ended);
    EXPECT_EQ(out.left, c.left);
  }
}

}  // namespace
}  // namespace lumora
