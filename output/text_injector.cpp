#include "output/text_injector.h"

#include <utility>
#include <vector>

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

TextInjector::TextInjector(std::unique_ptr<Desktop> desktop)
    : desktop_(std::move(desktop)), worker_(&TextInjector::WorkerLoop, this) {}

TextInjector::~TextInjector() {
  {
    // Set under the lock: a worker between its test and its sleep cannot
    // miss the wake-up.
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_all();
  if (worker_.joinable()) {
    worker_.join();
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
    queue_.push_back(std::move(item));
  }
  wake_.notify_one();
}

void TextInjector::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_.load() || !queue_.empty(); });
    if (queue_.empty()) {
      return;  // stopping, and everything queued has been performed
    }
    OutputItem item = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (desktop_) {
      ProcessItem(item);
    }
    lock.lock();
  }
}

void TextInjector::ProcessItem(const OutputItem& item) {
  if (item.kind == OutputItemKind::Key) {
    // The foreground is checked for every key item, known name or not.
    const unsigned hold = IsRemoteDesktopForeground() ? kKeyHoldRemoteMs : kKeyHoldMs;
    if (item.key == "backspace") {
      PressKey(kVirtualKeyBack, hold);
    } else if (item.key == "enter") {
      PressKey(kVirtualKeyReturn, hold);
    }
    return;
  }

  const std::u16string text = ToUtf16(item.text);
  if (text.empty()) {
    return;
  }
  if (item.use_clipboard_paste) {
    PasteText(text, item.press_enter);
    return;
  }
  TypeText(text);
  if (item.press_enter) {
    PressEnterAfterText();
  }
}

void TextInjector::TypeText(const std::u16string& text) {
  // Every unit as it is, surrogates and control characters included, in one
  // injection however long the text: nothing the user types meanwhile can
  // land in the middle of it.
  std::vector<KeyEvent> events;
  events.reserve(text.size() * 2);
  for (char16_t unit : text) {
    events.push_back({static_cast<std::uint16_t>(unit), kKeyEventUnicode});
    events.push_back({static_cast<std::uint16_t>(unit), kKeyEventUnicode | kKeyEventKeyUp});
  }
  desktop_->InjectKeyEvents(events);
}

void TextInjector::PasteText(const std::u16string& text, bool press_enter) {
  // Another program may hold the clipboard for a moment. If our text never
  // gets onto it, Ctrl+V would paste whatever it held before (a password,
  // say) into the user's window: type the text instead.
  bool on_clipboard = false;
  for (int attempt = 0; attempt < kClipboardAttempts && !on_clipboard; ++attempt) {
    if (attempt > 0) {
      desktop_->Wait(kClipboardRetryMs);
    }
    on_clipboard = desktop_->SetClipboardText(text);
  }
  if (!on_clipboard) {
    TypeText(text);
    if (press_enter) {
      PressEnterAfterText();
    }
    return;
  }

  const bool remote = IsRemoteDesktopForeground();
  const unsigned hold = remote ? kKeyHoldRemoteMs : kKeyHoldMs;
  desktop_->Wait(remote ? kClipboardSettleRemoteMs : kClipboardSettleMs);
  const auto key_event = [this](std::uint16_t virtual_key, std::uint32_t flags) {
    desktop_->InjectKeyEvents({{desktop_->ScanCodeFor(virtual_key), flags}});
  };
  key_event(kVirtualKeyControl, kKeyEventScanCode);
  desktop_->Wait(hold);
  key_event(kVirtualKeyV, kKeyEventScanCode);
  desktop_->Wait(hold);
  key_event(kVirtualKeyV, kKeyEventScanCode | kKeyEventKeyUp);
  desktop_->Wait(hold);
  key_event(kVirtualKeyControl, kKeyEventScanCode | kKeyEventKeyUp);
  if (press_enter) {
    desktop_->Wait(remote ? kEnterAfterTextRemoteMs : kEnterAfterTextMs);
    PressKey(kVirtualKeyReturn, hold);
  }
}

void TextInjector::PressEnterAfterText() {
  // Checked only now, after the text went out: the foreground may change.
  const bool remote = IsRemoteDesktopForeground();
  desktop_->Wait(remote ? kEnterAfterTextRemoteMs : kEnterAfterTextMs);
  PressKey(kVirtualKeyReturn, remote ? kKeyHoldRemoteMs : kKeyHoldMs);
}

void TextInjector::PressKey(std::uint16_t virtual_key, unsigned hold_ms) {
  desktop_->InjectKeyEvents({{desktop_->ScanCodeFor(virtual_key), kKeyEventScanCode}});
  if (hold_ms != 0) {
    desktop_->Wait(hold_ms);
  }
  desktop_->InjectKeyEvents({{desktop_->ScanCodeFor(virtual_key), kKeyEventScanCode | kKeyEventKeyUp}});
}

bool TextInjector::IsRemoteDesktopForeground() {
  return IsRemoteDesktopImage(desktop_->ForegroundImagePath());
}

}  // namespace lumora
