#include "core/listen_port.h"

#include <utility>

namespace lumora {

PortMove MoveServerToPort(std::unique_ptr<ParlinoServer>& current, unsigned port,
                          const std::function<ServerCallbacks()>& make_callbacks) {
  if (current && current->IsRunning() && current->Port() == port) {
    return PortMove::AlreadyThere;
  }
  auto next = std::make_unique<ParlinoServer>();
  if (!next->Start(port, make_callbacks ? make_callbacks() : ServerCallbacks{})) {
    return PortMove::Taken;
  }
  // Both listen for a moment; the old one's phone is told its end by the old
  // server's own callbacks, before the new one is handed over.
  if (current) {
    current->Stop();
  }
  current = std::move(next);
  return PortMove::Moved;
}

}  // namespace lumora
