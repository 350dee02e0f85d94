// Hundreds of phones connecting, saying hello and replacing each other, some
// dropping in the middle of the handshake: the owner must still see strictly
// paired connections, and nothing may leak.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "net/server.h"
#include "tests/net/test_phone.h"

namespace lumora {
namespace {

using std::chrono::milliseconds;
using testing::EventRecorder;
using testing::LogLinesContaining;
using testing::TestPhone;

#ifdef _WIN32
// Wine starts every socket through wineserver: fewer phones keep the run short.
constexpr int kPhonesPerThread = 40;
#else
constexpr int kPhonesPerThread = 100;
#endif
constexpr int kClientThreads = 3;

#ifndef _WIN32
std::size_t CountEntries(const char* folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++count;
  }
  return count;
}
#endif

// One client thread: each phone does one of several things, chosen at random.
void RunPhones(unsigned port, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::unique_ptr<TestPhone>> held;
  for (int i = 0; i < kPhonesPerThread; ++i) {
    auto phone = std::make_unique<TestPhone>();
    if (!phone->Connect(port)) {
      continue;
    }
    switch (random() % 5) {
      case 0:  // gone before the welcome is read
        break;
      case 1:  // drops in the middle of its hello
        phone->ReadLine();
        phone->Send("{\"type\":\"hel");
        break;
      case 2:  // says hello and leaves at once
        phone->Send("{\"type\":\"hello\"}\n");
        break;
      default: {  // dictates, and stays until replaced or dropped later
        phone->ReadLine();
        const std::string me = phone->LocalPeer();
        phone->Send("{\"type\":\"hello\"}\n{\"type\":\"text\",\"content\":\"" + me + "\"}\n");
        if (random() % 2 == 0) {
          phone->Send("{\"type\":\"commit\"}\n");
        }
        held.push_back(std::move(phone));
        if (held.size() > 2) {
          held.erase(held.begin());
        }
        break;
      }
    }
  }
}

TEST(ServerStormTest, ReplacementStormKeepsCallbacksPairedAndLeaksNothing) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  Log(LogLevel::Warn, "APP", "storm begins");  // the log's own first-run work is done now
#ifndef _WIN32
  // Sanitizer runtimes start a helper thread with the first thread: let that
  // happen before counting.
  std::thread([] {}).join();
  const std::size_t descriptors_before = CountEntries("/proc/self/fd");
  const std::size_t threads_before = CountEntries("/proc/self/task");
#endif
  EventRecorder recorder;
  {
    ParlinoServer server;
    ASSERT_TRUE(server.Start(0, recorder.Callbacks()));
    std::vector<std::thread> clients;
    for (int t = 0; t < kClientThreads; ++t) {
      clients.emplace_back(RunPhones, server.BoundPort(), 1000u + static_cast<unsigned>(t));
    }
    for (std::thread& client : clients) {
      client.join();
    }
    server.Stop();
  }

  // connect, its own events, disconnect; again and again.
  const std::vector<std::string> events = recorder.Events();
  std::string current;
  std::size_t connects = 0;
  for (const std::string& event : events) {
    if (event.rfind("connect ", 0) == 0) {
      ASSERT_TRUE(current.empty()) << "connect inside a connection: " << event;
      current = event.substr(8);
      ++connects;
    } else if (event == "disconnect") {
      ASSERT_FALSE(current.empty()) << "disconnect without a connect";
      current.clear();
    } else {
      ASSERT_FALSE(current.empty()) << "event outside a connection: " << event;
      if (event.rfind("text ", 0) == 0) {
        EXPECT_EQ(event.substr(5), current) << "another phone's text";
      } else {
        EXPECT_EQ(event, "commit 1");
      }
    }
  }
  EXPECT_TRUE(current.empty()) << "last connection never ended";
  EXPECT_GT(connects, static_cast<std::size_t>(kPhonesPerThread / 2));
  EXPECT_EQ(LogLinesContaining("ParlinoServer: accepted ").size(), connects);
  EXPECT_EQ(LogLinesContaining("ParlinoServer: client disconnected ").size(), connects);
  std::printf("storm: %d phones, %zu became active\n", kPhonesPerThread * kClientThreads, connects);

#ifndef _WIN32
  // Every socket closed once (a second close would have hit another
  // descriptor or failed), no thread left behind.
  EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors_before);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads_before);
#endif
}

}  // namespace
}  // namespace lumora
