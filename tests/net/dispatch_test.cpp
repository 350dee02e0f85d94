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
       {"error bad_frame invalid json",
        "reply {\"type\":\"error\",\"code\":\"bad_frame\",\"message\":\"invalid json\"}\n",
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

// The 64 KiB limit is one line's, its line feed included: the lines after a
// long one in the same buffer never count against it.
TEST(DispatchLinesTest, LimitIsPerLine) {
  const auto text = [](std::size_t size) {  // a text line of `size` bytes
    const std::string head = "{\"type\":\"text\",\"content\":\"";
    return head + std::string(size - head.size() - 3, 'x') + "\"}\n";
  };
  const std::string clear = "{\"type\":\"clear\"}\n";
  struct Case {
    const char* name;
    std::string stream;
    std::size_t entries;  // callbacks and replies, the error and bye included
    bool too_long;
    std::size_t left;
  };
  const Case cases[] = {
      {"62 KB line, then a line and a partial one", text(62000) + clear + std::string(4000, 'p'), 3, false,
       4000},
      {"65536 bytes with the line feed, twice", text(65536) + text(65536), 2, false, 0},
      {"partial line of 65536 bytes waits", clear + std::string(65536, 'p'), 2, false, 65536},
      {"one byte more with the line feed", clear + text(65537) + clear, 4, true, 0},
      {"partial line of 65537 bytes", text(100) + std::string(65537, 'p'), 3, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Feed(c.stream, DispatchMode::Serve);
    ASSERT_EQ(out.trace.size(), c.entries);
    EXPECT_EQ(out.ended, c.too_long);
    EXPECT_EQ(out.left.size(), c.left);
    if (c.too_long) {
      EXPECT_EQ(out.trace[c.entries - 2].rfind("reply {\"type\":\"error\",\"code\":\"frame_too_long\"", 0),
                0u);
    }
  }
}

}  // namespace
}  // namespace lumora
