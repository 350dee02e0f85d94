#include "core/coordinator.h"

#include <utility>

#include "log/log.h"

namespace lumora {
namespace {

void LogProgress(const std::string& message) { Log(LogLevel::Warn, "APP", message); }

}  // namespace

std::string StripZeroWidthSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 2 < text.size() && text[i] == '\xE2' && text[i + 1] == '\x80' && text[i + 2] == '\x8B') {
      i += 3;
      continue;
    }
    out.push_back(text[i]);
    ++i;
  }
  return out;
}

Coordinator::Coordinator(LiveTextView* overlay, OutputQueue* injector, const AppConfig* config)
    : overlay_(overlay), injector_(injector), config_(config) {}

void Coordinator::HideOverlay() {
  if (overlay_ != nullptr) {
    overlay_->Hide();
  }
}

void Coordinator::HandleClientConnected(std::string peer) {
  FinishCommit();
  client_peer_ = std::move(peer);
  LogProgress("coordinator: client connect " + client_peer_);
  // Text left live by an earlier phone is dropped, never typed.
  live_text_.clear();
  HideOverlay();
}

void Coordinator::HandleClientDisconnected() {
  FinishCommit();
  LogProgress("coordinator: client disconnect " + client_peer_);
  client_peer_.clear();
  live_text_.clear();
  HideOverlay();
}

void Coordinator::HandleText(std::string content) {
  FinishCommit();
  live_text_ = std::move(content);
  const std::string shown = StripZeroWidthSpaces(live_text_);
  if (shown.empty()) {
    HideOverlay();
  } else if (overlay_ != nullptr) {
    overlay_->ShowText(shown);
  }
}

void Coordinator::HandleCommit(bool phone_press_enter) {
  // The user's setting alone decides about Enter; the phone's flag is only
  // logged, and used when there is no setting at all.
  const bool effective = config_ != nullptr ? config_->press_enter_on_commit : phone_press_enter;
  // The text is handed to the output worker first: hiding the overlay and
  // writing the log line cost the UI thread time that the user would
  // otherwise wait for before the first character.
  if (!live_text_.empty()) {
    const bool use_clipboard_paste = config_ != nullptr && config_->use_clipboard_paste;
    if (injector_ != nullptr) {
      injector_->EnqueueText(std::move(live_text_), effective, use_clipboard_paste);
    }
    live_text_.clear();
  }
  FinishCommit();  // an earlier one's, if it still waits
  unfinished_commit_ = std::string("coordinator: commit phone_press_enter=") +
                       (phone_press_enter ? "1" : "0") + " effective=" + (effective ? "1" : "0");
  if (schedule_finish_) {
    schedule_finish_();
  } else {
    FinishCommit();
  }
}

void Coordinator::FinishCommit() {
  if (!unfinished_commit_) {
    return;
  }
  const std::string line = std::move(*unfinished_commit_);
  unfinished_commit_.reset();
  HideOverlay();
  LogProgress(line);
}

void Coordinator::HandleClear() {
  FinishCommit();
  LogProgress("coordinator: clear");
  live_text_.clear();
  HideOverlay();
}

void Coordinator::HandleKey(std::string key) {
  FinishCommit();
  if (injector_ == nullptr) {
    return;
  }
  if (key == "backspace" || key == "enter") {
    injector_->EnqueueKey(std::move(key));
    return;
  }
  // The name is the phone's: escaped and cut, so that it cannot forge lines.
  LogProgress("coordinator: unknown key '" + LogSafeText(key) + "'");
}

}  // namespace lumora
