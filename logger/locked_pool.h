// The pool of pool.h with one lock around every operation, and the usage
// figures that the logger's usage report prints.
//
// Any thread may get and free. The lock exists from construction on, so the
// very first get() is as safe as any other; `used` only records that a get()
// happened. After every operation currentlyFree + currentlyInUse == N.
#pragma once

#include <cstdint>
#include <mutex>

#include "logger/pool.h"

template <typename T, size_t N>
class LockedPool : public pool<T, N> {
 public:
  // The usage figures, read together under the lock.
  struct Statistics {
    bool used;
    uint32_t numInPool;
    uint32_t currentlyFree;
    uint32_t currentlyInUse;
    uint32_t inUseHiWatermark;
    uint32_t getCount;
    uint32_t freeCount;
  };

  // Also gives, when asked, how many records are free afterwards (read
  // under the same lock).
  T* get(uint32_t* freeAfter = nullptr) {
    std::lock_guard<std::mutex> guard(lock_);
    used_ = true;
    T* record = pool<T, N>::get();
    this->prefetchHead();
    if (record != nullptr) {
      ++currentlyInUse_;
      ++getCount_;
      --currentlyFree_;
      if (currentlyInUse_ > inUseHiWatermark_) inUseHiWatermark_ = currentlyInUse_;
    }
    if (freeAfter != nullptr) *freeAfter = currentlyFree_;
    return record;
  }

  bool free(T* record) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!pool<T, N>::free(record)) return false;
    ++freeCount_;
    ++currentlyFree_;
    --currentlyInUse_;
    return true;
  }

  // Gives back several records under one taking of the lock.
  void freeGroup(T* const* records, size_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = 0; i < count; ++i) {
      if (!pool<T, N>::free(records[i])) continue;
      ++freeCount_;
      ++currentlyFree_;
      --currentlyInUse_;
    }
  }

  uint32_t currentlyFree() const {
    std::lock_guard<std::mutex> guard(lock_);
    return currentlyFree_;
  }
  uint32_t currentlyInUse() const {
    std::lock_guard<std::mutex> guard(lock_);
    return currentlyInUse_;
  }
  bool used() const {
    std::lock_guard<std::mutex> guard(lock_);
    return used_;
  }
  Statistics statistics() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {used_, numInPool_, currentlyFree_, currentlyInUse_, inUseHiWatermark_, getCount_, freeCount_};
  }

 private:
  mutable std::mutex lock_;
  bool used_ = false;
  uint32_t numInPool_ = N;
  uint32_t currentlyFree_ = N;
  uint32_t currentlyInUse_ = 0;
  uint32_t inUseHiWatermark_ = 0;
  uint32_t getCount_ = 0;
  uint32_t freeCount_ = 0;
};
