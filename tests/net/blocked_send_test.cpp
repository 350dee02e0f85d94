// Peers that will not take what is sent to them: one that stops reading, so
// that the socket takes no more, and one that sends urgent data, which
// Winsock's select reported as if the socket could take more. No send may
// wait on either past the wake or the stall limit. Wine's sockets never push
// back (measured), so the blocked send is shown where they do.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/server.h"
#include "net/socket_platform.h"
#include "tests/net/test_phone.h"

namespace lumora {
namespace {

using std::chrono::milliseconds;
using testing::Clock;

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

void SetBuffer(const Socket& socket, int option, int bytes) {
  ::setsockopt(socket.get(), SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

// `client` connected to `accepted` on 127.0.0.1, both with small buffers so
// that a reader that stops reading pushes back soon.
void Connect(Socket& client, Socket& accepted) {
  ASSERT_TRUE(EnsureWinsock());
  Socket listener(OpenTcpSocket());
  sockaddr_in address = Loopback(0);
  SockLen size = sizeof address;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  client.Reset(OpenTcpSocket());
  SetBuffer(client, SO_RCVBUF, 16384);
  ASSERT_EQ(ConnectWithTimeout(client.get(), address, 5000), 0);
  accepted.Reset(::accept(listener.get(), nullptr, nullptr));
  ASSERT_TRUE(accepted.valid());
  SetBuffer(accepted, SO_SNDBUF, 16384);
}

// Sends until the socket takes not one byte more, even after a while (the
// kernel moves queued bytes to the reader's side meanwhile); false when it
// took 16 MB without pushing back.
bool FillUntilBlocked(const Socket& socket) {
  const std::string block(65536, 'x');
  std::size_t total = 0;
  const struct {
    std::size_t size;
    int wait_ms;
  } stages[] = {{block.size(), 0}, {1024, 0}, {1, 300}};
  for (const auto& stage : stages) {
    for (;;) {
      long sent = -1;
      if (SendOrWake(socket.get(), block.data(), stage.size, stage.wait_ms, nullptr, sent) ==
          SocketWait::TimedOut) {
        break;
      }
      total += static_cast<std::size_t>(sent);
      if (sent <= 0 || total > (16u << 20)) {
        return false;
      }
    }
  }
  return true;
}

// What happens 100 ms into the blocked send.
enum class Then { Nothing, Wake, ReadSome, Read, Close };

TEST(SendOrWakeTest, BlockedSendEndsForTheWakeTheTimeRoomOrAFailure) {
  struct Case {
    const char* name;
    bool woken_before;
    Then then;
    int timeout_ms;
    SocketWait wait;
    bool sent;  // when Ready: bytes went out (else the failure, negative)
  };
  // The waits that must not end by time have 20 s and must end within 10.
  const Case cases[] = {
      {"woken before", true, Then::Nothing, 20000, SocketWait::Stopped, false},
      {"woken while blocked", false, Then::Wake, 20000, SocketWait::Stopped, false},
      {"no room in time", false, Then::Nothing, 150, SocketWait::TimedOut, false},
      {"room for a part of the line only", false, Then::ReadSome, 20000, SocketWait::Ready, true},
      {"the peer reads again", false, Then::Read, 20000, SocketWait::Ready, true},
      {"the peer goes away", false, Then::Close, 20000, SocketWait::Ready, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Socket client;
    Socket accepted;
    ASSERT_NO_FATAL_FAILURE(Connect(client, accepted));
    const bool blocked = FillUntilBlocked(accepted);
#ifdef _WIN32
    if (!blocked) {
      GTEST_SKIP() << "Wine's sockets never push back";
    }
#endif
    ASSERT_TRUE(blocked);
    SocketWake wake;
    ASSERT_TRUE(wake.Open());
    if (c.woken_before) {
      wake.Wake();
    }
    std::thread peer([&] {
      std::this_thread::sleep_for(milliseconds(100));
      char sink[65536];
      switch (c.then) {
        case Then::Nothing:
          break;
        case Then::Wake:
          wake.Wake();
          break;
        case Then::ReadSome:
          ReceiveSome(client.get(), sink, sizeof sink);
          break;
        case Then::Read:
          while (PollSocket(client.get(), SocketDirection::Read, kInvalidSocket, 500) == SocketPoll::Ready &&
                 ReceiveSome(client.get(), sink, sizeof sink) > 0) {
          }
          break;
        case Then::Close:
          client.Reset();  // unread bytes: the connection is reset
          break;
      }
    });
    // Longer than both buffers: a send that waited for room and then took
    // the whole line would wait for a reader that never reads it all.
    const std::string line(1 << 20, 'y');
    long sent = 0;
    const auto start = Clock::now();
    const SocketWait wait = SendOrWake(accepted.get(), line.data(), line.size(), c.timeout_ms, &wake, sent);
    const auto waited = Clock::now() - start;
    peer.join();
    EXPECT_EQ(wait, c.wait);
    EXPECT_LT(waited, std::chrono::seconds(10));
    if (wait == SocketWait::Ready) {
      EXPECT_EQ(sent > 0, c.sent) << sent;
    }
  }
}

// An urgent byte is the stream's: here it ends a ping line, which is
// answered. Held apart it would be lost to the stream, and Winsock's select
// would report it for as long as nobody read it.
TEST(UrgentDataTest, UrgentByteIsReadInTheStream) {
  testing::EventRecorder recorder;
  ParlinoServer server;
  ASSERT_TRUE(server.Start(0, recorder.Callbacks()));
  Socket phone(OpenTcpSocket());
  ASSERT_EQ(ConnectWithTimeout(phone.get(), Loopback(static_cast<unsigned short>(server.BoundPort())), 5000),
            0);
  const std::string hello = "{\"type\":\"hello\",\"client\":\"t\",\"version\":\"1\"}\n";
  const std::string ping = "{\"type\":\"ping\",\"ts\":7}";
  ASSERT_EQ(SendSome(phone.get(), hello.data(), hello.size()), static_cast<long>(hello.size()));
  ASSERT_TRUE(recorder.WaitForCount(1));
  ASSERT_EQ(SendSome(phone.get(), ping.data(), ping.size()), static_cast<long>(ping.size()));
  ASSERT_EQ(::send(phone.get(), "\n", 1, MSG_OOB), 1);

  std::string got;
  const auto deadline = Clock::now() + milliseconds(5000);
  while (got.find("pong") == std::string::npos && Clock::now() < deadline) {
    char chunk[512];
    if (PollSocket(phone.get(), SocketDirection::Read, kInvalidSocket, 500) != SocketPoll::Ready) {
      continue;
    }
    const long received = ReceiveSome(phone.get(), chunk, sizeof chunk);
    if (received <= 0) {
      break;
    }
    got.append(chunk, static_cast<std::size_t>(received));
  }
  EXPECT_NE(got.find("{\"type\":\"pong\",\"ts\":7}\n"), std::string::npos) << got;
  server.Stop();
}

}  // namespace
}  // namespace lumora
