#pragma once

#include <functional>

#include "net/server.h"

namespace lumora {

class Coordinator;

// What the wiring needs from the program that hosts it.
struct ServerWiringHost {
  // Queues a task to run on the UI thread, in posting order. Any thread.
  std::function<void(std::function<void()>)> post_ui_task;
  // The coordinator as it is when a task runs (null when there is none).
  std::function<Coordinator*()> coordinator;
  // Runs on the UI thread after each connect and disconnect, with or without
  // a coordinator: the tray tip shows the link's state.
  std::function<void()> link_changed;
};

// The server's callbacks, each carrying its event over to the UI thread,
// where the coordinator handles it: the connection thread only moves the
// event into a task and posts it, so the server's replies never wait for the
// UI. Tasks run in posting order, which is the order of the phone's lines.
// OnError writes one log line on the calling thread and posts nothing.
ServerCallbacks WireServerCallbacks(ServerWiringHost host);

}  // namespace lumora
