#include "output/text_injector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

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
  }  // destruction performs everything queued
  return script->Steps();
}

const Steps kEnterLocal = {"foreground", "wait 120", "inject s28v", "wait 5", "inject s28^"};
const Steps kCtrlVLocal = {"foreground", "wait 40",     "inject s29v", "wait 5",     "inject s47v",
                           "wait 5",     "inject s47^", "wait 5",      "inject s29^"};

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
        "inject s47^", "wait 30", "inject s29^", "wait 250", "inject s28v", "wait 30", "inject s28^"}},
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

TEST(TextInjectorTest, PastedTextIsWhatWasSaid) {
  auto script = std::make_shared<DesktopScript>();
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script));
    injector.EnqueueText("粘贴 ok \xF0\x9F\x98\x80", false, true);
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
  }
  EXPECT_EQ(script->Steps(),
            Join({{"clipboard"},
                  kCtrlVLocal,
                  {"foreground", "inject s28v", "wait 5", "inject s28^", "inject u0074v u0074^"}}));
}

TEST(TextInjectorTest, DestructionPerformsEverythingStillQueued) {
  auto script = std::make_shared<DesktopScript>();
  Gate gate;
  gate.Close("inject u0031v u0031^");
  script->on_step = [&gate](const std::string& step) { gate.Pass(step); };
  std::thread opener;
  {
    TextInjector injector(std::make_unique<RecordingDesktop>(script));
    injector.EnqueueText("1", false, false);
    gate.WaitUntilReached();
    injector.EnqueueText("2", false, false);
    injector.EnqueueText("3", false, false);
    // The destructor starts while two items wait behind a busy worker.
    opener = std::thread([&gate] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      gate.Open();
    });
  }
  opener.join();
  EXPECT_EQ(script->Steps(), (Steps{"inject u0031v u0031^", "inject u0032v u0032^", "inject u0033v u0033^"}));
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
