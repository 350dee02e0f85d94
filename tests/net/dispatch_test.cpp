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

// A text line of `size` bytes, its line feed included.
std::string TextOfSize(std::size_t size) {
  const std::string frame = "{\"type\":\"text\",\"content\":\"\"}\n";
  return "{\"type\":\"text\",\"content\":\"" + std::string(size - frame.size(), 'x') + "\"}\n";
}

// The 64 KiB limit is one line's: what follows a long line in the same
// buffer never counts against it.
TEST(DispatchLinesTest, LimitIsPerLine) {
  const std::string too_long =
      "reply {\"type\":\"error\",\"code\":\"frame_too_long\",\"message\":\"line exceeds 65536 bytes\"}\n";
  const std::string bye = "reply {\"type\":\"bye\",\"reason\":\"protocol_error\"}\n";
  const std::string clear = "{\"type\":\"clear\"}\n";
  const std::string acked = "reply {\"type\":\"ack\",\"of\":\"clear\"}\n";
  struct Case {
    const char* name;
    std::string stream;
    std::size_t texts;  // text callbacks before the rest of the trace
    std::vector<std::string> rest;
    bool ended;
    std::size_t left;
  };
  const Case cases[] = {
      {"62 KB line, then a line and a partial one",
       TextOfSize(62000) + clear + std::string(4000, 'p'),
       1,
       {"clear", acked},
       false,
       4000},
      {"65536 bytes with the line feed, twice", TextOfSize(65536) + TextOfSize(65536), 2, {}, false, 0},
      {"partial line of 65536 bytes waits",
       clear + std::string(65536, 'p'),
       0,
       {"clear", acked},
       false,
       65536},
      {"one byte more with the line feed",
       clear + TextOfSize(65537) + clear,
       0,
       {"clear", acked, too_long, bye},
       true,
       0},
      {"partial line of 65537 bytes", TextOfSize(100) + std::string(65537, 'p'), 1, {too_long, bye}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Feed(c.stream, DispatchMode::Serve);
    ASSERT_GE(out.trace.size(), c.texts);
    for (std::size_t i = 0; i < c.texts; ++i) {
      EXPECT_EQ(out.trace[i].rfind("text xxx", 0), 0u);
    }
    EXPECT_EQ(std::vector<std::string>(out.trace.begin() + static_cast<long>(c.texts), out.trace.end()),
              c.rest);
    EXPECT_EQ(out.ended, c.ended);
    EXPECT_EQ(out.left.size(), c.left);
  }
}

}  // namespace
}  // namespace lumora
