#pragma once

#include <functional>
#include <memory>

namespace lumora {

// Calls `on_change` (on a system thread, any time until the destructor
// returns) when an adapter comes or goes or an IPv4 unicast address is
// added, removed or changed, so that the host lists the addresses afresh.
// Calls never overlap; several changes at once may come as one call, and a
// call may come for a change that alters nothing shown. The callback must be
// quick and must not block on the UI thread (the host posts a task from it).
// The destructor returns only when no call is running or will run; it must
// not run inside the callback.
class AddressWatch {
 public:
  explicit AddressWatch(std::function<void()> on_change);
  ~AddressWatch();
  AddressWatch(const AddressWatch&) = delete;
  AddressWatch& operator=(const AddressWatch&) = delete;

  // False when the platform gave no notification (then nothing is ever
  // called).
  bool watching() const;

 private:
  struct Impl;  // the platform's registrations, or its reader thread
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumora
