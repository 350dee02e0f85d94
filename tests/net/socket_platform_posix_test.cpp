#include <gtest/gtest.h>

#include "net/socket_platform.h"

namespace lumora {
namespace {

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
