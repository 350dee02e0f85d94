// The UI thread's cost of queuing output, next to the floor of a bare locked
// queue push with a wake-up, and events per second through the typing path
// against a desktop that only counts what it receives.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "output/text_injector.h"
#include "tests/bench/ratio_reporter.h"

namespace {

// Counts injected events; lets the benchmark wait for the worker.
class CountingDesktop final : public lumora::Desktop {
 public:
  std::size_t InjectKeyEvents(const std::vector<lumora::KeyEvent>& events) override {
    std::lock_guard<std::mutex> lock(mutex_);
    injected_ += events.size();
    ++injections_;
    changed_.notify_all();
    return events.size();
  }
  std::uint16_t ScanCodeFor(std::uint16_t) override { return 28; }
  void Wait(unsigned) override {}
  bool SetClipboardText(const std::u16string&) override { return true; }
  bool OfferClipboardText(const std::u16string&) override { return true; }
  bool WaitForClipboardRead(unsigned) override { return true; }
  void CancelWaits() override {}
  std::u16string ForegroundImagePath() override { return u"C:\\Windows\\explorer.exe"; }
  lumora::TargetBlock CheckTarget() override { return lumora::TargetBlock::None; }
  bool ModifiersHeld() override { return false; }

  // False when the worker has not made `count` injections within a generous
  // time: lost output, reported as an error instead of a hang.
  bool WaitForInjections(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return injections_ >= count; });
  }
  std::size_t injected() {
    std::lock_guard<std::mutex> lock(mutex_);
    return injected_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t injected_ = 0;
  std::size_t injections_ = 0;
};

void BM_LockedQueueFloor(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<lumora::OutputItem> queue;
  for (auto _ : state) {
    lumora::OutputItem item;
    item.text = "今天下午";
    {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(std::move(item));
    }
    wake.notify_one();
    if (queue.size() > 4096) {
      queue.clear();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockedQueueFloor);

void BM_EnqueueText(benchmark::State& state) {
  auto desktop = std::make_unique<CountingDesktop>();
  CountingDesktop* counter = desktop.get();
  // Texts past the queue's bound are refused (and reported) instead of typed.
  std::atomic<std::size_t> refused{0};
  lumora::TextInjector injector(std::move(desktop), [&refused](lumora::OutputReport report) {
    if (report.held && report.reason == lumora::HoldReason::QueueFull) {
      ++refused;
    }
  });
  std::size_t queued = 0;
  for (auto _ : state) {
    injector.EnqueueText("今天下午", false, false);
    ++queued;
  }
  // The timer stopped with the loop: draining the queue is not counted.
  if (!counter->WaitForInjections(queued - refused.load())) {
    state.SkipWithError("queued texts were never typed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnqueueText);

// One commit of 200 Chinese characters: 400 events in two injections (the
// typing path sends at most 256 per call).
void BM_TypeTextEvents(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text += "你";
  }
  auto desktop = std::make_unique<CountingDesktop>();
  CountingDesktop* counter = desktop.get();
  lumora::TextInjector injector(std::move(desktop));
  std::size_t done = 0;
  for (auto _ : state) {
    injector.EnqueueText(text, false, false);
    if (!counter->WaitForInjections(2 * ++done)) {
      state.SkipWithError("a commit was never typed");
      break;
    }
  }
  // A down and an up event per character, or the rate is of something else.
  if (!state.error_occurred() && counter->injected() != done * 400) {
    state.SkipWithError("the commits were not typed as 400 events each");
  }
  state.SetItemsProcessed(state.iterations() * 400);
}
BENCHMARK(BM_TypeTextEvents)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return lumora::bench::RunWithRatios(argc, argv, "BM_LockedQueueFloor", "items/s");
}
