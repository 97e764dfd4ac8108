#include "container/fail_points.h"

#include <atomic>
#include <new>
#include <stdexcept>

namespace zem {
namespace {

constexpr int kDisarmed = -1;

std::atomic<int> countdowns[2] = {kDisarmed, kDisarmed};

std::atomic<int>& countdownOf(FailPoint point) { return countdowns[static_cast<int>(point)]; }

}  // namespace

void armFailPoint(FailPoint point, int passes) { countdownOf(point).store(passes < 0 ? 0 : passes); }

void disarmFailPoints() {
  for (std::atomic<int>& countdown : countdowns) countdown.store(kDisarmed);
}

void hitFailPoint(FailPoint point) {
  std::atomic<int>& countdown = countdownOf(point);
  int left = countdown.load(std::memory_order_relaxed);
  while (left != kDisarmed) {
    // Counting down past 0 lands on kDisarmed: the failure happens once.
    if (countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      if (left != 0) return;
      if (point == FailPoint::Allocation) throw std::bad_alloc();
      throw std::runtime_error("injected container fault");
    }
  }
}

}  // namespace zem
