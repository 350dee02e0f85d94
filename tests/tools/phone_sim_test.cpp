#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/tools/sim_run.h"
#include "tools/phone_sim/options.h"
#include "tools/phone_sim/script.h"
#include "tools/phone_sim/text.h"
#include "tools/phone_sim/wire.h"

namespace lumora {
namespace {

using testing::kHao;
using testing::kNi;
const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600

TEST(Utf8Test, ValidityTable) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"ascii " + kNi + kGrin, true},
      {"\xC2\x80", true},          // U+0080
      {"\xEF\xBF\xBF", true},      // U+FFFF
      {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF
      {"\xC0\x80", false},         // overlong NUL
      {"\xE0\x80\x80", false},     // overlong
      {"\xF0\x80\x80\x80", false},
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\x80", false},
      {kNi.substr(0, 2), false},  // truncated
      {kNi.substr(0, 2) + "a", false},
      {"\xFF", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.text), c.valid) << EscapeForDisplay(c.text);
  }
}

TEST(GrowingPartialsTest, Table) {
  struct Case {
    std::string sentence;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"hello brave new world", {"hello", "hello brave", "hello brave new", "hello brave new world"}},
      {"  two \t  words  ", {"two", "two \t  words"}},
      {"one", {"o", "on", "one"}},  // no blank either, so letter by letter
      {"", {}},
      {" \t ", {}},
      // A code point at a time, never half of one.
      {kNi + kHao + kGrin, {kNi, kNi + kHao, kNi + kHao + kGrin}},
      {kNi + " " + kHao + kHao, {kNi, kNi + " " + kHao + kHao}},
      // Bytes that are not UTF-8 still make progress.
      {"\xFF\xFE", {"\xFF", "\xFF\xFE"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GrowingPartials(c.sentence), c.want) << EscapeForDisplay(c.sentence);
  }
}

TEST(EscapeForDisplayTest, Table) {
  struct Case {
    std::string bytes;
    std::string want;
  };
  const Case cases[] = {
      {R"({"a":"b\"c"})", R"({"a":"b\"c"})"},
      {kNi + kGrin, kNi + kGrin},
      {"a\r\n\tb", "a\\r\\n\\tb"},
      {std::string("\0\x1B\x7F", 3), "\\x00\\x1B\\x7F"},
      {kNi.substr(0, 2) + "a", "\\xE4\\xBDa"},
      {"\xC0\x80", "\\xC0\\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeForDisplay(c.bytes), c.want);
  }
}

TEST(BuildPhoneLineTest, TextIsEscapedAndPingKeepsEvery64BitValue) {
  EXPECT_EQ(BuildText("say \"hi\"\\\n" + kNi),
            "{\"type\":\"text\",\"content\":\"say \\\"hi\\\"\\\\\\n" + kNi + "\"}\n");
  // Past 2^53 a double would change the digits.
  const std::int64_t stamps[] = {9007199254740993, std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
  for (std::int64_t ts : stamps) {
    EXPECT_EQ(BuildPing(ts), "{\"type\":\"ping\",\"ts\":" + std::to_string(ts) + "}\n");
  }
}

TEST(MatchesExpectationTest, Table) {
  struct Case {
    std::string line;
    std::string type;
    std::vector<ExpectedField> fields;
    std::string why;  // empty when it matches
  };
  const Case cases[] = {
      {R"({"type":"ack","of":"commit"})", "ack", {{"of", "commit"}}, ""},
      {R"({"type":"ack","of":"clear"})", "ack", {{"of", "commit"}}, "of is \"clear\""},
      {R"({"type":"pong","ts":1})", "ack", {}, "type is \"pong\""},
      {R"({"type":"ack"})", "ack", {{"of", "commit"}}, "no field \"of\""},
      // Numbers read as their digits, not in exponent form.
      {R"({"type":"pong","ts":1733650000123})", "pong", {{"ts", "1733650000123"}}, ""},
      {R"({"type":"pong","ts":1.733650000123e12})", "pong", {{"ts", "1733650000123"}}, ""},
      {R"({"type":"pong","ts":-2.5})", "pong", {{"ts", "-2.5"}}, ""},
      {R"({"type":"x","b":true,"n":null,"o":{"a":[1]}})",
       "x",
       {{"b", "true"}, {"n", "null"}, {"o", R"({"a":[1]})"}},
       ""},
      // The first of two fields of one name counts, as for the PC.
      {R"({"type":"ack","of":"clear","of":"commit"})", "ack", {{"of", "commit"}}, "of is \"clear\""},
      {"not json", "ack", {}, "not a JSON object with a type"},
      {R"(["ack"])", "ack", {}, "not a JSON object with a type"},
      {R"({"type":7})", "ack", {}, "not a JSON object with a type"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(MatchesExpectation(c.line, c.type, c.fields, why), c.why.empty()) << c.line;
    EXPECT_EQ(why, c.why) << c.line;
  }
}

TEST(ParseScriptLineTest, Table) {
  struct Case {
    std::string line;
    ScriptLine result;
    StepKind kind = StepKind::Send;
    std::string bytes = "";  // Send; or part of the error
  };
  const Case cases[] = {
      {"   \t", ScriptLine::Nothing},
      {"  # a comment", ScriptLine::Nothing},
      {R"(  {broken)", ScriptLine::Step, StepKind::Send, "  {broken\n"},
      {"[1,2]", ScriptLine::Step, StepKind::Send, "[1,2]\n"},
      {"text hello  world ", ScriptLine::Step, StepKind::Send,
       "{\"type\":\"text\",\"content\":\"hello  world \"}\n"},
      {"text", ScriptLine::Step, StepKind::Send, "{\"type\":\"text\",\"content\":\"\"}\n"},
      {"commit", ScriptLine::Step, StepKind::Send, "{\"type\":\"commit\",\"press_enter\":true}\n"},
      {"commit noenter", ScriptLine::Step, StepKind::Send, "{\"type\":\"commit\",\"press_enter\":false}\n"},
      {"clear", ScriptLine::Step, StepKind::Send, "{\"type\":\"clear\"}\n"},
      {"key enter", ScriptLine::Step, StepKind::Send, "{\"type\":\"key\",\"name\":\"enter\"}\n"},
      {R"(raw {"ty\r\n\t\\\x00\xfF)", ScriptLine::Step, StepKind::Send,
       std::string("{\"ty\r\n\t\\\0\xFF", 10)},
      {"raw  x", ScriptLine::Step, StepKind::Send, " x"},
      {"ping", ScriptLine::Step, StepKind::Ping},
      {"bye", ScriptLine::Step, StepKind::Bye},
      {"wait-close", ScriptLine::Step, StepKind::WaitClose},
      {"close", ScriptLine::Step, StepKind::Close},
      {"text \xFF", ScriptLine::Invalid, StepKind::Send, "not valid UTF-8"},
      {"commit yes", ScriptLine::Invalid, StepKind::Send, "noenter"},
      {"clear now", ScriptLine::Invalid, StepKind::Send, "takes nothing"},
      {"key a b", ScriptLine::Invalid, StepKind::Send, "one name"},
      {"ping 1.5", ScriptLine::Invalid, StepKind::Send, "64-bit integer"},
      {"ping 9223372036854775808", ScriptLine::Invalid, StepKind::Send, "64-bit integer"},
      {"raw", ScriptLine::Invalid, StepKind::Send, "needs bytes"},
      {"raw \\z", ScriptLine::Invalid, StepKind::Send, "unknown escape \\z"},
      {"raw a\\x4", ScriptLine::Invalid, StepKind::Send, "two hex digits"},
      {"raw a\\", ScriptLine::Invalid, StepKind::Send, "lone \\"},
      {"sleep -1", ScriptLine::Invalid, StepKind::Send, "milliseconds"},
      {"sleep 86400001", ScriptLine::Invalid, StepKind::Send, "at most a day"},
      {"expect", ScriptLine::Invalid, StepKind::Send, "needs a type"},
      {"expect ack =commit", ScriptLine::Invalid, StepKind::Send, "FIELD=VALUE"},
      {"Text hi", ScriptLine::Invalid, StepKind::Send, "unknown command \"Text\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ScriptStep step;
    std::string error;
    ASSERT_EQ(ParseScriptLine(c.line, step, error), c.result) << error;
    if (c.result == ScriptLine::Invalid) {
      EXPECT_NE(error.find(c.bytes), std::string::npos) << error;
    } else if (c.result == ScriptLine::Step) {
      EXPECT_EQ(step.kind, c.kind);
      EXPECT_EQ(step.bytes, c.bytes);
    }
  }
}

TEST(ParseScriptLineTest, ArgumentsOfPingSleepAndExpect) {
  ScriptStep step;
  std::string error;
  ASSERT_EQ(ParseScriptLine("ping -42", step, error), ScriptLine::Step);
  EXPECT_EQ(step.ts, -42);
  ASSERT_EQ(ParseScriptLine("sleep 1500", step, error), ScriptLine::Step);
  EXPECT_EQ(step.milliseconds, 1500u);
  ASSERT_EQ(ParseScriptLine("expect\terror code=bad_frame  message= x=a=b", step, error), ScriptLine::Step);
  EXPECT_EQ(step.type, "error");
  ASSERT_EQ(step.fields.size(), 3u);
  EXPECT_EQ(step.fields[0].name + "|" + step.fields[0].value, "code|bad_frame");
  EXPECT_EQ(step.fields[1].name + "|" + step.fields[1].value, "message|");
  EXPECT_EQ(step.fields[2].name + "|" + step.fields[2].value, "x|a=b");
}

TEST(ParseScriptTest, Table) {
  struct Case {
    std::string text;
    std::string error;       // start of it; empty when the script is good
    std::vector<int> lines;  // of the steps
  };
  const Case cases[] = {
      {"# only\n\n", "", {}},
      {"text a\r\n\r\n# x\r\nexpect ack of=commit\r\nbye", "", {1, 4, 5}},
      {"ping\nsleep x\n", "line 2: ", {}},
      {"bye\nping\n", "line 2: the connection is gone after line 1", {}},
      {"wait-close\n# fine\n\nsleep 1\n", "line 4: ", {}},
      {"close\nclose\n", "line 2: ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_EQ(ParseScript(c.text, steps, error), c.error.empty()) << error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    std::vector<int> lines;
    for (const ScriptStep& step : steps) {
      lines.push_back(step.line_number);
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(ParseScriptTest, CarriageReturnsNeverReachTheWire) {
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ParseScript("{\"type\":\"clear\"}\r\ntext hi\r\n", steps, error)) << error;
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].bytes, "{\"type\":\"clear\"}\n");
  EXPECT_EQ(steps[1].bytes, "{\"type\":\"text\",\"content\":\"hi\"}\n");
}

TEST(ParseIpv4Test, Table) {
  using Address = std::array<std::uint8_t, 4>;
  struct Case {
    std::string host;
    std::optional<Address> want;
  };
  const Case cases[] = {
      {"localhost", Address{127, 0, 0, 1}},
      {"192.168.1.20", Address{192, 168, 1, 20}},
      {"01.2.3.4", std::nullopt},  // strict as the net layer reads addresses (its own table)
      {"pc.local", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIpv4(c.host), c.want) << c.host;
  }
}

TEST(ParseSimArgumentsTest, Refused) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"127.0.0.1"}, "HOST and PORT"},
      {{"--dictate", "x"}, "HOST and PORT"},
      {{"127.0.0.1", "1", "2"}, "HOST and PORT"},
      {{"example.com", "1"}, "HOST must be"},
      {{"127.0.0.1", "0"}, "PORT must be"},
      {{"127.0.0.1", "65536"}, "PORT must be"},
      {{"127.0.0.1", "80x"}, "PORT must be"},
      {{"127.0.0.1", "1", "--bogus"}, "unknown option --bogus"},
      {{"127.0.0.1", "1", "--script"}, "--script needs a value"},
      {{"127.0.0.1", "1", "--script", "a", "--dictate", "b"}, "exclude each other"},
      {{"127.0.0.1", "1", "--no-enter"}, "only apply to --dictate"},
      {{"127.0.0.1", "1", "--dictate", "  "}, "empty"},
      {{"127.0.0.1", "1", "--dictate", "\xC3("}, "not valid UTF-8"},
      {{"127.0.0.1", "1", "--client", "\xFF"}, "UTF-8"},
      {{"127.0.0.1", "1", "--timeout", "0"}, "--timeout takes milliseconds"},
      {{"127.0.0.1", "1", "--dictate", "a", "--interval", "-1"}, "--interval takes milliseconds"},
  };
  for (const Case& c : cases) {
    SimOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimArguments(c.args, options, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace lumora
