#pragma once

// A desktop that records what text output does to it, step by step, instead
// of touching a real one. Waits are recorded, not slept.

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "output/desktop.h"

namespace lumora::testing {

// What the fake saw and how it should behave; shared with the test, since the
// injector owns the fake itself.
struct DesktopScript {
  std::mutex mutex;
  std::vector<std::string> steps;
  std::u16string foreground = u"C:\\Windows\\explorer.exe";
  int clipboard_failures = 0;  // this many clipboard sets and offers fail first
  std::u16string clipboard;
  bool paste_read = true;  // whether the target reads each offered text
  bool cancelled = false;  // CancelWaits was called
  TargetBlock target = TargetBlock::None;
  int modifiers_held = 0;  // this many ModifiersHeld answers are true first
  // How many events each successive injection takes (fewer than given means
  // a refusal); once used up, every injection takes everything.
  std::deque<std::size_t> accepted;
  // Called after each step is recorded, outside the lock; may block to hold
  // the worker inside a step.
  std::function<void(const std::string& step)> on_step;
  // Called when CancelWaits is, outside the lock.
  std::function<void()> on_cancel;

  std::vector<std::string> Steps() {
    std::lock_guard<std::mutex> lock(mutex);
    return steps;
  }
};

class RecordingDesktop final : public Desktop {
 public:
  explicit RecordingDesktop(std::shared_ptr<DesktopScript> script) : script_(std::move(script)) {}

  // One step per injection of the events given (whether taken or not):
  // "inject u0061v u0061^" for Unicode events, "inject s28v" for scan codes;
  // v down, ^ up.
  std::size_t InjectKeyEvents(const std::vector<KeyEvent>& events) override {
    std::string step = "inject";
    for (const KeyEvent& e : events) {
      char text[16];
      if (e.flags & kKeyEventUnicode) {
        std::snprintf(text, sizeof text, " u%04x", static_cast<unsigned>(e.code));
      } else {
        std::snprintf(text, sizeof text, " s%u", static_cast<unsigned>(e.code));
      }
      step += text;
      step += (e.flags & kKeyEventKeyUp) ? "^" : "v";
    }
    std::size_t taken = events.size();
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      if (!script_->accepted.empty()) {
        taken = std::min(taken, script_->accepted.front());
        script_->accepted.pop_front();
      }
    }
    Record(step);
    return taken;
  }

  // Scan codes of a US layout.
  std::uint16_t ScanCodeFor(std::uint16_t virtual_key) override {
    switch (virtual_key) {
      case kVirtualKeyReturn:
        return 28;
      case kVirtualKeyBack:
        return 14;
      case kVirtualKeyControl:
        return 29;
      case kVirtualKeyV:
        return 47;
    }
    return 0;
  }

  void Wait(unsigned milliseconds) override { Record("wait " + std::to_string(milliseconds)); }

  void CancelWaits() override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      script_->cancelled = true;
      hook = script_->on_cancel;
    }
    if (hook) {
      hook();
    }
  }

  bool OfferClipboardText(const std::u16string& text) override { return SetClipboardText(text); }

  bool WaitForClipboardRead(unsigned timeout_ms) override {
    Record("wait read " + std::to_string(timeout_ms));
    std::lock_guard<std::mutex> lock(script_->mutex);
    return script_->paste_read;
  }

  bool SetClipboardText(const std::u16string& text) override {
    bool ok;
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      ok = script_->clipboard_failures <= 0;
      if (ok) {
        script_->clipboard = text;
      } else {
        --script_->clipboard_failures;
      }
    }
    Record(ok ? "clipboard" : "clipboard busy");
    return ok;
  }

  std::u16string ForegroundImagePath() override {
    Record("foreground");
    std::lock_guard<std::mutex> lock(script_->mutex);
    return script_->foreground;
  }

  // Queries, not steps: they change nothing on the desktop. What they lead
  // to (waits, holds) shows in the steps and the reports.
  TargetBlock CheckTarget() override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    return script_->target;
  }

  bool ModifiersHeld() override {
    std::lock_guard<std::mutex> lock(script_->mutex);
    if (script_->modifiers_held <= 0) {
      return false;
    }
    --script_->modifiers_held;
    return true;
  }

 private:
  void Record(const std::string& step) {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(script_->mutex);
      script_->steps.push_back(step);
      hook = script_->on_step;
    }
    if (hook) {
      hook(step);
    }
  }

  std::shared_ptr<DesktopScript> script_;
};

}  // namespace lumora::testing
