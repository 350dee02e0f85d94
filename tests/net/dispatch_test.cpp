#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/server.h"

namespace lumora {
namespace {

// Runs DispatchLines over `stream` fed in the given piece sizes, as the
// connection thread would, and records callbacks and replies in one list.
struct Outcome {
  std::vector<std::string> trace;
  bool ended = false;
  std::string left;
};

Outcome Feed(const std::string& stream, const std::vector<std::size_t>& pieces) {
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

  std::string buffer;
  std::size_t at = 0;
  for (std::size_t piece : pieces) {
    buffer.append(stream, at, piece);
    at += piece;
    if (!DispatchLines(buffer, callbacks, send)) {
      out.ended = true;
      break;
    }
    EXPECT_EQ(buffer.find('\n'), std::string::npos) << "a complete line was left behind";
  }
  out.left = out.ended ? "" : buffer;
  return out;
}

std::vector<std::size_t> Whole(const std::string& s) { return {s.size()}; }

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
    const Outcome out = Feed(c.stream, Whole(c.stream));
    EXPECT_EQ(out.trace, c.trace);
    EXPECT_EQ(out.ended, c.ended);
    EXPECT_EQ(out.left, c.left);
  }
}

// The same byte stream cut into random pieces gives the same callbacks and
// replies in the same order.
TEST(DispatchLinesTest, ChunkingNeverChangesTheOutcome) {
  const std::vector<std::string> pool = {
      "{\"type\":\"text\",\"content\":\"你好\"}\n",
      "{\"type\":\"text\",\"content\":\"\\ud83d\\ude00 ok\"}\r\n",
      "{\"type\":\"commit\",\"press_enter\":false}\n",
      "{\"type\":\"commit\"}\r\n",
      "{\"type\":\"clear\"}\n",
      "{\"type\":\"key\",\"name\":\"backspace\"}\n",
      "{\"type\":\"ping\",\"ts\":1733650000123}\n",
      "{\"type\":\"hello\"}\n",
      "\n",
      "\r\n",
      "{\"type\":\"unknown\",\"x\":[1,2,{}]}\n",
  };
  const std::vector<std::string> endings = {"", "{\"type\":\"bye\"}\n{\"type\":\"clear\"}\n",
                                            "  \n{\"type\":\"clear\"}\n", "{\"type\":\"key\"}\n",
                                            "{\"type\":\"text\",\"content\":\"partial"};
  std::mt19937 random(42);
  for (int round = 0; round < 300; ++round) {
    std::string stream;
    const int lines = std::uniform_int_distribution<int>(0, 30)(random);
    for (int i = 0; i < lines; ++i) {
      stream += pool[random() % pool.size()];
    }
    stream += endings[random() % endings.size()];

    const Outcome whole = Feed(stream, Whole(stream));
    for (int cut = 0; cut < 5; ++cut) {
      std::vector<std::size_t> pieces;
      for (std::size_t total = 0; total < stream.size();) {
        const std::size_t piece =
            std::min(stream.size() - total, std::uniform_int_distribution<std::size_t>(1, 40)(random));
        pieces.push_back(piece);
        total += piece;
      }
      const Outcome chunked = Feed(stream, pieces);
      ASSERT_EQ(chunked.trace, whole.trace) << stream;
      ASSERT_EQ(chunked.ended, whole.ended) << stream;
      ASSERT_EQ(chunked.left, whole.left) << stream;
    }
  }
}

}  // namespace
}  // namespace lumora
