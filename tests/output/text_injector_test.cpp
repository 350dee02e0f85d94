#include "output/text_injector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "log/log.h"

#include "tests/output/recording_desktop.h"

namespace lumora {
namespace {

using testing::DesktopScript;
using testing::RecordingDesktop;
using Steps = std::vector<std::string>;

const std::u16string kMstsc = u"C:\\Windows\\System32\\mstsc.exe";
const std::u16string kMsrdc = u"C:\\Program Files\\Remote Desktop\\msrdc.exe";

// Runs the requests through a fresh injector and returns the desktop's steps
// once everything has been performed.
Steps Perform(const std::function<void(TextInjector&)>& requests, std::u16string foreground = u"",
              int clipboard_failures = 0) {
  auto script = std::make_shared<DesktopScript>();
  if (!foreground.empty()) {
    script->foreground = foreground;
  }
  script->clipboard_failures = clipboard_failures;
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script));
    requests(injector);
    injector.Flush();
  }
  return script->Steps();
}

const Steps kEnterLocal = {"foreground", "wait 120", "inject s28v", "wait 5", "inject s28^"};
// Ctrl+V, then the wait for the target to read the clipboard.
const Steps kCtrlVLocal = {"foreground", "wait 40",     "inject s29v", "wait 5",      "inject s47v",
                           "wait 5",     "inject s47^", "wait 5",      "inject s29^", "wait read 3000"};

Steps Repeat2(const Steps& steps, int times) {
  Steps all;
  for (int i = 0; i < times; ++i) {
    all.insert(all.end(), steps.begin(), steps.end());
  }
  return all;
}

Steps Join(std::initializer_list<Steps> parts) {
  Steps all;
  for (const Steps& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST(TextInjectorTest, OutputSequences) {
  struct Case {
    const char* name;
    std::function<void(TextInjector&)> requests;
    std::u16string foreground;
    int clipboard_failures;
    Steps want;
  };
  const Case cases[] = {
      {"emoji: high surrogate first",
       [](TextInjector& t) { t.EnqueueText("\xF0\x9F\x98\x80", false, false); },
       u"",
       0,
       {"inject ud83dv ud83d^ ude00v ude00^"}},
      {"letters and a line feed: one injection, no Enter, no wait",
       [](TextInjector& t) { t.EnqueueText("a\nb", false, false); },
       u"",
       0,
       {"inject u0061v u0061^ u000av u000a^ u0062v u0062^"}},
      {"Chinese with Enter, local", [](TextInjector& t) { t.EnqueueText("你好", true, false); }, u"", 0,
       Join({{"inject u4f60v u4f60^ u597dv u597d^"}, kEnterLocal})},
      {"Enter with mstsc.exe in front",
       [](TextInjector& t) { t.EnqueueText("a", true, false); },
       kMstsc,
       0,
       {"inject u0061v u0061^", "foreground", "wait 250", "inject s28v", "wait 30", "inject s28^"}},
      {"paste with Enter, local", [](TextInjector& t) { t.EnqueueText("hi", true, true); }, u"", 0,
       Join({{"clipboard"}, kCtrlVLocal, {"wait 120", "inject s28v", "wait 5", "inject s28^"}})},
      {"paste with Enter, msrdc.exe in front",
       [](TextInjector& t) { t.EnqueueText("hi", true, true); },
       kMsrdc,
       0,
       {"clipboard", "foreground", "wait 350", "inject s29v", "wait 30", "inject s47v", "wait 30",
        "inject s47^", "wait 30", "inject s29^", "wait read 3000", "wait 250", "inject s28v", "wait 30",
        "inject s28^"}},
      {"busy clipboard is retried, then pasted", [](TextInjector& t) { t.EnqueueText("hi", false, true); },
       u"", 2, Join({{"clipboard busy", "wait 10", "clipboard busy", "wait 10", "clipboard"}, kCtrlVLocal})},
      {"clipboard never free: typed, never Ctrl+V", [](TextInjector& t) { t.EnqueueText("hi", true, true); },
       u"", 99,
       Join({{"clipboard busy", "wait 10", "clipboard busy", "wait 10", "clipboard busy", "wait 10",
              "clipboard busy", "wait 10", "clipboard busy", "inject u0068v u0068^ u0069v u0069^"},
             kEnterLocal})},
      {"enter with mstsc.exe in front",
       [](TextInjector& t) { t.EnqueueKey("enter"); },
       kMstsc,
       0,
       {"foreground", "inject s28v", "wait 30", "inject s28^"}},
      {"unknown key names only look at the foreground",
       [](TextInjector& t) {
         t.EnqueueKey("Enter");
         t.EnqueueKey("tab");
       },
       u"",
       0,
       {"foreground", "foreground"}},
      {"empty requests are dropped",
       [](TextInjector& t) {
         t.EnqueueText("", true, true);
         t.EnqueueKey("");
       },
       u"",
       0,
       {}},
      // Backspace and a paste without Enter appear only here.
      {"order kept across text and keys",
       [](TextInjector& t) {
         t.EnqueueText("x", true, false);
         t.EnqueueKey("backspace");
         t.EnqueueText("y", false, true);
       },
       u"", 0,
       Join({{"inject u0078v u0078^"},
             kEnterLocal,
             {"foreground", "inject s14v", "wait 5", "inject s14^"},
             {"clipboard"},
             kCtrlVLocal})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Perform(c.requests, c.foreground, c.clipboard_failures), c.want);
  }
}

// What the reporter heard, one line per committed text.
std::string Describe(const OutputReport& report) {
  if (!report.held) {
    return "delivered: " + report.text;
  }
  return std::string("held, ") + HoldReasonName(report.reason) +
         (report.partly_typed ? ", partly typed" : "") + ": " + report.text;
}

struct Outcome {
  Steps steps;
  std::vector<std::string> reports;
};

Outcome PerformScripted(const std::function<void(DesktopScript&)>& setup,
                        const std::function<void(TextInjector&)>& requests) {
  auto script = std::make_shared<DesktopScript>();
  setup(*script);
  std::vector<std::string> reports;  // written by the worker, read after the join
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script),
                          [&reports](OutputReport report) { reports.push_back(Describe(report)); });
    requests(injector);
    injector.Flush();
  }
  return {script->Steps(), reports};
}

Steps Repeat(const std::string& step, int times) { return Steps(static_cast<std::size_t>(times), step); }

constexpr std::size_t kAll = static_cast<std::size_t>(-1);

// Sets the target to `block` when the worker records `at`: the window in
// front changes while the output waits.
std::function<void(DesktopScript&)> TargetChangesAt(const std::string& at, TargetBlock block,
                                                    int modifiers_held = 0) {
  return [at, block, modifiers_held](DesktopScript& s) {
    s.modifiers_held = modifiers_held;
    s.on_step = [&s, at, block](const std::string& step) {
      if (step == at) {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.target = block;
      }
    };
  };
}

TEST(TextInjectorTest, LooksBeforeTypingAndHoldsWhatCannotGoOut) {
  const auto typed_hi = [](TextInjector& t) { t.EnqueueText("hi", true, false); };
  const auto pasted_hi = [](TextInjector& t) { t.EnqueueText("hi", true, true); };
  const std::string hi = "inject u0068v u0068^ u0069v u0069^";
  struct Case {
    const char* name;
    std::function<void(DesktopScript&)> setup;
    std::function<void(TextInjector&)> requests;
    Steps want_steps;
    std::vector<std::string> want_reports;
  };
  const Case cases[] = {
      {"own window in front: text held, keys dropped",
       [](DesktopScript& s) { s.target = TargetBlock::OwnWindow; },
       [](TextInjector& t) {
         t.EnqueueText("hi", true, false);
         t.EnqueueKey("enter");
       },
       {"foreground"},
       {"held, own window in front: hi"}},
      {"elevated program in front: the clipboard is not touched",
       [](DesktopScript& s) { s.target = TargetBlock::Elevated; },
       pasted_hi,
       {},
       {"held, elevated program in front: hi"}},
      {"locked screen: text held, backspace dropped",
       [](DesktopScript& s) { s.target = TargetBlock::OtherDesktop; },
       [](TextInjector& t) {
         t.EnqueueText("hi", true, false);
         t.EnqueueKey("backspace");
       },
       {"foreground"},
       {"held, other desktop: hi"}},
      {"modifier held, then released: typed once it is up",
       [](DesktopScript& s) { s.modifiers_held = 3; },
       typed_hi,
       Join({Repeat("wait 20", 3), {hi}, kEnterLocal}),
       {"delivered: hi"}},
      {"modifier still held after 2 s: held",
       [](DesktopScript& s) { s.modifiers_held = 1000; },
       typed_hi,
       Repeat("wait 20", 100),
       {"held, modifier keys held: hi"}},
      {"modifier held before a key: pressed after it is up",
       [](DesktopScript& s) { s.modifiers_held = 2; },
       [](TextInjector& t) { t.EnqueueKey("enter"); },
       {"foreground", "wait 20", "wait 20", "inject s28v", "wait 5", "inject s28^"},
       {}},
      {"own window came up during the modifier wait",
       TargetChangesAt("wait 20", TargetBlock::OwnWindow, 2),
       typed_hi,
       {"wait 20", "wait 20"},
       {"held, own window in front: hi"}},
      {"own window came up before the Enter: text in, Enter dropped",
       TargetChangesAt("wait 120", TargetBlock::OwnWindow),
       typed_hi,
       {hi, "foreground", "wait 120"},
       {"delivered: hi"}},
      {"short count: the remainder is sent again, then Enter",
       [](DesktopScript& s) { s.accepted = {1}; },
       typed_hi,
       Join({{hi, "inject u0068^ u0069v u0069^"}, kEnterLocal}),
       {"delivered: hi"}},
      {"short twice: held, no Enter",
       [](DesktopScript& s) {
         s.accepted = {1, 0};
       },
       typed_hi,
       {hi, "inject u0068^ u0069v u0069^"},
       {"held, input refused, partly typed: hi"}},
      {"paste: Ctrl refused twice, nothing more sent",
       [](DesktopScript& s) {
         s.accepted = {0, 0};
       },
       pasted_hi,
       {"clipboard", "foreground", "wait 40", "inject s29v", "inject s29v"},
       {"held, input refused: hi"}},
      {"paste: V refused twice, Ctrl still released",
       [](DesktopScript& s) {
         s.accepted = {kAll, 0, 0};
       },
       pasted_hi,
       {"clipboard", "foreground", "wait 40", "inject s29v", "wait 5", "inject s47v", "inject s47v", "wait 5",
        "inject s29^"},
       {"held, input refused: hi"}},
      {"paste: V up retried once",
       [](DesktopScript& s) {
         s.accepted = {kAll, kAll, 0};
       },
       [](TextInjector& t) { t.EnqueueText("hi", false, true); },
       {"clipboard", "foreground", "wait 40", "inject s29v", "wait 5", "inject s47v", "wait 5", "inject s47^",
        "inject s47^", "wait 5", "inject s29^", "wait read 3000"},
       {"delivered: hi"}},
      {"paste nobody read in time: held, no Enter, the next item follows",
       [](DesktopScript& s) { s.paste_read = false; },
       [](TextInjector& t) {
         t.EnqueueText("hi", true, true);
         t.EnqueueKey("enter");
       },
       Join({{"clipboard"}, kCtrlVLocal, {"foreground", "inject s28v", "wait 5", "inject s28^"}}),
       {"held, paste not read: hi"}},
      {"clipboard never free, typing refused: held",
       [](DesktopScript& s) {
         s.clipboard_failures = 99;
         s.accepted = {0, 0};
       },
       pasted_hi,
       Join({{"clipboard busy"}, Repeat2({"wait 10", "clipboard busy"}, 4), {hi, hi}}),
       {"held, input refused: hi"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome got = PerformScripted(c.setup, c.requests);
    EXPECT_EQ(got.steps, c.want_steps);
    EXPECT_EQ(got.reports, c.want_reports);
  }
}

// The events of one recorded injection step, as "u0061v" tokens.
Steps EventsOf(const std::string& step) {
  Steps events;
  std::size_t at = step.find(' ');
  while (at != std::string::npos) {
    const std::size_t next = step.find(' ', at + 1);
    events.push_back(step.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next;
  }
  return events;
}

TEST(TextInjectorTest, LongTextGoesOutInCheckedChunks) {
  // 127 letters fill 254 events; the emoji's four events would pass 256, so
  // the first chunk ends before it rather than between its surrogates.
  std::string text(127, 'a');
  text += "\xF0\x9F\x98\x80";
  for (int i = 0; i < 200; ++i) {
    text += "你";
  }
  Steps want_events;
  for (char16_t unit : ToUtf16(text)) {
    char code[8];
    std::snprintf(code, sizeof code, "u%04x", static_cast<unsigned>(unit));
    want_events.push_back(std::string(code) + "v");
    want_events.push_back(std::string(code) + "^");
  }

  const Outcome got =
      PerformScripted([](DesktopScript&) {}, [&text](TextInjector& t) { t.EnqueueText(text, false, false); });
  ASSERT_EQ(got.steps.size(), 3u);
  Steps all_events;
  for (const std::string& step : got.steps) {
    const Steps events = EventsOf(step);
    EXPECT_LE(events.size(), kInjectChunkEvents) << step;
    EXPECT_EQ(events.size() % 2, 0u) << "a key left down between calls";
    EXPECT_NE(events.front().substr(0, 3), "ude") << "a low surrogate cut from its high one";
    all_events.insert(all_events.end(), events.begin(), events.end());
  }
  EXPECT_EQ(EventsOf(got.steps[0]).size(), 254u);
  EXPECT_EQ(EventsOf(got.steps[1]).front(), "ud83dv");
  EXPECT_EQ(all_events, want_events);
  EXPECT_EQ(got.reports, (std::vector<std::string>{"delivered: " + text}));

  // Refused in the middle: the rest is not sent, and the whole commit is
  // held, not only what did not go in.
  const Outcome refused = PerformScripted(
      [](DesktopScript& s) {
        s.accepted = {kAll, 3, 0};
      },
      [&text](TextInjector& t) { t.EnqueueText(text, true, false); });
  EXPECT_EQ(refused.steps.size(), 3u);
  EXPECT_EQ(refused.reports, (std::vector<std::string>{"held, input refused, partly typed: " + text}));
}

TEST(TextInjectorTest, PastedTextIsWhatWasSaid) {
  auto script = std::make_shared<DesktopScript>();
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script));
    injector.EnqueueText("粘贴 ok \xF0\x9F\x98\x80", false, true);
    injector.Flush();
  }
  EXPECT_EQ(script->clipboard, u"粘贴 ok \U0001F600");
}

// Holds the worker inside one step until released.
class Gate {
 public:
  void Close(const std::string& at) {
    std::lock_guard<std::mutex> lock(mutex_);
    at_ = at;
  }
  // Called from the worker at each step.
  void Pass(const std::string& step) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (step != at_) {
      return;
    }
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void WaitUntilReached() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return reached_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string at_;
  bool reached_ = false;
  bool open_ = false;
};

TEST(TextInjectorTest, ItemsQueuedDuringALongPasteFollowIt) {
  auto script = std::make_shared<DesktopScript>();
  Gate gate;
  gate.Close("wait 40");  // inside the paste, after the clipboard was set
  script->on_step = [&gate](const std::string& step) { gate.Pass(step); };
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script));
    injector.EnqueueText("p", false, true);
    gate.WaitUntilReached();
    injector.EnqueueKey("enter");
    injector.EnqueueText("t", false, false);
    gate.Open();
    injector.Flush();
  }
  EXPECT_EQ(script->Steps(),
            Join({{"clipboard"},
                  kCtrlVLocal,
                  {"foreground", "inject s28v", "wait 5", "inject s28^", "inject u0074v u0074^"}}));
}

std::vector<std::string> OutputLogLines() {
  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (const std::size_t at = line.find("] output: "); at != std::string::npos) {
      lines.push_back(line.substr(at + 2));
    }
  }
  return lines;
}

TEST(TextInjectorTest, StopCutsTheCurrentTextShortAndDropsTheQueue) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  auto script = std::make_shared<DesktopScript>();
  Gate gate;
  // Two chunks: the worker is held inside the first.
  const std::string first(200, 'a');
  script->on_step = [&gate](const std::string& step) {
    if (step.rfind("inject", 0) == 0) {
      gate.Pass("held");
    }
  };
  std::vector<std::string> reports;
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script),
                          [&reports](OutputReport report) { reports.push_back(Describe(report)); });
    gate.Close("held");
    injector.EnqueueText(first, true, false);
    gate.WaitUntilReached();
    injector.EnqueueText("secret two", true, false);
    injector.EnqueueText("secret three", false, true);
    injector.EnqueueKey("enter");
    // Released once Stop has cut the waits short, so the worker sees it.
    script->on_cancel = [&gate] { gate.Open(); };
    injector.Stop();
    injector.EnqueueText("after", false, false);
  }
  const Steps steps = script->Steps();
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(EventsOf(steps[0]).size(), kInjectChunkEvents);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(OutputLogLines(), std::vector<std::string>{"output: stopped, 3 commit(s) not typed"});
}

TEST(TextInjectorTest, QueueIsBoundedInItemsAndBytes) {
  const std::size_t big = kMaxQueuedBytes / 4;
  struct Case {
    const char* name;
    std::vector<std::size_t> sizes;  // queued while the worker is held
    std::size_t refused;
    bool key_refused;  // a key queued after them
  };
  const Case cases[] = {
      {"items up to the bound fit", std::vector<std::size_t>(kMaxQueuedItems - 1, 1), 0, false},
      {"texts and keys past the item bound", std::vector<std::size_t>(kMaxQueuedItems + 1, 1), 1, true},
      {"bytes up to the bound fit", {big, big, big, big}, 0, false},
      {"a byte past the bound; a key has none", {big, big, big, big, 1}, 1, false},
      {"a smaller text fits after a bigger one is refused", {big, big, big, big - 1, 2, 1}, 1, false},
      {"one text bigger than the bound alone, and nothing after it", {kMaxQueuedBytes + 1}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Held at its first step, the worker takes nothing more off the queue.
    // The target refuses everything, so that no big text is typed.
    auto script = std::make_shared<DesktopScript>();
    script->target = TargetBlock::OwnWindow;
    Gate gate;
    gate.Close("foreground");
    script->on_step = [&gate](const std::string& step) { gate.Pass(step); };
    std::size_t refused = 0;
    std::size_t performed = 0;
    {
      TextInjector injector(std::make_unique<RecordingDesktop>(script), [&](OutputReport report) {
        ++(report.reason == HoldReason::QueueFull ? refused : performed);
      });
      injector.EnqueueKey("enter");
      gate.WaitUntilReached();
      for (std::size_t size : c.sizes) {
        injector.EnqueueText(std::string(size, 'b'), false, false);
      }
      injector.EnqueueKey("enter");
      gate.Open();
      injector.Flush();
    }
    EXPECT_EQ(refused, c.refused);
    EXPECT_EQ(performed, c.sizes.size() - c.refused);
    EXPECT_EQ(script->Steps().size(), c.key_refused ? 1u : 2u);
  }
}

TEST(IsRemoteDesktopImageTest, Table) {
  struct Case {
    std::u16string path;
    bool remote;
  };
  const Case cases[] = {
      {u"C:\\Windows\\System32\\mstsc.exe", true},
      {u"C:\\Windows\\System32\\MSTSC.EXE", true},
      {u"C:/Windows/System32/mstsc.exe", true},
      {u"C:\\Program Files\\Remote Desktop\\msrdc.exe", true},
      {u"mstsc.exe", true},
      {u"C:\\tools\\mstsc.exe.bak", false},
      {u"C:\\tools\\", false},
      {u"C:\\mstsc.exe\\notepad.exe", false},
      {u"", false},
      {u"C:\\Windows\\explorer.exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRemoteDesktopImage(c.path), c.remote) << std::string(c.path.begin(), c.path.end());
  }
}

TEST(ToUtf16Test, ConvertsAndReplacesIllFormedInput) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"", u""},
      {"commit", u"commit"},
      {"你好，", u"你好，"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xFF", u"\uFFFD"},
      {"\x80", u"\uFFFD"},
      {"ok\xE4\xBD", u"ok\uFFFD"},  // cut short: one replacement
      {"\xE4\xBD"
       "a",
       u"\uFFFDa"},                   // interrupted
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf16(c.utf8), c.utf16) << c.utf8;
  }
#ifndef _WIN32
  // How many replacements an encoded surrogate or a value past U+10FFFF gives
  // is the system's business on Windows (Wine gives fewer); the portable
  // decoder follows Unicode's advice: one per byte.
  EXPECT_EQ(ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
#endif
}

}  // namespace
}  // namespace lumora
