#pragma once

#include <string>

namespace lumora {

// Where the live text of the current utterance is shown. The overlay window
// implements it; the coordinator talks to it through this interface so that
// its decisions can be checked without a desktop.
class LiveTextView {
 public:
  virtual ~LiveTextView() = default;
  // Shows `text` (UTF-8); empty text behaves like Hide().
  virtual void ShowText(const std::string& text) = 0;
  virtual void Hide() = 0;
};

}  // namespace lumora
