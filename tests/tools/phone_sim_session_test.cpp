// The simulator's whole run against a stand-in PC on 127.0.0.1: what reaches
// the PC, and the exit status the user sees.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/socket_platform.h"
#include "tests/tools/sim_run.h"
#include "tools/phone_sim/session.h"

namespace lumora {
namespace {

const std::string kWelcome = R"({"type":"welcome","server":"Parlino","version":"0.1.0","protocol":1})"
                             "\n";
using testing::kHao;
using testing::kNi;
using testing::SimRun;

// Accepts one connection on a free loopback port and runs `behaviour` on it in
// a thread of its own; records every line the phone sent.
class FakePc {
 public:
  using Behaviour = std::function<void(FakePc&)>;

  explicit FakePc(Behaviour behaviour) {
    EXPECT_TRUE(EnsureWinsock());
    EXPECT_TRUE(stop_.Open());
    listener_.Reset(OpenTcpSocket());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SockLen size = sizeof address;
    EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_.get(), 1), 0);
    EXPECT_EQ(::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
    port_ = ntohs(address.sin_port);
    // The thread owns both sockets while it runs; Stop only asks it to give up
    // waiting for a phone.
    thread_ = std::thread([this, behaviour = std::move(behaviour)] {
      if (WaitForSocket(listener_.get(), SocketDirection::Read, -1, stop_) != SocketWait::Ready) {
        return;
      }
      client_.Reset(::accept(listener_.get(), nullptr, nullptr));
      if (!client_.valid()) {
        return;
      }
      SetReceiveTimeout(client_.get(), 5000);
      behaviour(*this);
      ShutdownSocket(client_.get());
      client_.Reset();
    });
  }
  FakePc(const FakePc&) = delete;
  FakePc& operator=(const FakePc&) = delete;
  ~FakePc() { Stop(); }

  std::uint16_t Port() const { return port_; }

  // Ends the wait for a phone that never came, then joins.
  void Stop() {
    stop_.Wake();
    if (thread_.joinable()) {
      thread_.join();
    }
    listener_.Reset();
  }

  // Read after Stop.
  const std::vector<std::string>& Received() const { return received_; }

  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const long sent = SendSome(client_.get(), bytes.data(), bytes.size());
      if (sent <= 0) {
        return;
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }

  // False once the phone closed (or after five silent seconds).
  bool ReadLine(std::string& line) {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        received_.push_back(line);
        return true;
      }
      char buffer[1024];
      const long got = ReceiveSome(client_.get(), buffer, sizeof buffer);
      if (got <= 0) {
        return false;
      }
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  // Answers as the PC does until the phone says bye or goes; `hook` sees
  // each line first and returns false to stop right there.
  void Serve(const std::function<bool(FakePc&, const std::string&)>& hook = nullptr) {
    std::string line;
    while (ReadLine(line)) {
      if (hook && !hook(*this, line)) {
        return;
      }
      // Lines from the simulator have a fixed shape, so no JSON parser is
      // needed here (cJSON's parser must stay on one thread).
      if (line.find(R"("type":"ping")") != std::string::npos) {
        const std::size_t ts = line.find(R"("ts":)") + 5;
        Send(R"({"type":"pong","ts":)" + line.substr(ts, line.find('}', ts) - ts) + "}\n");
      } else if (line.find(R"("type":"commit")") != std::string::npos) {
        Send(R"({"type":"ack","of":"commit"})"
             "\n");
      } else if (line.find(R"("type":"clear")") != std::string::npos) {
        Send(R"({"type":"ack","of":"clear"})"
             "\n");
      } else if (line == R"({"type":"bye"})") {
        return;
      }
    }
  }

  // Waits until the phone closes its end.
  void Drain() {
    std::string line;
    while (ReadLine(line)) {
    }
  }

 private:
  Socket listener_;
  Socket client_;
  SocketWake stop_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::string pending_;
  std::vector<std::string> received_;
};

SimRun RunAgainst(FakePc& pc, std::vector<std::string> options, const std::string& stdin_text = "") {
  std::vector<std::string> args = {"127.0.0.1", std::to_string(pc.Port())};
  args.insert(args.end(), options.begin(), options.end());
  SimRun run = testing::RunSim(args, stdin_text);
  pc.Stop();
  return run;
}

void Good(FakePc& pc) {
  pc.Send(kWelcome);
  pc.Serve();
}

struct SessionCase {
  std::string name;
  FakePc::Behaviour behaviour;
  std::vector<std::string> options;
  std::string script;  // for --script -
  int status;
  std::string verdict;                                              // part of the last line on err
  std::optional<std::vector<std::string>> received = std::nullopt;  // the PC's lines, when checked
};

std::string Line(std::string json) { return json + "\n"; }

const std::string kHello = R"({"type":"hello","client":"phone_sim","version":"0.1.0"})";
const std::string kBadFrame = Line(R"({"type":"error","code":"bad_frame","message":"invalid json"})");
const std::string kQuick = "300";

// Serves like the PC until a line holding `trigger` arrives, answers that one
// with `reply`, then closes at once or waits for the phone to go.
FakePc::Behaviour ServeUntil(std::string trigger, std::string reply, bool then_close) {
  return [=](FakePc& pc) {
    pc.Send(kWelcome);
    pc.Serve([&](FakePc& self, const std::string& line) {
      if (line.find(trigger) == std::string::npos) {
        return true;
      }
      self.Send(reply);
      if (!then_close) {
        self.Drain();
      }
      return false;
    });
  };
}

std::vector<SessionCase> Cases() {
  return {
      {"reachability check passes", Good, {}, "", kSimPassed, "OK: Parlino 0.1.0 at 127.0.0.1:"},
      {"welcome arrives in pieces",
       [](FakePc& pc) {
         pc.Send(kWelcome.substr(0, 10));
         std::this_thread::sleep_for(std::chrono::milliseconds(30));
         pc.Send(kWelcome.substr(10, 30));
         std::this_thread::sleep_for(std::chrono::milliseconds(30));
         pc.Send(kWelcome.substr(40));
         pc.Serve();
       },
       {},
       "",
       kSimPassed,
       "OK"},
      {"no welcome",
       [](FakePc& pc) { pc.Drain(); },
       {"--timeout", kQuick},
       "",
       kSimFailed,
       "waited 300 ms for the welcome"},
      {"another protocol",
       [](FakePc& pc) {
         pc.Send(R"({"type":"welcome","server":"Parlino","version":"9","protocol":2})"
                 "\n");
         pc.Drain();
       },
       {},
       "",
       kSimFailed,
       "speaks protocol 2"},
      {"pong with another ts",
       ServeUntil("ping", Line(R"({"type":"pong","ts":1})"), false),
       {"--timeout", kQuick},
       "",
       kSimFailed,
       "ts is \"1\""},
      {"stays open after bye",
       ServeUntil(R"({"type":"bye"})", "", false),
       {"--timeout", kQuick},
       "",
       kSimFailed,
       "did not close the connection within 300 ms"},
      {"over a MiB without a line feed",
       [](FakePc& pc) {
         pc.Send(kWelcome);
         pc.Send(std::string((std::size_t{1} << 20) + 4096, 'x'));
         pc.Drain();
       },
       {"--script", "-"},
       "expect pong\n",
       kSimFailed,
       "over 1 MiB without a line feed"},
      {"dictation streams growing partials",
       Good,
       {"--dictate", kNi + kHao, "--interval", "0", "--no-enter"},
       "",
       kSimPassed,
       "acknowledged the commit after 2 partials",
       std::vector<std::string>{kHello, R"({"type":"text","content":")" + kNi + R"("})",
                                R"({"type":"text","content":")" + kNi + kHao + R"("})",
                                R"({"type":"commit","press_enter":false})", R"({"type":"bye"})"}},
      {"replaced during dictation",
       ServeUntil("text", Line(R"({"type":"bye","reason":"replaced"})"), true),
       {"--dictate", "one two three four", "--interval", "50"},
       "",
       kSimFailed,
       "replaced"},
      {"script with partial lines and expectations",
       Good,
       {"--script", "-", "--client", "pixel"},
       "# split one line over two writes\n"
       "raw {\"type\":\"cl\n"
       "sleep 20\n"
       "raw ear\"}\\n\n"
       "expect ack of=clear\n"
       "ping 42\n"
       "expect pong ts=42\n"
       "key enter\n"
       "bye\n",
       kSimPassed,
       "2 expectations met",
       std::vector<std::string>{R"({"type":"hello","client":"pixel","version":"0.1.0"})",
                                R"({"type":"clear"})", R"({"type":"ping","ts":42})",
                                R"({"type":"key","name":"enter"})", R"({"type":"bye"})"}},
      {"script expectation not met",
       Good,
       {"--script", "-"},
       "clear\nexpect ack of=commit\n",
       kSimFailed,
       "script line 2 (expect ack of=commit): expected ack of=commit, got"},
      {"protocol error nothing expected",
       [](FakePc& pc) {
         pc.Send(kWelcome);
         std::string line;
         pc.ReadLine(line);  // hello
         pc.ReadLine(line);
         pc.Send(kBadFrame);
       },
       {"--script", "-"},
       "raw {oops\\n\nsleep 200\n",
       kSimFailed,
       "which nothing expected"},
      {"no hello, the PC gives up",
       [](FakePc& pc) { pc.Send(kWelcome); },
       {"--script", "-", "--no-hello"},
       "wait-close\n",
       kSimPassed,
       "OK",
       std::vector<std::string>{}},
      {"close without bye",
       Good,
       {"--script", "-"},
       "text a\nclose\n",
       kSimPassed,
       "OK",
       std::vector<std::string>{kHello, R"({"type":"text","content":"a"})"}},
  };
}

TEST(PhoneSimSessionTest, Table) {
  const std::regex transcript_line(R"(\[ *\d+ ms\] [<>*] .*)");
  for (const SessionCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    FakePc pc(c.behaviour);
    const SimRun run = RunAgainst(pc, c.options, c.script);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find(c.verdict), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    if (c.received) {
      EXPECT_EQ(pc.Received(), *c.received);
    }
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(std::regex_match(line, transcript_line)) << line;
    }
  }
}

TEST(PhoneSimSessionTest, ReceivedAndSentLinesAreInTheTranscript) {
  FakePc pc(Good);
  const SimRun run = RunAgainst(pc, {"--dictate", kNi, "--interval", "0"});
  ASSERT_EQ(run.status, kSimPassed) << run.out << run.err;
  EXPECT_NE(run.out.find("] < " + kWelcome.substr(0, kWelcome.size() - 1) + "\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("] > {\"type\":\"text\",\"content\":\"" + kNi + "\"}\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("] < {\"type\":\"ack\",\"of\":\"commit\"}\n"), std::string::npos) << run.out;
}

TEST(PhoneSimSessionTest, ScriptFileWithAUnicodeName) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / std::filesystem::path(u8"phone_sim_脚本.txt");
  {
    std::ofstream out(file, std::ios::binary);
    out << "ping 7\r\nexpect pong ts=7\r\nbye\r\n";
  }
  FakePc pc(Good);
  const std::u8string name = file.u8string();
  const SimRun run = RunAgainst(pc, {"--script", std::string(name.begin(), name.end())});
  std::filesystem::remove(file);
  EXPECT_EQ(run.status, kSimPassed) << run.out << run.err;
}

TEST(PhoneSimSessionTest, FailuresBeforeAnyConversationAreUsageErrors) {
  // A port that was free a moment ago refuses the connection.
  int refused_port = 0;
  {
    FakePc pc([](FakePc&) {});
    refused_port = pc.Port();
  }
  struct Case {
    std::vector<std::string> args;
    std::string verdict;
  };
  const Case cases[] = {
      {{"127.0.0.1", std::to_string(refused_port)}, "cannot connect to 127.0.0.1:"},
      {{"127.0.0.1"}, "expected HOST and PORT"},
      {{"127.0.0.1", "1", "--script", "-"}, "standard input: line 1: unknown command"},
      {{"127.0.0.1", "1", "--script", "no/such/phone_sim/script.txt"}, "cannot read the script"},
  };
  for (const Case& c : cases) {
    std::istringstream in("frobnicate\n");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunPhoneSim(c.args, in, out, err), kSimUsage);
    EXPECT_NE(err.str().find(c.verdict), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace lumora
