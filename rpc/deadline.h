// The end of a time limit on the steady clock, or none. A call carries one
// deadline through every step it waits on (connecting, the bind, writing,
// each fragment of the answer), so that the steps share the limit instead
// of each getting it anew.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace rpc {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // No limit.
  Deadline() = default;
  // limitMs from now; a negative limit is none.
  static Deadline after(int limitMs) {
    Deadline deadline;
    if (limitMs >= 0) {
      deadline.limited_ = true;
      deadline.end_ = Clock::now() + std::chrono::milliseconds(limitMs);
    }
    return deadline;
  }

  bool limited() const { return limited_; }
  Clock::time_point end() const { return end_; }
  bool passed() const { return limited_ && Clock::now() >= end_; }

  // The wait for the next step in milliseconds: -1 without a limit, 0 once
  // the deadline passed, otherwise the time left rounded up, so that a wait
  // never ends a fraction of a millisecond early and spins.
  int waitMs() const {
    if (!limited_) return -1;
    const auto left = end_ - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const int64_t ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, INT32_MAX));
  }

  // The earlier of this deadline and limitMs from now (a negative limit
  // leaves this one).
  Deadline cappedAt(int limitMs) const {
    const Deadline other = after(limitMs);
    if (!other.limited_) return *this;
    if (!limited_ || other.end_ < end_) return other;
    return *this;
  }

 private:
  bool limited_ = false;
  Clock::time_point end_{};
};

}  // namespace rpc
