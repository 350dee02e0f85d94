#include "log/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace lumora {
namespace {

std::filesystem::path LogFile() { return LogDirectory() / kLogFileName; }

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& file, size_t count) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  const std::string filler(count, 'x');
  out.write(filler.data(), static_cast<std::streamsize>(filler.size()));
}

// Splits on CR LF; fails the test on a line feed without its carriage return.
std::vector<std::string> ReadLines() {
  const std::string bytes = ReadBytes(LogFile());
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
      lines.push_back(bytes.substr(start, i - 1 - start));
      start = i + 1;
    }
  }
  EXPECT_EQ(start, bytes.size()) << "file does not end with a line break";
  return lines;
}

const std::regex kLinePattern(R"(\[(.) (\S+) ([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}\] (.*))");

class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    std::filesystem::remove_all(LogDirectory(), ec);
    detail::ResetLogSizeCheckForTest();
  }
};

TEST_F(LogTest, LevelsAtOrAboveWarnAreWrittenWithTheirLetter) {
  struct Case {
    LogLevel level;
    const char* message;
    const char* letter;  // nullptr: nothing written
  };
  const Case cases[] = {
      {LogLevel::Debug, "debug line", nullptr},
      {LogLevel::Info, "info line", nullptr},
      {static_cast<LogLevel>(-1), "negative level", nullptr},
      {static_cast<LogLevel>(INT32_MIN), "lowest level", nullptr},
      {LogLevel::Warn, "Parlino starting", "W"},
      {LogLevel::Error, "main: CreateMutex failed", "E"},
      {static_cast<LogLevel>(7), "level seven", "?"},
  };
  for (const Case& c : cases) {
    Log(c.level, "APP", c.message);
  }

  std::vector<std::string> expected;
  for (const Case& c : cases) {
    if (c.letter != nullptr) {
      expected.push_back(std::string(c.letter) + "|" + c.message);
    }
  }
  std::vector<std::string> seen;
  for (const std::string& line : ReadLines()) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, kLinePattern)) << line;
    EXPECT_EQ(m[2].str(), "APP");
    seen.push_back(m[1].str() + "|" + m[4].str());
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(LogTest, LinesBelowThresholdCreateNoFile) {
  Log(LogLevel::Debug, "APP", "main: another Parlino instance already running");
  Log(LogLevel::Info, "APP", "nothing");
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(LogTest, LineLayoutIsExact) {
  EXPECT_EQ(detail::FormatLogLine(LogLevel::Warn, "APP", "14:03:07.042", "Parlino starting"),
            "[W APP 14:03:07.042] Parlino starting\n");
  EXPECT_EQ(detail::FormatLogLine(LogLevel::Error, "APP", "00:00:00.000", ""), "[E APP 00:00:00.000] \n");
  // Tag and message are not padded or trimmed.
  EXPECT_EQ(detail::FormatLogLine(LogLevel::Warn, "X", "23:59:59.999", "  two  "),
            "[W X 23:59:59.999]   two  \n");
}

TEST_F(LogTest, FileHoldsCrLfAndMessageBytesUnchanged) {
  const std::string chinese = "coordinator: 你好";  // UTF-8, unchanged on disk
  Log(LogLevel::Warn, "APP", "first");
  Log(LogLevel::Warn, "APP", "split\nsecond half");
  Log(LogLevel::Warn, "APP", chinese);

  const std::string bytes = ReadBytes(LogFile());
  EXPECT_NE(bytes.find("] first\r\n["), std::string::npos);
  EXPECT_NE(bytes.find("] split\r\nsecond half\r\n["), std::string::npos);
  EXPECT_NE(bytes.find("] " + chinese + "\r\n"), std::string::npos);

  const std::vector<std::string> lines = ReadLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "second half");  // continuation carries no prefix
}

TEST_F(LogTest, MillisecondsAreZeroFilledToThreeDigits) {
  using namespace std::chrono;
  const system_clock::time_point second{seconds{1765000000}};
  struct Case {
    system_clock::duration offset;
    const char* suffix;
  };
  const Case cases[] = {
      {milliseconds{0}, ".000"},
      {milliseconds{5}, ".005"},
      {milliseconds{5} + microseconds{999}, ".005"},  // truncated, not rounded
      {milliseconds{42}, ".042"},
      {milliseconds{999}, ".999"},
  };
  const std::regex clock(R"(([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3})");
  for (const Case& c : cases) {
    const std::string text = detail::FormatLogTimestamp(second + c.offset);
    EXPECT_TRUE(std::regex_match(text, clock)) << text;
    EXPECT_EQ(text.substr(8), c.suffix) << text;
    // The same second gives the same clock part whatever the fraction.
    EXPECT_EQ(text.substr(0, 8), detail::FormatLogTimestamp(second).substr(0, 8));
  }
  EXPECT_TRUE(std::regex_match(LogTimestamp(), clock));
}

TEST_F(LogTest, OversizedFileIsEmptiedAtTheFirstLineOfARun) {
  struct Case {
    size_t initial_bytes;
    bool emptied;
  };
  const Case cases[] = {
      {300000, true},
      {static_cast<size_t>(kLogTruncateBytes) + 1, true},
      {static_cast<size_t>(kLogTruncateBytes), false},
      {10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.initial_bytes);
    WriteBytes(LogFile(), c.initial_bytes);
    detail::ResetLogSizeCheckForTest();  // a new run begins
    Log(LogLevel::Warn, "APP", "Parlino starting");
    const std::string bytes = ReadBytes(LogFile());
    const size_t line_size =
        detail::FormatLogLine(LogLevel::Warn, "APP", "00:00:00.000", "Parlino starting").size() + 1;
    EXPECT_EQ(bytes.size(), (c.emptied ? 0 : c.initial_bytes) + line_size);
    EXPECT_EQ(bytes.rfind("[W APP ", 0) == 0, c.emptied);
  }
}

// A phone decides how many lines a run writes: the file is bounded during the
// run as across runs, and what is emptied is whole lines.
TEST_F(LogTest, FileStaysBoundedDuringARun) {
  const std::string message(1000, 'p');
  const std::uintmax_t line_size =
      detail::FormatLogLine(LogLevel::Warn, "APP", "00:00:00.000", message).size() + 1;
  std::uintmax_t largest = 0;
  std::uintmax_t previous = 0;
  bool emptied = false;
  for (std::uintmax_t written = 0; written < 3 * kLogTruncateBytes; written += line_size) {
    Log(LogLevel::Warn, "APP", message);
    const std::uintmax_t size = std::filesystem::file_size(LogFile());
    largest = std::max(largest, size);
    emptied = emptied || size < previous;
    previous = size;
  }
  EXPECT_TRUE(emptied);
  EXPECT_LE(largest, kLogTruncateBytes + line_size);
  for (const std::string& line : ReadLines()) {
    ASSERT_TRUE(std::regex_match(line, kLinePattern)) << line.substr(0, 40);
  }
}

TEST_F(LogTest, DeletedFolderIsRecreatedByTheNextLine) {
  Log(LogLevel::Warn, "APP", "before");
  ASSERT_TRUE(std::filesystem::exists(LogFile()));
  std::filesystem::remove_all(LogDirectory());

  Log(LogLevel::Warn, "APP", "after");
  const std::vector<std::string> lines = ReadLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("] after"), std::string::npos);
}

TEST_F(LogTest, UnwritableFileDropsTheLineQuietly) {
  // A folder where the file should be: opening it fails, as for a locked file.
  std::filesystem::create_directories(LogFile());
  Log(LogLevel::Warn, "APP", "lost");
  EXPECT_TRUE(std::filesystem::is_directory(LogFile()));
  std::filesystem::remove(LogFile());

  Log(LogLevel::Warn, "APP", "kept");
  ASSERT_EQ(ReadLines().size(), 1u);
}

TEST_F(LogTest, ConcurrentWritersProduceWholeLinesInEachThreadsOrder) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLinesEach; ++i) {
        Log(LogLevel::Warn, "APP",
            "writer " + std::to_string(t) + " line " + std::to_string(i) + " " +
                std::string(64, static_cast<char>('a' + t)));
      }
    });
  }
  for (std::thread& writer : writers) {
    writer.join();
  }

  const std::vector<std::string> lines = ReadLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
  std::vector<int> next(kThreads, 0);
  const std::regex body(R"(writer (\d) line (\d+) ([a-z])+)");
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, kLinePattern)) << line;
    const std::string message = m[4].str();
    std::smatch b;
    ASSERT_TRUE(std::regex_match(message, b, body)) << message;
    const int t = std::stoi(b[1].str());
    EXPECT_EQ(std::stoi(b[2].str()), next[t]++);
    EXPECT_EQ(message.substr(message.size() - 64), std::string(64, static_cast<char>('a' + t)));
  }
}

TEST(LogSafeTextTest, NothingFromOutsideCanEndOrForgeALine) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::string long_name(200, 'a');
  const Case cases[] = {
      {"", ""},
      {"F13", "F13"},
      {"回车 😀", "回车 😀"},
      {"enter\r\n12:00:00.000 [E] APP: forged", "enter\\r\\n12:00:00.000 [E] APP: forged"},
      {std::string("a\0b\tc\x1b[31m\x7F", 11), "a\\x00b\\tc\\x1B[31m\\x7F"},
      {"back\\slash", "back\\\\slash"},
      {"\xC2\x85next line", "\\u0085next line"},              // C1 NEL
      {"\xE2\x80\xA8\xE2\x80\xA9", "\\u2028\\u2029"},         // line, paragraph separators
      {"\xFF\xE4\xBD", "\\xFF\\xE4\\xBD"},                    // not UTF-8, cut short
      {"\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, surrogate
      {long_name, std::string(120, 'a') + "..."},
      {std::string(120, 'a'), std::string(120, 'a')},
      {std::string(119, 'a') + "你好", std::string(119, 'a') + "你..."},  // characters, not bytes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogSafeText(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace lumora
