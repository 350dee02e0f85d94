#include <netinet/tcp.h>

#include <gtest/gtest.h>

#include "net/socket_platform.h"

namespace lumora {
namespace {

int IntOption(SocketHandle socket, int level, int option) {
  int value = -1;
  socklen_t size = sizeof value;
  if (::getsockopt(socket, level, option, &value, &size) != 0) {
    return -1;
  }
  return value;
}

TEST(SetKeepAlivePosixTest, KernelHoldsTheTimingInWholeSecondsRoundedUp) {
  struct Case {
    const char* name;
    KeepAliveTiming timing;
    int idle_s;
    int interval_s;
    int probes;
  };
  const Case cases[] = {
      {"default: a vanished phone is dropped after 10 s + 10 x 2 s", KeepAliveTiming{}, 10, 2, 10},
      {"whole seconds", {60000, 5000, 3}, 60, 5, 3},
      {"a millisecond over rounds up", {1001, 2001, 5}, 2, 3, 5},
      {"half a second is a whole one", {1500, 500, 1}, 2, 1, 1},
      {"one millisecond is one second", {1, 1, 1}, 1, 1, 1},
      {"zero is the least the kernel takes", {0, 0, 0}, 1, 1, 1},
      {"the most probes Linux takes", {10000, 2000, 127}, 10, 2, 127},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Socket socket(OpenTcpSocket());
    ASSERT_TRUE(socket.valid());
    ASSERT_TRUE(SetKeepAlive(socket.get(), c.timing));
    EXPECT_EQ(IntOption(socket.get(), SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(IntOption(socket.get(), IPPROTO_TCP, TCP_KEEPIDLE), c.idle_s);
    EXPECT_EQ(IntOption(socket.get(), IPPROTO_TCP, TCP_KEEPINTVL), c.interval_s);
    EXPECT_EQ(IntOption(socket.get(), IPPROTO_TCP, TCP_KEEPCNT), c.probes);
  }
}

TEST(SetKeepAlivePosixTest, RefusedTimingIsReportedAndLeavesKeepAliveOff) {
  // Linux takes at most 127 probes and 32767 s.
  const KeepAliveTiming refused[] = {{10000, 2000, 128}, {32768000, 2000, 10}, {10000, 0xFFFFFFFF, 10}};
  for (const KeepAliveTiming& timing : refused) {
    SCOPED_TRACE(timing.idle_ms);
    Socket socket(OpenTcpSocket());
    ASSERT_TRUE(socket.valid());
    EXPECT_FALSE(SetKeepAlive(socket.get(), timing));
    EXPECT_EQ(IntOption(socket.get(), SOL_SOCKET, SO_KEEPALIVE), 0);
  }
  EXPECT_FALSE(SetKeepAlive(kInvalidSocket));
}

// What SO_REUSEADDR is kept for on Linux: a restart binds the port again
// while the last run's connection lingers in TIME_WAIT on it.
TEST(ClaimListenAddressPosixTest, RestartRebindsWhileTheLastConnectionIsInTimeWait) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;

  Socket listener(OpenTcpSocket());
  ASSERT_TRUE(ClaimListenAddress(listener.get()));
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  Socket phone(OpenTcpSocket());
  ASSERT_EQ(ConnectWithTimeout(phone.get(), address, 5000), 0);
  Socket accepted(::accept(listener.get(), nullptr, nullptr));
  ASSERT_TRUE(accepted.valid());

  // The server closes first, so its end of the connection waits in
  // TIME_WAIT on the listening port.
  accepted.Reset();
  char byte = 0;
  ASSERT_EQ(ReceiveSome(phone.get(), &byte, 1), 0);
  phone.Reset();
  listener.Reset();

  Socket restarted(OpenTcpSocket());
  ASSERT_TRUE(ClaimListenAddress(restarted.get()));
  EXPECT_EQ(::bind(restarted.get(), reinterpret_cast<const sockaddr*>(&address), size), 0)
      << DescribeSocketError(errno);
}

}  // namespace
}  // namespace lumora
