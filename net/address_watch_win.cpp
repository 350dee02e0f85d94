#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the Winsock headers first.
#include <iphlpapi.h>

#include <memory>
#include <mutex>
#include <utility>

#include "net/address_watch.h"

namespace lumora {
// Named, not anonymous: Impl's fields have this type, and Impl has linkage.
namespace detail {

// A registration from NotifyIpInterfaceChange or NotifyUnicastIpAddressChange,
// cancelled with CancelMibChangeNotify2, which waits for a callback that is
// running. Null means none: Wine 8 answers both registrations with NO_ERROR
// and a null handle, and calls back for no change (measured); a null handle
// cannot be cancelled.
class ScopedMibNotification {
 public:
  ScopedMibNotification() = default;
  ScopedMibNotification(const ScopedMibNotification&) = delete;
  ScopedMibNotification& operator=(const ScopedMibNotification&) = delete;
  ~ScopedMibNotification() { Reset(); }

  bool valid() const { return handle_ != nullptr; }
  // Cancels what was held, then holds `handle`.
  void Reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr) {
      ::CancelMibChangeNotify2(handle_);
    }
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace detail

struct AddressWatch::Impl {
  explicit Impl(std::function<void()> callback) : on_change(std::move(callback)) {}

  // The two registrations call back on threads of the system's pool, at once
  // if both change together; the lock makes the calls take turns. The
  // destructor never takes it, so cancelling cannot wait on a callback that
  // waits on the destructor.
  void Notify() {
    const std::lock_guard<std::mutex> lock(calls);
    on_change();
  }

  static void WINAPI OnInterfaceChange(void* context, MIB_IPINTERFACE_ROW* /*row*/,
                                       MIB_NOTIFICATION_TYPE type) {
    if (type != MibInitialNotification) {
      static_cast<Impl*>(context)->Notify();
    }
  }
  static void WINAPI OnAddressChange(void* context, MIB_UNICASTIPADDRESS_ROW* /*row*/,
                                     MIB_NOTIFICATION_TYPE type) {
    if (type != MibInitialNotification) {
      static_cast<Impl*>(context)->Notify();
    }
  }

  std::function<void()> on_change;
  std::mutex calls;
  // Declared last, so that they are cancelled first: no call reaches the
  // members above once they are gone.
  detail::ScopedMibNotification interfaces;
  detail::ScopedMibNotification addresses;
};

AddressWatch::AddressWatch(std::function<void()> on_change)
    : impl_(std::make_unique<Impl>(std::move(on_change))) {
  // A change can call back before the registration returns: everything the
  // callback touches exists by now. A handle is taken only from a call that
  // succeeded, never what a failed one left behind. Either registration
  // alone still tells of most changes, so one that fails keeps the other.
  HANDLE handle = nullptr;
  if (::NotifyIpInterfaceChange(AF_INET, &Impl::OnInterfaceChange, impl_.get(), FALSE, &handle) == NO_ERROR) {
    impl_->interfaces.Reset(handle);
  }
  handle = nullptr;
  if (::NotifyUnicastIpAddressChange(AF_INET, &Impl::OnAddressChange, impl_.get(), FALSE, &handle) ==
      NO_ERROR) {
    impl_->addresses.Reset(handle);
  }
}

AddressWatch::~AddressWatch() {
  // Both cancelled before the callback and its lock are destroyed.
  impl_->addresses.Reset();
  impl_->interfaces.Reset();
}

bool AddressWatch::watching() const { return impl_->interfaces.valid() || impl_->addresses.valid(); }

}  // namespace lumora
