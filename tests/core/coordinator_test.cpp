#include "core/coordinator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/phone_gate.h"
#include "core/server_wiring.h"
#include "log/log.h"

namespace lumora {
namespace {

using Calls = std::vector<std::string>;

// Records what the coordinator asks of the overlay and the output queue, in
// one list, so the order between them shows too.
class Recorder final : public LiveTextView, public OutputQueue {
 public:
  void ShowText(const std::string& text) override { calls.push_back("show " + text); }
  void Hide() override { calls.push_back("hide"); }
  void EnqueueText(std::string text, bool press_enter, bool use_clipboard_paste) override {
    calls.push_back("type " + text + (press_enter ? " +enter" : "") + (use_clipboard_paste ? " +paste" : ""));
  }
  void EnqueueKey(std::string key) override { calls.push_back("key " + key); }

  Calls calls;
};

// The log lines whose message starts with `component`, without their prefix.
std::vector<std::string> LogLinesOf(const std::string& component = "coordinator: ") {
  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::size_t at = line.find("] " + component);
    if (at != std::string::npos) {
      lines.push_back(line.substr(at + 2));
    }
  }
  return lines;
}

const std::string kZwsp = "\xE2\x80\x8B";

TEST(CoordinatorTest, EffectsTable) {
  struct Case {
    const char* name;
    std::function<void(Coordinator&, AppConfig&)> events;
    Calls calls;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"two texts then commit types the second once",
       [](Coordinator& c, AppConfig&) {
         c.HandleText("hello");
         c.HandleText("hello world");
         c.HandleCommit(true);
       },
       {"show hello", "show hello world", "type hello world +enter", "hide"},
       {"coordinator: commit phone_press_enter=1 effective=1"}},
      {"empty text hides; a commit after it types nothing",
       [](Coordinator& c, AppConfig&) {
         c.HandleText("a");
         c.HandleText("");
         c.HandleCommit(true);
       },
       {"show a", "hide", "hide"},
       {"coordinator: commit phone_press_enter=1 effective=1"}},
      {"only U+200B stays live, hidden, and is typed",
       [](Coordinator& c, AppConfig&) {
         c.HandleText(kZwsp);
         c.HandleCommit(false);
       },
       {"hide", "type " + kZwsp + " +enter", "hide"},
       {"coordinator: commit phone_press_enter=0 effective=1"}},
      {"letter, U+200B, letter: two letters shown, five bytes typed",
       [](Coordinator& c, AppConfig&) {
         c.HandleText("a" + kZwsp + "b");
         c.HandleCommit(true);
       },
       {"show ab", "type a" + kZwsp + "b +enter", "hide"},
       {"coordinator: commit phone_press_enter=1 effective=1"}},
      {"the setting, not the phone, decides Enter",
       [](Coordinator& c, AppConfig& config) {
         config.press_enter_on_commit = false;
         c.HandleText("x");
         c.HandleCommit(true);
         config.press_enter_on_commit = true;
         c.HandleText("y");
         c.HandleCommit(false);
       },
       {"show x", "type x", "hide", "show y", "type y +enter", "hide"},
       {"coordinator: commit phone_press_enter=1 effective=0",
        "coordinator: commit phone_press_enter=0 effective=1"}},
      {"clipboard setting switched between commits",
       [](Coordinator& c, AppConfig& config) {
         c.HandleText("x");
         c.HandleCommit(true);
         config.use_clipboard_paste = true;
         c.HandleText("y");
         c.HandleCommit(true);
       },
       {"show x", "type x +enter", "hide", "show y", "type y +enter +paste", "hide"},
       {"coordinator: commit phone_press_enter=1 effective=1",
        "coordinator: commit phone_press_enter=1 effective=1"}},
      {"key names are exact",
       [](Coordinator& c, AppConfig&) {
         c.HandleKey("backspace");
         c.HandleKey("enter");
         c.HandleKey("Enter");
         c.HandleKey("BACKSPACE");
       },
       {"key backspace", "key enter"},
       {"coordinator: unknown key 'Enter'", "coordinator: unknown key 'BACKSPACE'"}},
      {"connect drops live text untyped",
       [](Coordinator& c, AppConfig&) {
         c.HandleText("half");
         c.HandleClientConnected("10.0.0.2:5000");
         c.HandleCommit(true);
       },
       {"show half", "hide", "hide"},
       {"coordinator: client connect 10.0.0.2:5000", "coordinator: commit phone_press_enter=1 effective=1"}},
      {"replacement: disconnect of the first, connect of the second",
       [](Coordinator& c, AppConfig&) {
         c.HandleClientConnected("10.0.0.2:5000");
         c.HandleText("a");
         c.HandleClientDisconnected();
         c.HandleClientConnected("10.0.0.3:6000");
         c.HandleClear();
       },
       {"hide", "show a", "hide", "hide", "hide"},
       {"coordinator: client connect 10.0.0.2:5000", "coordinator: client disconnect 10.0.0.2:5000",
        "coordinator: client connect 10.0.0.3:6000", "coordinator: clear"}},
      {"disconnect without a connect ends in a blank",
       [](Coordinator& c, AppConfig&) { c.HandleClientDisconnected(); },
       {"hide"},
       {"coordinator: client disconnect "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    Recorder recorder;
    AppConfig config;
    Coordinator coordinator(&recorder, &recorder, &config);
    c.events(coordinator, config);
    EXPECT_EQ(recorder.calls, c.calls);
    EXPECT_EQ(LogLinesOf(), c.log);
    EXPECT_EQ(coordinator.live_text(), "");
  }
}

// With the epilogue deferred, a commit types at once and hides the overlay
// and logs only when the host's timer fires or the next event comes, in the
// order of the events either way.
TEST(CoordinatorTest, DeferredCommitEpilogueKeepsTheOrderOfEvents) {
  struct Case {
    const char* name;
    std::function<void(Coordinator&)> after_commit;
    Calls calls;
    std::vector<std::string> log;
  };
  const std::string commit_line = "coordinator: commit phone_press_enter=0 effective=0";
  const Case cases[] = {
      {"nothing yet: typed, the overlay still up, no line", [](Coordinator&) {}, {"show a", "type a"}, {}},
      {"the timer finishes it once",
       [](Coordinator& c) {
         c.FinishCommit();
         c.FinishCommit();
       },
       {"show a", "type a", "hide"},
       {commit_line}},
      {"the next text finishes it before it is shown",
       [](Coordinator& c) { c.HandleText("b"); },
       {"show a", "type a", "hide", "show b"},
       {commit_line}},
      {"a second commit finishes the first before its own",
       [](Coordinator& c) {
         c.HandleText("b");
         c.HandleCommit(false);
       },
       {"show a", "type a", "hide", "show b", "type b"},
       {commit_line}},
      {"a clear, then the late timer does nothing more",
       [](Coordinator& c) {
         c.HandleClear();
         c.FinishCommit();
       },
       {"show a", "type a", "hide", "hide"},
       {commit_line, "coordinator: clear"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    Recorder recorder;
    AppConfig config;
    config.press_enter_on_commit = false;
    int scheduled = 0;
    {
      Coordinator coordinator(&recorder, &recorder, &config);
      coordinator.DeferCommitEpilogue([&] { ++scheduled; });
      coordinator.HandleText("a");
      coordinator.HandleCommit(false);
      c.after_commit(coordinator);
      EXPECT_EQ(recorder.calls, c.calls);
      EXPECT_EQ(LogLinesOf(), c.log);
    }
    EXPECT_GE(scheduled, 1);
    // A commit still waiting is finished when the coordinator goes.
    const std::vector<std::string> lines = LogLinesOf();
    EXPECT_NE(std::find(lines.begin(), lines.end(), commit_line), lines.end());
  }
}

TEST(CoordinatorTest, ClearKeepsThePeerAndDisconnectEmptiesIt) {
  Recorder recorder;
  Coordinator coordinator(&recorder, &recorder, nullptr);
  coordinator.HandleClientConnected("10.0.0.2:5000");
  coordinator.HandleText("x");
  coordinator.HandleClear();
  EXPECT_EQ(coordinator.client_peer(), "10.0.0.2:5000");
  EXPECT_EQ(coordinator.live_text(), "");
  coordinator.HandleClientDisconnected();
  EXPECT_EQ(coordinator.client_peer(), "");
}

TEST(CoordinatorTest, MissingCollaborators) {
  {
    // No config: the phone's flag decides and text is typed.
    Recorder recorder;
    Coordinator coordinator(&recorder, &recorder, nullptr);
    coordinator.HandleText("x");
    coordinator.HandleCommit(false);
    coordinator.HandleText("y");
    coordinator.HandleCommit(true);
    EXPECT_EQ(recorder.calls, (Calls{"show x", "type x", "hide", "show y", "type y +enter", "hide"}));
  }
  {
    // No output queue: commits discard the text, keys return silently.
    Recorder overlay;
    AppConfig config;
    Coordinator coordinator(&overlay, nullptr, &config);
    coordinator.HandleText("x");
    coordinator.HandleCommit(true);
    coordinator.HandleKey("Enter");
    EXPECT_EQ(overlay.calls, (Calls{"show x", "hide"}));
    EXPECT_EQ(coordinator.live_text(), "");
  }
  {
    // No overlay: nothing breaks, output still flows.
    Recorder output;
    AppConfig config;
    Coordinator coordinator(nullptr, &output, &config);
    coordinator.HandleClientConnected("p");
    coordinator.HandleText("x");
    coordinator.HandleClear();
    coordinator.HandleText("y");
    coordinator.HandleCommit(false);
    coordinator.HandleClientDisconnected();
    EXPECT_EQ(output.calls, (Calls{"type y +enter"}));
  }
}

TEST(StripZeroWidthSpacesTest, Table) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {kZwsp, ""},
      {kZwsp + kZwsp + "a" + kZwsp, "a"},
      {"你" + kZwsp + "好", "你好"},
      {"a\xE2\x80", "a\xE2\x80"},        // incomplete at the end: kept
      {"\xE2\x80\x8C", "\xE2\x80\x8C"},  // U+200C is not removed
      {"\xE2\xE2\x80\x8B", "\xE2"},      // resynchronises byte by byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StripZeroWidthSpaces(c.in), c.out);
  }
}

// The host side of the wiring: a UI queue that runs only when drained, and
// a coordinator that can come and go.
struct WiredHost {
  WiredHost() {
    ServerWiringHost host;
    host.post_ui_task = [this](std::function<void()> task) { queue.push_back(std::move(task)); };
    host.coordinator = [this] { return current; };
    host.link_changed = [this] { recorder.calls.push_back("tip"); };
    host.gate = &gate;
    host.phone_held = [this](const PhoneHello& hello) { recorder.calls.push_back("held " + hello.client); };
    host.held_phone_gone = [this](std::uint64_t id) {
      recorder.calls.push_back("gone " + std::to_string(id));
    };
    host.phone_active = [this](const PhoneHello& hello, bool took_over) {
      recorder.calls.push_back("active " + hello.client + (took_over ? " took over" : ""));
    };
    callbacks = WireServerCallbacks(std::move(host));
  }
  void Drain() {
    std::vector<std::function<void()>> tasks;
    tasks.swap(queue);
    for (auto& task : tasks) {
      task();
    }
  }

  Recorder recorder;
  AppConfig config;
  PhoneGate gate{nullptr};
  Coordinator coordinator{&recorder, &recorder, &config};
  Coordinator* current = &coordinator;
  std::vector<std::function<void()>> queue;
  ServerCallbacks callbacks;
};

TEST(ServerWiringTest, EventsReachTheCoordinatorOnlyThroughTheQueueInOrder) {
  struct Case {
    const char* name;
    std::function<void(const ServerCallbacks&)> events;
    Calls calls;
  };
  const Case cases[] = {
      {"text, text, commit types the second text",
       [](const ServerCallbacks& cb) {
         cb.OnText("ni");
         cb.OnText("ni hao");
         cb.OnCommit(false);
       },
       {"show ni hao", "type ni hao +enter", "hide"}},
      {"connect and disconnect refresh the tip after the coordinator",
       [](const ServerCallbacks& cb) {
         cb.OnClientConnected("192.168.1.7:40000");
         cb.OnText("a");
         cb.OnClientDisconnected();
       },
       {"hide", "tip", "hide", "tip"}},
      {"clear and keys",
       [](const ServerCallbacks& cb) {
         cb.OnText("a");
         cb.OnClear();
         cb.OnKey("backspace");
         cb.OnKey("enter");
       },
       {"hide", "key backspace", "key enter"}},
      {"the gate's events: a phone's activity before its connect",
       [](const ServerCallbacks& cb) {
         PhoneHello hello;
         hello.id = 7;
         hello.client = "new";
         cb.OnPhoneHeld(hello);
         cb.OnHeldPhoneGone(7);
         hello.client = "mine";
         cb.OnPhoneActive(hello, true);
         cb.OnClientConnected("192.168.1.7:40000");
       },
       {"held new", "gone 7", "active mine took over", "hide", "tip"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WiredHost host;
    c.events(host.callbacks);
    // The connection thread only posts: nothing has happened yet.
    EXPECT_TRUE(host.recorder.calls.empty());
    host.Drain();
    EXPECT_EQ(host.recorder.calls, c.calls);
  }
}

TEST(ServerWiringTest, LiveTextsCoalesceWithoutCrossingOtherEvents) {
  struct Case {
    const char* name;
    // The phone's events; "run" drains the UI queue and notes how many tasks
    // were waiting.
    std::vector<std::string> events;
    Calls calls;
  };
  const Case cases[] = {
      {"a flood is one task drawing the newest text",
       {"text a", "text b", "text c", "run"},
       {"1 tasks", "show c"}},
      {"a text after a commit is not typed by it",
       {"text a", "commit", "text b", "run"},
       {"3 tasks", "show a", "type a +enter", "hide", "show b"}},
      {"a text after a key is drawn after it",
       {"text a", "key backspace", "text ab", "text abc", "commit", "run"},
       {"4 tasks", "show a", "key backspace", "show abc", "type abc +enter", "hide"}},
      {"a task that ran takes no later text",
       {"text a", "run", "text b", "text c", "run"},
       {"1 tasks", "show a", "1 tasks", "show c"}},
      {"clear and disconnect wipe a waiting text undrawn",
       {"text a", "clear", "text b", "disconnect", "text c", "commit", "run"},
       {"6 tasks", "hide", "hide", "tip", "show c", "type c +enter", "hide"}},
      {"a connect drops the last phone's waiting text",
       {"text old", "connect", "text new", "run"},
       {"3 tasks", "hide", "tip", "show new"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WiredHost host;
    for (const std::string& event : c.events) {
      const std::string arg = event.substr(event.find(' ') + 1);
      if (event == "run") {
        host.recorder.calls.push_back(std::to_string(host.queue.size()) + " tasks");
        host.Drain();
      } else if (event.rfind("text ", 0) == 0) {
        host.callbacks.OnText(arg);
      } else if (event.rfind("key ", 0) == 0) {
        host.callbacks.OnKey(arg);
      } else if (event == "commit") {
        host.callbacks.OnCommit(false);
      } else if (event == "clear") {
        host.callbacks.OnClear();
      } else if (event == "connect") {
        host.callbacks.OnClientConnected("192.168.1.7:40000");
      } else if (event == "disconnect") {
        host.callbacks.OnClientDisconnected();
      }
    }
    EXPECT_EQ(host.recorder.calls, c.calls);
  }
}

TEST(ServerWiringTest, TheCoordinatorIsLookedUpWhenTheTaskRuns) {
  WiredHost host;
  host.callbacks.OnClientConnected("10.0.0.2:5000");
  host.callbacks.OnText("stale");
  host.current = nullptr;  // torn down before the tasks ran
  host.Drain();
  // Only the tip refresh, which needs no coordinator.
  EXPECT_EQ(host.recorder.calls, Calls{"tip"});
  EXPECT_EQ(host.coordinator.client_peer(), "");

  host.callbacks.OnText("fresh");
  host.current = &host.coordinator;  // back before this task runs
  host.Drain();
  EXPECT_EQ(host.coordinator.live_text(), "fresh");
}

TEST(ServerWiringTest, ErrorsAndGateDecisionsHappenAtOnceAndPostNothing) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  WiredHost host;
  host.callbacks.OnError("bad_frame", "not an object");
  EXPECT_TRUE(host.queue.empty());
  EXPECT_EQ(LogLinesOf("server error "), std::vector<std::string>{"server error bad_frame: not an object"});

  // The gate decides on the calling thread.
  PhoneHello stranger;
  stranger.client = "stranger";
  stranger.address = 0xC0A80105;
  EXPECT_EQ(host.callbacks.AdmitPhone(stranger), Admission::Hold);
  EXPECT_FALSE(host.callbacks.AcceptSource(0x08080808));
  EXPECT_TRUE(host.queue.empty());

  // Without a UI queue there is nowhere to send events; errors still log.
  const ServerCallbacks bare = WireServerCallbacks(ServerWiringHost{});
  EXPECT_FALSE(bare.OnText);
  ASSERT_TRUE(bare.OnError);
}

}  // namespace
}  // namespace lumora
