#include "core/ui_task_queue.h"

#include <utility>

#include "log/log.h"

namespace lumora {

bool UiTaskQueue::Push(std::function<void()> task) {
  if (!task) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    return false;
  }
  tasks_.push_back(std::move(task));
  return tasks_.size() == 1;
}

void UiTaskQueue::RunAll(const std::string& host) {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(tasks_);
  }
  // Without the lock: a task may post tasks of its own.
  for (std::function<void()>& task : tasks) {
    try {
      task();
    } catch (...) {
      Log(LogLevel::Error, "APP", host + ": UI task threw");
    }
  }
}

void UiTaskQueue::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  tasks_.clear();
}

}  // namespace lumora
