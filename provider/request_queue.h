// The request queue: messages (as container handles) waiting for the
// application, oldest first. The pump and the keep-alive thread append,
// application threads take, ZemlinkInit and ZemlinkDeInit drain and reset.
//
// Every entry is visible to take() for as long as it is queued: the number
// of waiting entries is the signal, with no cap, so entries and signals can
// never drift apart. All operations are safe from any thread; the queue's
// lock is never held while a caller's function runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "zemlink.h"

class RequestQueue {
 public:
  static constexpr int64_t kInfinite = -1;

  // Adds at the tail and wakes one waiting taker.
  void append(ZemContainerHandle handle);
  // The oldest entry, waiting up to timeoutMs (0: not at all; kInfinite: no
  // limit). 0 when nothing came in time, or when reset() ended the wait.
  ZemContainerHandle take(int64_t timeoutMs);
  // As take(), but a reset since resetCount() gave `seenResets` ends it at
  // once with 0: a caller that decided to wait before a reset came is not
  // left waiting past it.
  ZemContainerHandle take(int64_t timeoutMs, uint64_t seenResets);
  uint64_t resetCount() const;
  // The number of entries, read without the lock.
  int32_t count() const { return count_.load(std::memory_order_relaxed); }
  // Takes every entry out and hands each to destroy, outside the lock.
  void drain(const std::function<void(ZemContainerHandle)>& destroy);
  // Ends every wait in progress: those takers get 0.
  void reset();
  // For good: every take, waiting or not, gets 0 at once from now on.
  void close();
  // How many takers are waiting right now.
  int32_t waiters() const { return waiters_.load(std::memory_order_acquire); }

 private:
  ZemContainerHandle takeLocked(std::unique_lock<std::mutex>& lock, int64_t timeoutMs, uint64_t resetsAtStart);

  mutable std::mutex mutex_;
  std::condition_variable available_;
  std::deque<ZemContainerHandle> entries_;
  uint64_t resets_ = 0;
  bool closed_ = false;
  std::atomic<int32_t> count_{0};
  std::atomic<int32_t> waiters_{0};
};
