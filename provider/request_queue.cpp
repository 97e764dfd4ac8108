#include "provider/request_queue.h"

#include <chrono>
#include <vector>

void RequestQueue::append(ZemContainerHandle handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(handle);
    count_.store(static_cast<int32_t>(entries_.size()), std::memory_order_relaxed);
  }
  available_.notify_one();
}

ZemContainerHandle RequestQueue::take(int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return takeLocked(lock, timeoutMs, resets_);
}

ZemContainerHandle RequestQueue::take(int64_t timeoutMs, uint64_t seenResets) {
  std::unique_lock<std::mutex> lock(mutex_);
  return takeLocked(lock, timeoutMs, seenResets);
}

uint64_t RequestQueue::resetCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resets_;
}

ZemContainerHandle RequestQueue::takeLocked(std::unique_lock<std::mutex>& lock, int64_t timeoutMs,
                                            uint64_t resetsAtStart) {
  const auto ready = [&] { return !entries_.empty() || resets_ != resetsAtStart || closed_; };
  if (timeoutMs != 0 && !ready()) {
    waiters_.fetch_add(1, std::memory_order_acq_rel);
    if (timeoutMs < 0) {
      available_.wait(lock, ready);
    } else {
      available_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    waiters_.fetch_sub(1, std::memory_order_acq_rel);
  }
  if (entries_.empty() || resets_ != resetsAtStart || closed_) return 0;
  const ZemContainerHandle handle = entries_.front();
  entries_.pop_front();
  count_.store(static_cast<int32_t>(entries_.size()), std::memory_order_relaxed);
  return handle;
}

void RequestQueue::drain(const std::function<void(ZemContainerHandle)>& destroy) {
  std::deque<ZemContainerHandle> taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(entries_);
    count_.store(0, std::memory_order_relaxed);
  }
  for (ZemContainerHandle handle : taken) destroy(handle);
}

void RequestQueue::reset() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++resets_;
  }
  available_.notify_all();
}

void RequestQueue::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  available_.notify_all();
}
