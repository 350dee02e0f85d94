#include "core/server_wiring.h"

#include <memory>
#include <mutex>
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

// Live texts arrive far faster than the overlay draws them (a phone may send
// 64 KiB lines back to back): only the newest waiting one is drawn. The slot
// holds the text of the one task that is pending; a newer text replaces it
// there instead of posting another task. Any other event of the phone closes
// the slot, so that a text after it posts a task of its own and is never
// taken by a task posted before that event (a commit would type the next
// utterance, or a clear would wipe it).
struct LiveTextSlot {
  struct Pending {
    std::string text;
    bool dropped = false;  // its text would be wiped by the event after it
  };
  std::mutex mutex;  // guards `open` and every Pending's fields
  std::shared_ptr<Pending> open;
};

using SharedSlot = std::shared_ptr<LiveTextSlot>;

auto CoalescedText(SharedHost host, SharedSlot slot) {
  return [host = std::move(host), slot = std::move(slot)](const std::string& text) {
    // Posted under the slot's lock, so that tasks leave in the order the
    // slot saw the events.
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (slot->open) {
      slot->open->text = text;
      return;
    }
    auto pending = std::make_shared<LiveTextSlot::Pending>();
    pending->text = text;
    slot->open = pending;
    host->post_ui_task([host, slot, pending] {
      std::string newest;
      {
        std::lock_guard<std::mutex> task_lock(slot->mutex);
        if (slot->open == pending) {
          slot->open.reset();
        }
        if (pending->dropped) {
          return;
        }
        newest = std::move(pending->text);
      }
      RunOnUiThread(
          *host, [&](Coordinator& coordinator) { coordinator.HandleText(std::move(newest)); }, false);
    });
  };
}

// Wraps another event's callback: it closes the slot first. After a clear,
// connect or disconnect (`drops`) the pending text is not drawn at all: the
// event wipes it at once, and its memory is given back now.
template <typename Callback>
auto ClosingSlot(SharedSlot slot, bool drops, Callback callback) {
  return [slot = std::move(slot), drops, callback = std::move(callback)](const auto&... args) {
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (slot->open && drops) {
      slot->open->dropped = true;
      slot->open->text = std::string();
    }
    slot->open.reset();
    callback(args...);
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
  if (shared->connection_refused) {
    callbacks.OnConnectionRefused = [shared](std::uint32_t address, RefusalReason reason) {
      shared->post_ui_task([shared, address, reason] { shared->connection_refused(address, reason); });
    };
  }
  const auto slot = std::make_shared<LiveTextSlot>();
  callbacks.OnClientConnected =
      ClosingSlot(slot, true, Relay(shared, &Coordinator::HandleClientConnected, true));
  callbacks.OnClientDisconnected =
      ClosingSlot(slot, true, Relay(shared, &Coordinator::HandleClientDisconnected, true));
  callbacks.OnText = CoalescedText(shared, slot);
  callbacks.OnCommit = ClosingSlot(slot, false, Relay(shared, &Coordinator::HandleCommit));
  callbacks.OnClear = ClosingSlot(slot, true, Relay(shared, &Coordinator::HandleClear));
  callbacks.OnKey = ClosingSlot(slot, false, Relay(shared, &Coordinator::HandleKey));
  return callbacks;
}

}  // namespace lumora
