#include "core/server_wiring.h"

#include <memory>
#include <string>
#include <utility>

#include "core/coordinator.h"
#include "core/phone_gate.h"
#include "log/log.h"

namespace lumora {
namespace {

using SharedHost = std::shared_ptr<const ServerWiringHost>;

// On the UI thread: the coordinator is looked up now, not when the event was
// posted, so a task never reaches one that has since been destroyed.
template <typename Handle>
void RunOnUiThread(const ServerWiringHost& host, Handle&& handle, bool link_change) {
  if (Coordinator* coordinator = host.coordinator ? host.coordinator() : nullptr) {
    handle(*coordinator);
  }
  if (link_change && host.link_changed) {
    host.link_changed();
  }
}

// A callback that posts `handle(argument)` as a UI task, the argument copied
// into the task.
template <typename Arg>
auto Relay(SharedHost host, void (Coordinator::*handle)(Arg), bool link_change = false) {
  return [host = std::move(host), handle, link_change](const std::decay_t<Arg>& value) {
    host->post_ui_task([host, handle, link_change, value]() mutable {
      RunOnUiThread(
          *host, [&](Coordinator& coordinator) { (coordinator.*handle)(std::move(value)); }, link_change);
    });
  };
}

auto Relay(SharedHost host, void (Coordinator::*handle)(), bool link_change = false) {
  return [host = std::move(host), handle, link_change] {
    host->post_ui_task([host, handle, link_change] {
      RunOnUiThread(
          *host, [&](Coordinator& coordinator) { (coordinator.*handle)(); }, link_change);
    });
  };
}

}  // namespace

ServerCallbacks WireServerCallbacks(ServerWiringHost host) {
  ServerCallbacks callbacks;
  callbacks.OnError = [](const std::string& code, const std::string& message) {
    Log(LogLevel::Error, "APP", "server error " + code + ": " + message);
  };
  if (!host.post_ui_task) {
    // Nowhere to send the events: the server skips unset callbacks.
    return callbacks;
  }
  if (PhoneGate* gate = host.gate) {
    callbacks.AcceptSource = [gate](std::uint32_t address) { return gate->AcceptSource(address); };
    callbacks.AdmitPhone = [gate](const PhoneHello& hello) { return gate->Admit(hello); };
    callbacks.ReviewPhone = [gate](const PhoneHello& hello) { return gate->Review(hello); };
  }
  const auto shared = std::make_shared<const ServerWiringHost>(std::move(host));
  // Posted in the same queue as the coordinator's tasks, so that the phone
  // that became active is known before its connect is handled.
  if (shared->phone_held) {
    callbacks.OnPhoneHeld = [shared](const PhoneHello& hello) {
      shared->post_ui_task([shared, hello] { shared->phone_held(hello); });
    };
  }
  if (shared->held_phone_gone) {
    callbacks.OnHeldPhoneGone = [shared](std::uint64_t id) {
      shared->post_ui_task([shared, id] { shared->held_phone_gone(id); });
    };
  }
  if (shared->phone_active) {
    callbacks.OnPhoneActive = [shared](const PhoneHello& hello, bool took_over) {
      shared->post_ui_task([shared, hello, took_over] { shared->phone_active(hello, took_over); });
    };
  }
  callbacks.OnClientConnected = Relay(shared, &Coordinator::HandleClientConnected, true);
  callbacks.OnClientDisconnected = Relay(shared, &Coordinator::HandleClientDisconnected, true);
  callbacks.OnText = Relay(shared, &Coordinator::HandleText);
  callbacks.OnCommit = Relay(shared, &Coordinator::HandleCommit);
  callbacks.OnClear = Relay(shared, &Coordinator::HandleClear);
  callbacks.OnKey = Relay(shared, &Coordinator::HandleKey);
  return callbacks;
}

}  // namespace lumora
