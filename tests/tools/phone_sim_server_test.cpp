// The phone simulator against the real server: what a user runs to check the
// PC must pass against it, and the server must see what the simulator says.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/server.h"
#include "tests/net/test_phone.h"
#include "tests/tools/sim_run.h"
#include "tools/phone_sim/session.h"

namespace lumora {
namespace {

using testing::EventRecorder;

using testing::RunSim;
using testing::SimRun;

// Events without the peer text of the connect, which the simulator chooses.
std::vector<std::string> Plain(std::vector<std::string> events) {
  for (std::string& event : events) {
    if (event.rfind("connect ", 0) == 0) {
      event = "connect";
    }
  }
  return events;
}

class PhoneSimServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(0, recorder_.Callbacks()));
    port_ = std::to_string(server_.BoundPort());
  }

  EventRecorder recorder_;
  ParlinoServer server_;
  std::string port_;
};

TEST_F(PhoneSimServerTest, WhatTheServerSeesOfEachMode) {
  // The lines the simulator writes are checked against a stand-in PC; here
  // the server must read them as meant. Without --no-enter a commit asks for
  // Enter (--no-enter's line is the stand-in PC's case).
  struct Case {
    const char* what;
    std::vector<std::string> options;
    int status;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"reachability check", {}, kSimPassed, {"connect", "disconnect"}},
      {"dictation",
       {"--dictate", "你好", "--interval", "1"},
       kSimPassed,
       {"connect", "text 你", "text 你好", "commit 1", "disconnect"}},
      // The server only counts a phone that said hello.
      {"silent phone", {"--no-hello"}, kSimFailed, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EventRecorder recorder;
    ParlinoServer server;
    ASSERT_TRUE(server.Start(0, recorder.Callbacks()));
    std::vector<std::string> args = {"127.0.0.1", std::to_string(server.BoundPort())};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const SimRun run = RunSim(args);
    EXPECT_EQ(run.status, c.status) << run.err << run.out;
    if (!c.events.empty()) {
      ASSERT_TRUE(recorder.WaitForCount(c.events.size()));
    }
    server.Stop();
    EXPECT_EQ(Plain(recorder.Events()), c.events);
  }
}

TEST_F(PhoneSimServerTest, ScriptSeesTheServersAnswersToABrokenLine) {
  const std::string script =
      "text hello\n"
      "commit noenter\n"
      "expect ack of=commit\n"
      "ping 1733650000123\n"
      "expect pong ts=1733650000123\n"
      "raw {\"type\":\\n\n"
      "expect error code=bad_frame\n"
      "expect bye reason=protocol_error\n"
      "wait-close\n";
  const SimRun run = RunSim({"127.0.0.1", port_, "--script", "-"}, script);
  EXPECT_EQ(run.status, kSimPassed) << run.err << run.out;
  ASSERT_TRUE(recorder_.WaitForCount(5));
  EXPECT_EQ(Plain(recorder_.Events()),
            (std::vector<std::string>{"connect", "text hello", "commit 0", "error bad_frame invalid json",
                                      "disconnect"}));
}

TEST_F(PhoneSimServerTest, ReplacedAndShutdownAreToldToThePhone) {
  SimRun replaced;
  std::thread first([&] {
    replaced = RunSim({"127.0.0.1", port_, "--script", "-", "--timeout", "10000"},
                      "expect bye reason=replaced\nwait-close\n");
  });
  ASSERT_TRUE(recorder_.WaitForCount(1));
  SimRun shutdown;
  std::thread second([&] {
    shutdown = RunSim({"127.0.0.1", port_, "--script", "-", "--timeout", "10000"},
                      "expect bye reason=shutdown\nwait-close\n");
  });
  first.join();
  ASSERT_TRUE(recorder_.WaitForCount(3));
  server_.Stop();
  second.join();
  EXPECT_EQ(replaced.status, kSimPassed) << replaced.err << replaced.out;
  EXPECT_EQ(shutdown.status, kSimPassed) << shutdown.err << shutdown.out;
  EXPECT_EQ(Plain(recorder_.Events()),
            (std::vector<std::string>{"connect", "disconnect", "connect", "disconnect"}));
}

}  // namespace
}  // namespace lumora
