// An event object: a flag that threads wait for, set by another thread.
//
// An auto-reset event wakes one waiter and clears itself; a manual-reset event
// stays set until reset() and wakes every waiter. All operations are safe from
// any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zem {

class Event {
 public:
  enum class Reset { Auto, Manual };
  static constexpr int64_t kInfinite = -1;

  explicit Event(Reset reset = Reset::Auto, bool signalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // Waits until the event is set or timeoutMs passes (kInfinite: no limit).
  // True when the event was set; an auto-reset event is cleared by the wake.
  bool wait(int64_t timeoutMs);
  bool isSet() const;

 private:
  const bool manualReset_;
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  bool signalled_;
};

}  // namespace zem
