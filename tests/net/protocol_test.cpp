#include "net/protocol.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace lumora {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct ParseCase {
  std::string line;
  bool ok;
  std::string error;   // when !ok
  ClientMessage want;  // when ok
};

ClientMessage Msg(MessageType type) {
  ClientMessage m;
  m.type = type;
  return m;
}
ClientMessage Hello(std::string client, std::string version) {
  ClientMessage m = Msg(MessageType::Hello);
  m.client = std::move(client);
  m.version = std::move(version);
  return m;
}
ClientMessage Text(std::string content) {
  ClientMessage m = Msg(MessageType::Text);
  m.content = std::move(content);
  return m;
}
ClientMessage Commit(bool press_enter) {
  ClientMessage m = Msg(MessageType::Commit);
  m.press_enter = press_enter;
  return m;
}
ClientMessage Key(std::string name) {
  ClientMessage m = Msg(MessageType::Key);
  m.name = std::move(name);
  return m;
}
ClientMessage Ping(std::int64_t ts) {
  ClientMessage m = Msg(MessageType::Ping);
  m.ts = ts;
  return m;
}
ParseCase Ok(std::string line, ClientMessage want) { return {std::move(line), true, "", std::move(want)}; }
ParseCase Bad(std::string line, std::string error) { return {std::move(line), false, std::move(error), {}}; }

const std::string kNiHao = "你好";
const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600 in UTF-8

const ParseCase kParseCases[] = {
    // hello
    Ok(R"({"type":"hello","client":"lumora-android","version":"1.4.2"})", Hello("lumora-android", "1.4.2")),
    Ok(R"({"type":"hello"})", Hello("", "")),
    Ok(R"({"type":"hello","client":5,"version":null})", Hello("", "")),
    Ok(R"({"type":"hello","client":{"nested":[1,2]},"version":"2"})", Hello("", "2")),
    // text
    Ok(R"({"type":"text","content":"hello world"})", Text("hello world")),
    Ok(R"({"type":"text","content":""})", Text("")),
    Ok(R"({"type":"text","content":")" + kNiHao + R"("})", Text(kNiHao)),
    Ok(R"({"type":"text","content":"\u4f60\u597d"})", Text(kNiHao)),
    Ok(R"({"type":"text","content":"\ud83d\ude00"})", Text(kGrin)),
    Ok(R"({"type":"text","content":"a\"b\\c\/d\n"})", Text("a\"b\\c/d\n")),
    Ok(R"({"type":"text","content":"a","type":"bye"})", Text("a")),  // first "type" counts
    Bad(R"({"type":"text"})", "text.content missing"),
    Bad(R"({"type":"text","content":null})", "text.content missing"),
    Bad(R"({"type":"text","content":5})", "text.content missing"),
    Bad(R"({"type":"text","content":{}})", "text.content missing"),
    Bad(R"({"type":"text","content":["a"]})", "text.content missing"),
    Bad(R"({"type":"text","Content":"a"})", "text.content missing"),
    // commit
    Ok(R"({"type":"commit"})", Commit(true)),
    Ok(R"({"type":"commit","press_enter":false})", Commit(false)),
    Ok(R"({"type":"commit","press_enter":true})", Commit(true)),
    Ok(R"({"type":"commit","press_enter":0})", Commit(true)),
    Ok(R"({"type":"commit","press_enter":"false"})", Commit(true)),
    Ok(R"({"type":"commit","press_enter":null})", Commit(true)),
    Ok(R"({"type":"commit","extra":{"a":[1,{"b":null}]},"press_enter":false})", Commit(false)),
    // clear
    Ok(R"({"type":"clear"})", Msg(MessageType::Clear)),
    Ok(R"({"type":"clear"} trailing words)", Msg(MessageType::Clear)),
    Ok(std::string("{\"type\":\"clear\"}\0garbage", 24), Msg(MessageType::Clear)),  // stops at NUL
    Ok("  \t{\"type\":\"clear\"}", Msg(MessageType::Clear)),
    // key
    Ok(R"({"type":"key","name":"enter"})", Key("enter")),
    Ok(R"({"type":"key","name":"backspace"})", Key("backspace")),
    Ok(R"({"type":"key","name":"F13"})", Key("F13")),  // passed on as received
    Bad(R"({"type":"key","name":""})", "key.name missing"),
    Bad(R"({"type":"key"})", "key.name missing"),
    Bad(R"({"type":"key","name":13})", "key.name missing"),
    // ping
    Ok(R"({"type":"ping","ts":1733650000123})", Ping(1733650000123)),
    Ok(R"({"type":"ping"})", Ping(0)),
    Ok(R"({"type":"ping","ts":"5"})", Ping(0)),
    Ok(R"({"type":"ping","ts":1.9})", Ping(1)),
    Ok(R"({"type":"ping","ts":-1.9})", Ping(-1)),
    Ok(R"({"type":"ping","ts":-0.5})", Ping(0)),
    Ok(R"({"type":"ping","ts":9007199254740993})", Ping(9007199254740992)),  // nearest double
    Ok(R"({"type":"ping","ts":9223372036854775807})", Ping(kMax)),           // rounds to 2^63
    Ok(R"({"type":"ping","ts":-9223372036854775808})", Ping(kMin)),
    Ok(R"({"type":"ping","ts":1e300})", Ping(kMax)),
    Ok(R"({"type":"ping","ts":-1e300})", Ping(kMin)),
    Ok(R"({"type":"ping","ts":1e999})", Ping(kMax)),  // overflows to infinity
    // bye and unknown types
    Ok(R"({"type":"bye"})", Msg(MessageType::Bye)),
    Ok(R"({"type":"Hello"})", Msg(MessageType::Unrecognized)),
    Ok(R"({"type":"hello "})", Msg(MessageType::Unrecognized)),
    Ok(R"({"type":""})", Msg(MessageType::Unrecognized)),
    Ok(R"({"type":"volume","level":3})", Msg(MessageType::Unrecognized)),
    // not a message
    Bad("", "invalid json"),
    Bad("   ", "invalid json"),
    Bad("not json", "invalid json"),
    Bad(R"({"type":"text")", "invalid json"),
    Bad("{", "invalid json"),
    Bad("[1,2]", "invalid json"),
    Bad(R"("hello")", "invalid json"),
    Bad("42", "invalid json"),
    Bad("true", "invalid json"),
    Bad("false", "invalid json"),
    Bad("null", "invalid json"),
    Bad(std::string("\0{\"type\":\"clear\"}", 17), "invalid json"),
    Bad("{}", "missing type"),
    Bad(R"({"Type":"hello"})", "missing type"),
    Bad(R"({"type":5})", "missing type"),
    Bad(R"({"type":null})", "missing type"),
    Bad(R"({"type":["hello"]})", "missing type"),
};

TEST(ParseClientMessageTest, Table) {
  for (const ParseCase& c : kParseCases) {
    SCOPED_TRACE(c.line);
    ClientMessage got;
    std::string error;
    const bool ok = ParseClientMessage(c.line, got, &error);
    ASSERT_EQ(ok, c.ok) << error;
    if (!ok) {
      EXPECT_EQ(error, c.error);
      continue;
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(got.type, c.want.type);
    EXPECT_EQ(got.client, c.want.client);
    EXPECT_EQ(got.version, c.want.version);
    EXPECT_EQ(got.content, c.want.content);
    EXPECT_EQ(got.press_enter, c.want.press_enter);
    EXPECT_EQ(got.name, c.want.name);
    EXPECT_EQ(got.ts, c.want.ts);
  }
}

TEST(ParseClientMessageTest, ResetsTheRecordAndLeavesErrorAloneOnSuccess) {
  ClientMessage m;
  m.content = "stale";
  m.press_enter = false;
  m.name = "enter";
  m.ts = 99;
  std::string error = "untouched";
  ASSERT_TRUE(ParseClientMessage(R"({"type":"clear"})", m, &error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(m.content, "");
  EXPECT_TRUE(m.press_enter);
  EXPECT_EQ(m.name, "");
  EXPECT_EQ(m.ts, 0);

  // Without an error string, failure shows in the result alone.
  EXPECT_FALSE(ParseClientMessage("[]", m));
}

TEST(ParseClientMessageTest, DeeplyNestedInputIsRejectedNotCrashed) {
  const std::string deep =
      R"({"type":"clear","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  ClientMessage m;
  std::string error;
  EXPECT_FALSE(ParseClientMessage(deep, m, &error));
  EXPECT_EQ(error, "invalid json");
}

TEST(BuildLineTest, Table) {
  struct Case {
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {BuildWelcome(kServerName, kServerVersion, kProtocolVersion),
       R"({"type":"welcome","server":"Parlino","version":"0.1.0","protocol":1})"
       "\n"},
      {BuildAck("commit"), "{\"type\":\"ack\",\"of\":\"commit\"}\n"},
      {BuildAck("clear"), "{\"type\":\"ack\",\"of\":\"clear\"}\n"},
      {BuildPong(0), "{\"type\":\"pong\",\"ts\":0}\n"},
      {BuildPong(-1), "{\"type\":\"pong\",\"ts\":-1}\n"},
      {BuildPong(1733650000123), "{\"type\":\"pong\",\"ts\":1733650000123}\n"},  // 13 digits, no exponent
      {BuildPong(999999999999999), "{\"type\":\"pong\",\"ts\":999999999999999}\n"},
      {BuildPong(kMax), "{\"type\":\"pong\",\"ts\":9.2233720368547758e+18}\n"},
      {BuildError("bad_frame", "invalid json"),
       "{\"type\":\"error\",\"code\":\"bad_frame\",\"message\":\"invalid json\"}\n"},
      {BuildError("frame_too_long", "line exceeds 65536 bytes"),
       "{\"type\":\"error\",\"code\":\"frame_too_long\",\"message\":\"line exceeds 65536 bytes\"}\n"},
      // Quotes, backslashes and control characters are escaped; UTF-8 passes.
      {BuildError("x", "a\"b\\c\nd\te\x01" + kNiHao),
       "{\"type\":\"error\",\"code\":\"x\",\"message\":\"a\\\"b\\\\c\\nd\\te\\u0001" + kNiHao + "\"}\n"},
      {BuildBye("protocol_error"), "{\"type\":\"bye\",\"reason\":\"protocol_error\"}\n"},
      {BuildBye("replaced"), "{\"type\":\"bye\",\"reason\":\"replaced\"}\n"},
      {BuildBye("shutdown"), "{\"type\":\"bye\",\"reason\":\"shutdown\"}\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(BuildLineTest, PingTimestampComesBackUnchanged) {
  const std::int64_t stamps[] = {0, 1, -1, 1733650000123, -1733650000123, 2147483648, 999999999999999};
  for (std::int64_t ts : stamps) {
    ClientMessage m;
    ASSERT_TRUE(ParseClientMessage("{\"type\":\"ping\",\"ts\":" + std::to_string(ts) + "}", m));
    EXPECT_EQ(BuildPong(m.ts), "{\"type\":\"pong\",\"ts\":" + std::to_string(ts) + "}\n");
  }
}

TEST(BuildLineTest, SerializeLineOfNothingIsABareLineFeed) { EXPECT_EQ(SerializeLine(nullptr), "\n"); }

TEST(TruncateToInt64Test, Table) {
  struct Case {
    double value;
    std::int64_t want;
  };
  const Case cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {1.9, 1},
      {-1.9, -1},
      {9.2e18, 9200000000000000000},
      {9223372036854774784.0, 9223372036854774784},  // largest double below 2^63
      {9223372036854775808.0, kMax},                 // 2^63
      {-9223372036854775808.0, kMin},                // -2^63 fits exactly
      {-9.3e18, kMin},
      {std::numeric_limits<double>::infinity(), kMax},
      {-std::numeric_limits<double>::infinity(), kMin},
      {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TruncateToInt64(c.value), c.want) << c.value;
  }
}

}  // namespace
}  // namespace lumora
