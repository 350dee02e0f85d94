#pragma once

#include <functional>
#include <memory>

#include "net/server.h"

namespace lumora {

// What became of a request to serve the phone link on a port.
enum class PortMove {
  AlreadyThere,  // a running server listens on it: nothing changed
  Moved,         // a new server listens there; the one before it is stopped
  Taken,         // it could not be bound: the server before it is as it was
};

// Moves the phone link to `port` so that a port that cannot be bound never
// leaves the program listening nowhere: a new server is started on `port`
// with `make_callbacks()`, and only once it listens is `current` stopped and
// replaced by it. When the start fails, `current` is left exactly as it was,
// running or not (or null).
PortMove MoveServerToPort(std::unique_ptr<ParlinoServer>& current, unsigned port,
                          const std::function<ServerCallbacks()>& make_callbacks);

}  // namespace lumora
