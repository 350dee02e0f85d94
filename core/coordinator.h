#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/app_config.h"
#include "output/output_queue.h"
#include "overlay/live_text_view.h"

namespace lumora {

// The PC side of the current dictation: which phone is connected and the
// running text of the utterance. Turns phone events into overlay updates and
// output requests. UI thread only: the server's threads reach it through the
// host's task queue, so it needs no lock and never blocks.
class Coordinator {
 public:
  // None of the collaborators is owned, and each may be null: a null overlay
  // skips the overlay steps, a null output queue makes commits and keys
  // produce nothing, a null config makes commits use the phone's Enter flag
  // and typing.
  Coordinator(LiveTextView* overlay, OutputQueue* injector, const AppConfig* config);
  ~Coordinator() { FinishCommit(); }
  Coordinator(const Coordinator&) = delete;
  Coordinator& operator=(const Coordinator&) = delete;

  void HandleClientConnected(std::string peer);
  void HandleClientDisconnected();
  void HandleText(std::string content);
  void HandleCommit(bool phone_press_enter);
  void HandleClear();
  void HandleKey(std::string key);

  // Lets a commit hand its text to the output first and leave the rest of
  // its work (hiding the overlay, its log line) for later: `schedule` asks
  // the host to call FinishCommit soon on the UI thread (a short timer).
  // Both would otherwise compete with the output's first keystrokes for the
  // system. Every later event finishes a waiting commit first, so the
  // overlay and the log keep the order of the phone's events. Without it a
  // commit finishes at once.
  void DeferCommitEpilogue(std::function<void()> schedule) { schedule_finish_ = std::move(schedule); }
  void FinishCommit();

  const std::string& live_text() const { return live_text_; }
  const std::string& client_peer() const { return client_peer_; }

 private:
  void HideOverlay();

  LiveTextView* const overlay_;
  OutputQueue* const injector_;
  const AppConfig* const config_;
  std::string live_text_;
  std::string client_peer_;
  std::function<void()> schedule_finish_;
  // The log line of a commit whose epilogue waits for FinishCommit.
  std::optional<std::string> unfinished_commit_;
};

// The text without its U+200B ZERO WIDTH SPACE characters (bytes E2 80 8B).
// Only what the overlay shows; what gets typed keeps them.
std::string StripZeroWidthSpaces(std::string_view text);

}  // namespace lumora
