#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "output/desktop.h"
#include "output/output_queue.h"

namespace lumora {

enum class OutputItemKind : std::int32_t {
  Text = 0,
  Key = 1,
};

// One output request; moved into and out of the queue, never copied.
struct OutputItem {
  OutputItemKind kind = OutputItemKind::Text;
  std::string text;  // UTF-8, for Text
  std::string key;   // "backspace" or "enter", for Key
  bool press_enter = false;
  bool use_clipboard_paste = false;
};

// Waits, in milliseconds, local foreground / remote-desktop foreground.
inline constexpr unsigned kClipboardSettleMs = 40;
inline constexpr unsigned kClipboardSettleRemoteMs = 350;
inline constexpr unsigned kKeyHoldMs = 5;
inline constexpr unsigned kKeyHoldRemoteMs = 30;
inline constexpr unsigned kEnterAfterTextMs = 120;
inline constexpr unsigned kEnterAfterTextRemoteMs = 250;
// A clipboard that another program holds is retried this often, this far
// apart, before the text is typed instead.
inline constexpr int kClipboardAttempts = 5;
inline constexpr unsigned kClipboardRetryMs = 10;

// Performs committed text and key requests against the desktop, strictly in
// the order queued, on a worker thread of its own, so that the waits between
// keys never hold up the UI thread. Destruction performs whatever is still
// queued, then joins the worker.
class TextInjector final : public OutputQueue {
 public:
  explicit TextInjector(std::unique_ptr<Desktop> desktop);
  ~TextInjector() override;
  TextInjector(const TextInjector&) = delete;
  TextInjector& operator=(const TextInjector&) = delete;

  // Queue a request; empty text or an empty key name is dropped. Never waits
  // for the output.
  void EnqueueText(std::string text, bool press_enter, bool use_clipboard_paste) override;
  void EnqueueKey(std::string key) override;

 private:
  void WorkerLoop();
  void Enqueue(OutputItem item);

  // The steps below run on the worker thread only.
  void ProcessItem(const OutputItem& item);
  void TypeText(const std::u16string& text);
  void PasteText(const std::u16string& text, bool press_enter);
  void PressKey(std::uint16_t virtual_key, unsigned hold_ms);
  void PressEnterAfterText();
  bool IsRemoteDesktopForeground();

  std::unique_ptr<Desktop> desktop_;
  std::mutex mutex_;  // guards queue_ and stop_
  std::condition_variable wake_;
  std::deque<OutputItem> queue_;
  std::atomic<bool> stop_{false};
  // Declared last: started once everything it uses exists.
  std::thread worker_;
};

// True for the image names of the remote-desktop clients, whose sessions need
// longer waits: the last path component, case-insensitively, is "mstsc.exe"
// or "msrdc.exe". Either separator counts.
bool IsRemoteDesktopImage(const std::u16string& image_path);

}  // namespace lumora
