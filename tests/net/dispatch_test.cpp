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

Outcome Feed(const std::string& stream) {
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
  out.ended = !DispatchLines(buffer, callbacks, send);
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Feed(c.stream);
    EXPECT_EQ(out.trace, c.trace);
    EXPECT_EQ(out.ended, c.ended);
    EXPECT_EQ(out.left, c.left);
  }
}

}  // namespace
}  // namespace lumora
