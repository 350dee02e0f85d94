#include "output/text_injector.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "base/utf16.h"
#include "log/log.h"

namespace lumora {

bool IsRemoteDesktopImage(const std::u16string& image_path) {
  const std::size_t separator = image_path.find_last_of(u"\\/");
  std::u16string name = separator == std::u16string::npos ? image_path : image_path.substr(separator + 1);
  for (char16_t& unit : name) {
    if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
  }
  return name == u"mstsc.exe" || name == u"msrdc.exe";
}

const char* HoldReasonName(HoldReason reason) {
  switch (reason) {
    case HoldReason::OwnWindow:
      return "own window in front";
    case HoldReason::Elevated:
      return "elevated program in front";
    case HoldReason::OtherDesktop:
      return "other desktop";
    case HoldReason::ModifiersHeld:
      return "modifier keys held";
    case HoldReason::InputRefused:
      return "input refused";
    case HoldReason::QueueFull:
      return "output queue full";
    case HoldReason::PasteNotRead:
      return "paste not read";
    case HoldReason::Exiting:
      return "exiting";
  }
  return "unknown";
}

TextInjector::TextInjector(std::unique_ptr<Desktop> desktop, OutputReporter reporter)
    : desktop_(std::move(desktop)),
      reporter_(std::move(reporter)),
      worker_(&TextInjector::WorkerLoop, this) {}

TextInjector::~TextInjector() { Stop(); }

void TextInjector::Stop() {
  std::size_t dropped = 0;
  {
    // Set under the lock: a worker between its test and its sleep cannot
    // miss the wake-up.
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_.load() && !worker_.joinable()) {
      return;
    }
    stop_.store(true);
    dropped =
        static_cast<std::size_t>(std::count_if(queue_.begin(), queue_.end(), [](const OutputItem& item) {
          return item.kind == OutputItemKind::Text;
        }));
    queue_.clear();
    queued_bytes_ = 0;
  }
  wake_.notify_all();
  idle_.notify_all();
  // The worker may be inside a wait of seconds (a held modifier, a paste
  // nobody reads yet): the user asked to exit now.
  if (desktop_) {
    desktop_->CancelWaits();
  }
  if (worker_.joinable()) {
    worker_.join();
  }
  dropped += interrupted_text_ ? 1 : 0;
  if (dropped > 0) {
    // How many, never what: the texts stay out of the log.
    Log(LogLevel::Warn, "APP", "output: stopped, " + std::to_string(dropped) + " commit(s) not typed");
  }
}

void TextInjector::EnqueueText(std::string text, bool press_enter, bool use_clipboard_paste) {
  if (text.empty()) {
    return;
  }
  OutputItem item;
  item.kind = OutputItemKind::Text;
  item.text = std::move(text);
  item.press_enter = press_enter;
  item.use_clipboard_paste = use_clipboard_paste;
  Enqueue(std::move(item));
}

void TextInjector::EnqueueKey(std::string key) {
  if (key.empty()) {
    return;
  }
  OutputItem item;
  item.kind = OutputItemKind::Key;
  item.key = std::move(key);
  Enqueue(std::move(item));
}

void TextInjector::Enqueue(OutputItem item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_.load()) {
      return;
    }
    // An item always fits an empty queue, so that no single commit is
    // refused for its size alone.
    if (queue_.empty() ||
        (queue_.size() < kMaxQueuedItems && queued_bytes_ + item.text.size() <= kMaxQueuedBytes)) {
      queued_bytes_ += item.text.size();
      queue_.push_back(std::move(item));
      wake_.notify_one();
      return;
    }
  }
  if (item.kind == OutputItemKind::Key) {
    Log(LogLevel::Warn, "APP", "output: queue full, key dropped");
    return;
  }
  // Refused, not lost: the user hears of it and finds it in the recent texts.
  if (reporter_) {
    OutputReport report;
    report.text = std::move(item.text);
    report.held = true;
    report.reason = HoldReason::QueueFull;
    reporter_(std::move(report));
  }
}

void TextInjector::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_.load() || !queue_.empty(); });
    if (stop_.load()) {
      return;  // Stop dropped what was queued
    }
    OutputItem item = std::move(queue_.front());
    queue_.pop_front();
    queued_bytes_ -= item.text.size();
    busy_ = true;
    lock.unlock();
    if (desktop_) {
      ProcessItem(item);
    }
    lock.lock();
    busy_ = false;
    if (queue_.empty()) {
      idle_.notify_all();
    }
  }
}

void TextInjector::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stop_.load() || (queue_.empty() && !busy_); });
}

void TextInjector::ProcessItem(const OutputItem& item) {
  if (item.kind == OutputItemKind::Key) {
    // The foreground is checked for every key item, known name or not.
    const unsigned hold = IsRemoteDesktopForeground() ? kKeyHoldRemoteMs : kKeyHoldMs;
    std::uint16_t virtual_key = 0;
    if (item.key == "backspace") {
      virtual_key = kVirtualKeyBack;
    } else if (item.key == "enter") {
      virtual_key = kVirtualKeyReturn;
    } else {
      return;
    }
    // A key that may not go out now is dropped: pressed later it would act
    // on whatever is in front by then.
    if (!CheckBeforeOutput()) {
      PressKey(virtual_key, hold);
    }
    return;
  }

  const std::u16string text = ToUtf16(item.text);
  if (text.empty()) {
    return;
  }
  std::optional<HoldReason> held;
  bool typed_any = false;
  if (item.use_clipboard_paste) {
    held = PasteText(text, item.press_enter, typed_any);
  } else {
    held = TypeText(text, typed_any);
    // Only after the whole text went in: an Enter after part of it would send
    // a message cut short.
    if (!held && item.press_enter) {
      PressEnterAfterText();
    }
  }
  if (held == HoldReason::Exiting) {
    interrupted_text_ = true;  // counted by Stop; the UI is going away
    return;
  }
  if (reporter_) {
    OutputReport report;
    report.text = item.text;
    report.held = held.has_value();
    report.reason = held.value_or(HoldReason{});
    report.partly_typed = held.has_value() && typed_any;
    reporter_(std::move(report));
  }
}

std::optional<HoldReason> TextInjector::CheckBeforeOutput() {
  const auto blocked = [this]() -> std::optional<HoldReason> {
    // Nothing new starts once exit was asked for; what is under way (a key
    // down) is finished by its caller.
    if (stop_.load()) {
      return HoldReason::Exiting;
    }
    switch (desktop_->CheckTarget()) {
      case TargetBlock::None:
        return std::nullopt;
      case TargetBlock::OwnWindow:
        return HoldReason::OwnWindow;
      case TargetBlock::Elevated:
        return HoldReason::Elevated;
      case TargetBlock::OtherDesktop:
        return HoldReason::OtherDesktop;
    }
    return HoldReason::OtherDesktop;
  };
  if (std::optional<HoldReason> reason = blocked()) {
    return reason;
  }
  // A modifier the user holds would combine with every event we send; it is
  // usually let go within moments (the user was still finishing a shortcut).
  unsigned waited = 0;
  while (desktop_->ModifiersHeld()) {
    if (stop_.load()) {
      return HoldReason::Exiting;
    }
    if (waited >= kModifierWaitMs) {
      return HoldReason::ModifiersHeld;
    }
    desktop_->Wait(kModifierPollMs);
    waited += kModifierPollMs;
  }
  // The foreground may have changed while we waited.
  return waited == 0 ? std::nullopt : blocked();
}

std::size_t TextInjector::InjectAll(const std::vector<KeyEvent>& events) {
  const std::size_t taken = std::min(desktop_->InjectKeyEvents(events), events.size());
  if (taken == events.size()) {
    return taken;
  }
  // The system inserts events in order and stops at the first it cannot
  // take: what follows it never arrived, and only that is sent again.
  const std::vector<KeyEvent> rest(events.begin() + static_cast<std::ptrdiff_t>(taken), events.end());
  return taken + std::min(desktop_->InjectKeyEvents(rest), rest.size());
}

std::optional<HoldReason> TextInjector::TypeText(const std::u16string& text, bool& typed_any) {
  // Every unit as it is, surrogates and control characters included, in
  // chunks whose counts are checked. A chunk never ends between the two
  // halves of a surrogate pair, nor between a key's down and up events, so a
  // refused or interleaved call cannot leave half a character or a key held.
  // The target is checked before every chunk: between two calls the user
  // may switch windows or press a modifier.
  std::vector<KeyEvent> chunk;
  chunk.reserve(kInjectChunkEvents);
  const auto flush = [this, &chunk, &typed_any]() -> std::optional<HoldReason> {
    if (std::optional<HoldReason> reason = CheckBeforeOutput()) {
      return reason;
    }
    const std::size_t taken = InjectAll(chunk);
    typed_any = typed_any || taken > 0;
    if (taken < chunk.size()) {
      return HoldReason::InputRefused;
    }
    chunk.clear();
    return std::nullopt;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t units =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
    if (!chunk.empty() && chunk.size() + 2 * units > kInjectChunkEvents) {
      if (std::optional<HoldReason> reason = flush()) {
        return reason;
      }
    }
    for (std::size_t k = 0; k < units; ++k) {
      const auto code = static_cast<std::uint16_t>(text[i + k]);
      chunk.push_back({code, kKeyEventUnicode});
      chunk.push_back({code, kKeyEventUnicode | kKeyEventKeyUp});
    }
    i += units;
  }
  return chunk.empty() ? std::nullopt : flush();
}

std::optional<HoldReason> TextInjector::PasteText(const std::u16string& text, bool press_enter,
                                                  bool& typed_any) {
  // Checked before the clipboard is touched: text that is held anyway must
  // not replace what the user keeps there.
  if (std::optional<HoldReason> reason = CheckBeforeOutput()) {
    return reason;
  }
  // Another program may hold the clipboard for a moment. If our text never
  // gets onto it, Ctrl+V would paste whatever it held before (a password,
  // say) into the user's window: type the text instead.
  bool on_clipboard = false;
  for (int attempt = 0; attempt < kClipboardAttempts && !on_clipboard; ++attempt) {
    if (attempt > 0) {
      desktop_->Wait(kClipboardRetryMs);
    }
    on_clipboard = desktop_->OfferClipboardText(text);
  }
  if (!on_clipboard) {
    std::optional<HoldReason> held = TypeText(text, typed_any);
    if (!held && press_enter) {
      PressEnterAfterText();
    }
    return held;
  }

  const bool remote = IsRemoteDesktopForeground();
  const unsigned hold = remote ? kKeyHoldRemoteMs : kKeyHoldMs;
  desktop_->Wait(remote ? kClipboardSettleRemoteMs : kClipboardSettleMs);
  if (std::optional<HoldReason> held = SendCtrlV(hold)) {
    return held;
  }
  // The clipboard is ours until the target has read it: replaced sooner, a
  // slow reader would paste the next item's text instead of this one.
  const bool read = desktop_->WaitForClipboardRead(kClipboardReadTimeoutMs);
  if (stop_.load()) {
    return HoldReason::Exiting;
  }
  if (!read) {
    // No Enter either: it could send the message without the text.
    return HoldReason::PasteNotRead;
  }
  if (press_enter) {
    desktop_->Wait(remote ? kEnterAfterTextRemoteMs : kEnterAfterTextMs);
    if (!CheckBeforeOutput()) {
      PressKey(kVirtualKeyReturn, hold);
    }
  }
  return std::nullopt;
}

std::optional<HoldReason> TextInjector::SendCtrlV(unsigned hold_ms) {
  // Checked again after the settle wait, right before Ctrl goes down.
  if (std::optional<HoldReason> reason = CheckBeforeOutput()) {
    return reason;
  }
  const auto key_event = [this](std::uint16_t virtual_key, std::uint32_t flags) {
    return InjectAll({{desktop_->ScanCodeFor(virtual_key), flags}}) == 1;
  };
  if (!key_event(kVirtualKeyControl, kKeyEventScanCode)) {
    return HoldReason::InputRefused;
  }
  desktop_->Wait(hold_ms);
  const bool v_down = key_event(kVirtualKeyV, kKeyEventScanCode);
  desktop_->Wait(hold_ms);
  if (v_down) {
    key_event(kVirtualKeyV, kKeyEventScanCode | kKeyEventKeyUp);
    desktop_->Wait(hold_ms);
  }
  // Ctrl went down, so it is released whatever became of V: a Ctrl left down
  // would turn the user's next keys into shortcuts.
  key_event(kVirtualKeyControl, kKeyEventScanCode | kKeyEventKeyUp);
  return v_down ? std::nullopt : std::optional<HoldReason>(HoldReason::InputRefused);
}

void TextInjector::PressEnterAfterText() {
  // Checked only now, after the text went out: the foreground may change.
  const bool remote = IsRemoteDesktopForeground();
  desktop_->Wait(remote ? kEnterAfterTextRemoteMs : kEnterAfterTextMs);
  // The text is in; an Enter that may not go out now (a dialog of ours came
  // up meanwhile, Ctrl is held) is dropped rather than pressing a default
  // button or sending Ctrl+Enter.
  if (!CheckBeforeOutput()) {
    PressKey(kVirtualKeyReturn, remote ? kKeyHoldRemoteMs : kKeyHoldMs);
  }
}

void TextInjector::PressKey(std::uint16_t virtual_key, unsigned hold_ms) {
  // A key that never went down is not released either.
  if (InjectAll({{desktop_->ScanCodeFor(virtual_key), kKeyEventScanCode}}) == 0) {
    return;
  }
  if (hold_ms != 0) {
    desktop_->Wait(hold_ms);
  }
  InjectAll({{desktop_->ScanCodeFor(virtual_key), kKeyEventScanCode | kKeyEventKeyUp}});
}

bool TextInjector::IsRemoteDesktopForeground() {
  return IsRemoteDesktopImage(desktop_->ForegroundImagePath());
}

}  // namespace lumora
