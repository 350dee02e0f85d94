#pragma once

#include <cstdint>
#include <functional>

#include "net/server.h"

namespace lumora {

class Coordinator;
class PhoneGate;

// What the wiring needs from the program that hosts it.
struct ServerWiringHost {
  // Queues a task to run on the UI thread, in posting order. Any thread.
  std::function<void(std::function<void()>)> post_ui_task;
  // The coordinator as it is when a task runs (null when there is none).
  std::function<Coordinator*()> coordinator;
  // Runs on the UI thread after each connect and disconnect, with or without
  // a coordinator: the tray tip shows the link's state.
  std::function<void()> link_changed;

  // Optional: which phones may type. Without it every phone is served at once.
  // Asked on the accept thread, and on the caller's thread of the server's
  // ReviewActivePhone; must outlive the server.
  PhoneGate* gate = nullptr;
  // On the UI thread: a phone waits for the user's answer; a waiting phone
  // is gone without having been allowed; a phone became the active one, just
  // before the coordinator hears of its connect.
  std::function<void(const PhoneHello& hello)> phone_held;
  std::function<void(std::uint64_t id)> held_phone_gone;
  std::function<void(const PhoneHello& hello, bool took_over)> phone_active;
  // On the UI thread: the server turned a connection away (address in host
  // byte order).
  std::function<void(std::uint32_t address, RefusalReason reason)> connection_refused;
};

// The server's callbacks, each carrying its event over to the UI thread,
// where the coordinator handles it: the connection thread only moves the
// event into a task and posts it, so the server's replies never wait for the
// UI. Tasks run in posting order, which is the order of the phone's lines.
// OnError writes one log line on the calling thread and posts nothing. With a
// gate, it decides on the accept thread who is served, held or refused.
ServerCallbacks WireServerCallbacks(ServerWiringHost host);

}  // namespace lumora
