#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
// A modifier key held down is waited out in steps of this length, for at most
// this long in total, before the text is held instead.
inline constexpr unsigned kModifierPollMs = 20;
inline constexpr unsigned kModifierWaitMs = 2000;
// Typed text goes out in calls of at most this many events, so that each
// call's count can be checked and a refusal found early, instead of one
// call of tens of thousands of events.
inline constexpr std::size_t kInjectChunkEvents = 256;
// How long a pasted text may wait for the program in front to read it
// before the next item may replace the clipboard. A busy program or a remote
// session reads a moment after Ctrl+V, not at once.
inline constexpr unsigned kClipboardReadTimeoutMs = 3000;
// What may wait for the worker at once. A phone sends commits faster than
// they can be typed (each line is up to 64 KiB); past either bound a text is
// refused and reported instead of being queued.
inline constexpr std::size_t kMaxQueuedItems = 100;
inline constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

// Why a committed text was not (wholly) delivered.
enum class HoldReason {
  OwnWindow,
  Elevated,
  OtherDesktop,
  ModifiersHeld,
  // The system took fewer events than it was given, even when asked again.
  InputRefused,
  // Too much was already waiting to be typed: the text was never queued.
  QueueFull,
  // Pasted, but the program in front did not read the clipboard in time:
  // whether it arrived is unknown, and the next item needs the clipboard.
  PasteNotRead,
  // Output stopped for the program's exit. Such texts are only counted in
  // the log, never reported.
  Exiting,
};

// The reason in a few English words, for the log: "own window in front".
const char* HoldReasonName(HoldReason reason);

// The outcome of one committed text. A held text is kept here only, in
// memory: whoever receives the report offers it to the user again. It is
// never written to disk or to the log.
struct OutputReport {
  std::string text;  // the whole commit, UTF-8
  bool held = false;
  HoldReason reason{};  // meaningful when held
  // Held after part of the text was typed: the window has the beginning.
  bool partly_typed = false;
};

// Receives a report for every committed text, on the output worker thread
// (or, for a text refused at the queue, on the thread that queued it): it
// must return promptly and not throw (post it to the UI thread).
using OutputReporter = std::function<void(OutputReport)>;

// Performs committed text and key requests against the desktop, strictly in
// the order queued, on a worker thread of its own, so that the waits between
// keys never hold up the UI thread. The queue is bounded (kMaxQueuedItems,
// kMaxQueuedBytes). Stopping (and destruction) cuts the current item short
// at its next step and drops what is still queued, logging how many commits
// were not typed: after exit nothing more goes into whatever is in front.
//
// Right before text or a key goes out, the window in front is checked
// (Desktop::CheckTarget) and held modifier keys are waited out; text that may
// not go out, or that the system refuses, is held and reported instead of
// vanishing. A key that may not go out is dropped.
class TextInjector final : public OutputQueue {
 public:
  explicit TextInjector(std::unique_ptr<Desktop> desktop, OutputReporter reporter = {});
  ~TextInjector() override;
  TextInjector(const TextInjector&) = delete;
  TextInjector& operator=(const TextInjector&) = delete;

  // Queue a request; empty text or an empty key name is dropped. Never waits
  // for the output. Past the queue's bound a text is reported as held
  // (QueueFull) and a key is dropped; after Stop both are dropped.
  void EnqueueText(std::string text, bool press_enter, bool use_clipboard_paste) override;
  void EnqueueKey(std::string key) override;

  // Waits until everything queued so far has been performed, or Stop.
  void Flush();

  // Ends output within one step of the worker (waits are cut short), drops
  // what is queued and joins the worker. Idempotent; the destructor calls it.
  void Stop();

 private:
  void WorkerLoop();
  void Enqueue(OutputItem item);

  // The steps below run on the worker thread only.
  // Each returns why the text was held, or nothing once it all went in.
  void ProcessItem(const OutputItem& item);
  // `typed_any` is set once some of the text went in.
  std::optional<HoldReason> TypeText(const std::u16string& text, bool& typed_any);
  std::optional<HoldReason> PasteText(const std::u16string& text, bool press_enter, bool& typed_any);
  std::optional<HoldReason> SendCtrlV(unsigned hold_ms);
  void PressKey(std::uint16_t virtual_key, unsigned hold_ms);
  void PressEnterAfterText();
  bool IsRemoteDesktopForeground();
  // Why nothing may go out now, after waiting out held modifiers.
  std::optional<HoldReason> CheckBeforeOutput();
  // Injects the events; a short count is retried once for the remainder.
  // Returns how many went in, all of them unless refused twice.
  std::size_t InjectAll(const std::vector<KeyEvent>& events);

  std::unique_ptr<Desktop> desktop_;
  OutputReporter reporter_;
  std::mutex mutex_;  // guards queue_, queued_bytes_, busy_ and stop_
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<OutputItem> queue_;
  bool busy_ = false;             // the worker is performing an item
  std::size_t queued_bytes_ = 0;  // the texts' sizes in queue_
  std::atomic<bool> stop_{false};
  // Set by the worker when Stop cut a text short; read after the join.
  bool interrupted_text_ = false;
  // Declared last: started once everything it uses exists.
  std::thread worker_;
};

// True for the image names of the remote-desktop clients, whose sessions need
// longer waits: the last path component, case-insensitively, is "mstsc.exe"
// or "msrdc.exe". Either separator counts.
bool IsRemoteDesktopImage(const std::u16string& image_path);

}  // namespace lumora
