// Commit-to-ack round trips through the real server over loopback, side by
// side with a minimal echo server on the same socket layer (the floor: one
// receive and one send per line, nothing else), and lines per second through
// the framing and dispatch alone.

#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/server.h"
#include "net/socket_platform.h"
#include "core/phone_gate.h"
#include "tests/bench/ratio_reporter.h"

namespace {

using lumora::Socket;
using lumora::SocketHandle;

const std::string kCommit = "{\"type\":\"commit\"}\n";
const std::string kAck = "{\"type\":\"ack\",\"of\":\"commit\"}\n";

Socket ConnectLoopback(unsigned port) {
  Socket socket(lumora::OpenTcpSocket());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<unsigned short>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    socket.Reset();
  }
  return socket;
}

// Reads up to and including the next line feed; false when the peer closed.
bool ReadLine(SocketHandle socket, std::string& pending, std::string& line) {
  char chunk[4096];
  for (;;) {
    const std::size_t line_feed = pending.find('\n');
    if (line_feed != std::string::npos) {
      line.assign(pending, 0, line_feed + 1);
      pending.erase(0, line_feed + 1);
      return true;
    }
    const long received = lumora::ReceiveSome(socket, chunk, sizeof chunk);
    if (received <= 0) {
      return false;
    }
    pending.append(chunk, static_cast<std::size_t>(received));
  }
}

void RoundTrips(benchmark::State& state, SocketHandle phone, std::string& pending) {
  std::string line;
  for (auto _ : state) {
    lumora::SendLine(phone, kCommit);
    if (!ReadLine(phone, pending, line) || line != kAck) {
      state.SkipWithError("no ack");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The floor: accepts one phone and answers every line with the ack.
class EchoServer {
 public:
  EchoServer() {
    listener_.Reset(lumora::OpenTcpSocket());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    lumora::SockLen size = sizeof address;
    if (!listener_.valid() ||
        ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 4) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;  // port() stays 0
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EchoServer() {
    if (thread_.joinable()) {
      // Wakes an accept still waiting for a phone that never connected
      // (natively, where this benchmark runs, shutdown does).
      lumora::ShutdownSocket(listener_.get());
      thread_.join();
    }
  }
  unsigned port() const { return port_; }

 private:
  void Serve() {
    const Socket client(::accept(listener_.get(), nullptr, nullptr));
    if (!client.valid()) {
      return;
    }
    std::string pending;
    std::string line;
    while (ReadLine(client.get(), pending, line)) {
      lumora::SendLine(client.get(), kAck);
    }
  }

  Socket listener_;
  unsigned port_ = 0;
  std::thread thread_;
};

void BM_EchoFloorRoundTrip(benchmark::State& state) {
  lumora::EnsureWinsock();
  EchoServer echo;
  Socket phone = echo.port() != 0 ? ConnectLoopback(echo.port()) : Socket();
  if (!phone.valid()) {
    state.SkipWithError("no connection to the echo server");
    return;
  }
  std::string pending;
  RoundTrips(state, phone.get(), pending);
  phone.Reset();  // the echo thread sees the close and ends
}
BENCHMARK(BM_EchoFloorRoundTrip)->UseRealTime();

void BM_ServerCommitToAck(benchmark::State& state) {
  lumora::ParlinoServer server;
  std::atomic<int> commits{0};
  lumora::ServerCallbacks callbacks;
  callbacks.OnCommit = [&commits](bool) { commits.fetch_add(1, std::memory_order_relaxed); };
  // Behind the program's gate, as an allowed phone: the gate's work is done
  // once per connection and must stay out of the commit's path.
  lumora::AppConfig config;
  config.known_phones = {{"bench", "", "127.0.0.1"}};
  lumora::PhoneGate gate(&lumora::GetLocalIPv4Subnets);
  gate.Configure(config);
  callbacks.AcceptSource = [&gate](std::uint32_t address) { return gate.AcceptSource(address); };
  callbacks.AdmitPhone = [&gate](const lumora::PhoneHello& hello) { return gate.Admit(hello); };
  if (!server.Start(0, std::move(callbacks))) {
    state.SkipWithError("server did not start");
    return;
  }
  const Socket phone = ConnectLoopback(server.BoundPort());
  std::string pending;
  std::string line;
  if (!phone.valid() || !ReadLine(phone.get(), pending, line) || line.find("\"welcome\"") == std::string::npos) {
    state.SkipWithError("no welcome from the server");
  } else {
    lumora::SendLine(phone.get(), "{\"type\":\"hello\",\"client\":\"bench\"}\n");
    RoundTrips(state, phone.get(), pending);
    // Each ack follows its commit's callback: an ack without one is a fault.
    if (!state.error_occurred() && commits.load() != static_cast<int>(state.iterations())) {
      state.SkipWithError("the server acknowledged commits it did not report");
    }
  }
  server.Stop();
}
BENCHMARK(BM_ServerCommitToAck)->UseRealTime();

void BM_DispatchLines(benchmark::State& state) {
  // A recogniser's stream: growing partial texts, then a commit.
  std::string stream;
  std::string utterance;
  for (int i = 0; i < 40; ++i) {
    utterance += "你";
    stream += "{\"type\":\"text\",\"content\":\"" + utterance + "\"}\n";
  }
  stream += kCommit;
  const int lines = 41;
  lumora::ServerCallbacks callbacks;
  std::size_t texts = 0;
  std::size_t replies = 0;
  callbacks.OnText = [&texts](const std::string&) { ++texts; };
  const auto send = [&replies](std::string_view) { ++replies; };
  for (auto _ : state) {
    std::string buffer = stream;
    if (!lumora::DispatchLines(buffer, callbacks, send) || !buffer.empty()) {
      state.SkipWithError("the stream was not dispatched whole");
      break;
    }
  }
  // 40 texts and the commit's ack per stream, or the figure is of something else.
  const auto streams = static_cast<std::size_t>(state.iterations());
  if (!state.error_occurred() && (texts != streams * 40 || replies != streams)) {
    state.SkipWithError("the stream's lines did not all reach the callbacks");
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_DispatchLines);

}  // namespace

int main(int argc, char** argv) {
  return lumora::bench::RunWithRatios(argc, argv, "BM_EchoFloorRoundTrip", "items/s");
}
