#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "net/address_watch.h"
#include "net/socket_platform.h"

namespace lumora {

struct AddressWatch::Impl {
  explicit Impl(std::function<void()> callback) : on_change(std::move(callback)) {}

  // The reader thread: waits for the kernel's messages or the wake, takes
  // every message that has arrived, and calls once for the lot.
  void Read() {
    // Only the sender matters; a message longer than this is cut short.
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
      pollfd waits[2] = {{netlink.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0) {
        if (errno == EINTR) {
          continue;
        }
        return;  // with descriptors of its own, only a lack of memory gets here
      }
      if (waits[1].revents != 0) {
        return;
      }
      bool changed = false;
      for (;;) {
        sockaddr_nl sender{};
        iovec part{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(netlink.get(), &message, MSG_DONTWAIT);
        if (received < 0) {
          if (errno == EINTR) {
            continue;
          }
          if (errno == ENOBUFS) {
            // The kernel dropped messages it had no room for: something
            // changed that this thread will never read about.
            changed = true;
            continue;
          }
          if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
          }
          // Nothing else mends: the thread ends rather than spin, and the
          // watch falls silent.
          Call(changed);
          return;
        }
        // The socket hears only the link and IPv4 address groups, so every
        // message of the kernel's is a change (Wi-Fi scans included, which
        // come as link messages: a listing too many is cheap). Only the
        // kernel speaks for the routing tables; a process could send anything.
        changed = changed || sender.nl_pid == 0;
      }
      Call(changed);
    }
  }

  void Call(bool changed) {
    if (changed) {
      on_change();
    }
  }

  std::function<void()> on_change;
  Socket netlink;
  // An eventfd, which a Socket owns as well: on Linux both are descriptors,
  // closed alike. Not the loopback SocketWake of the server's threads, which
  // cannot be made while the loopback interface is down, as it is in a fresh
  // network namespace.
  Socket wake;
  std::thread reader;  // joined by ~AddressWatch before the members above go
};

AddressWatch::AddressWatch(std::function<void()> on_change)
    : impl_(std::make_unique<Impl>(std::move(on_change))) {
  Impl& impl = *impl_;
  impl.netlink.Reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  impl.wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl.netlink.valid() || !impl.wake.valid()) {
    return;
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
  if (::bind(impl.netlink.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return;
  }
  try {
    impl.reader = std::thread([&impl] { impl.Read(); });
  } catch (const std::system_error&) {
    // No thread, no watch: watching() says so and nothing is called.
  }
}

AddressWatch::~AddressWatch() {
  if (impl_->reader.joinable()) {
    const std::uint64_t one = 1;
    // Cannot fail short of a counter at its maximum, which one write never
    // reaches; the reader ends at the first.
    [[maybe_unused]] const ssize_t written = ::write(impl_->wake.get(), &one, sizeof one);
    impl_->reader.join();
  }
}

bool AddressWatch::watching() const { return impl_->reader.joinable(); }

}  // namespace lumora
