#pragma once

#include <string>

namespace lumora {

// Where committed text and key requests go to be performed, in order, off the
// UI thread. TextInjector implements it; the coordinator talks to it through
// this interface so that its decisions can be checked without a desktop.
class OutputQueue {
 public:
  virtual ~OutputQueue() = default;
  virtual void EnqueueText(std::string text, bool press_enter, bool use_clipboard_paste) = 0;
  virtual void EnqueueKey(std::string key) = 0;
};

}  // namespace lumora
