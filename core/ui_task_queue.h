#pragma once

// The work other threads hand to a host's UI thread, in posting order. The
// host wakes its UI thread in its own way (a window message, a queued call)
// and runs what is queued there.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace lumora {

class UiTaskQueue {
 public:
  // Queues `task`; any thread. True when the queue was empty before it, so
  // that one wake can serve a batch. False once closed: the task is dropped.
  bool Push(std::function<void()> task);
  // Runs the tasks queued so far, in order, on the calling (UI) thread. A
  // task that throws is logged as "<host>: UI task threw", and the rest run.
  void RunAll(const std::string& host);
  // Drops what is queued and every later task: the host is going.
  void Close();

 private:
  std::mutex mutex_;  // guards tasks_ and closed_
  std::vector<std::function<void()>> tasks_;
  bool closed_ = false;
};

}  // namespace lumora
