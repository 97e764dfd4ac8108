#include "provider/request_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(RequestQueue, OldestFirstAndCounted) {
  RequestQueue queue;
  EXPECT_EQ(queue.take(0), 0u);
  for (ZemContainerHandle h = 1; h <= 3; ++h) queue.append(h);
  EXPECT_EQ(queue.count(), 3);
  EXPECT_EQ(queue.take(0), 1u);
  EXPECT_EQ(queue.take(RequestQueue::kInfinite), 2u);
  EXPECT_EQ(queue.count(), 1);
  EXPECT_EQ(queue.take(10), 3u);
  EXPECT_EQ(queue.take(10), 0u);
  EXPECT_EQ(queue.count(), 0);
}

TEST(RequestQueue, EveryEntryBeyondAHundredStaysVisible) {
  RequestQueue queue;
  for (ZemContainerHandle h = 1; h <= 250; ++h) queue.append(h);
  for (ZemContainerHandle h = 1; h <= 250; ++h) ASSERT_EQ(queue.take(0), h);
  EXPECT_EQ(queue.take(0), 0u);
}

TEST(RequestQueue, DrainHandsOverEverythingAndResetEndsWaits) {
  RequestQueue queue;
  for (ZemContainerHandle h = 1; h <= 5; ++h) queue.append(h);
  std::vector<ZemContainerHandle> destroyed;
  queue.drain([&](ZemContainerHandle h) { destroyed.push_back(h); });
  EXPECT_EQ(destroyed, (std::vector<ZemContainerHandle>{1, 2, 3, 4, 5}));
  EXPECT_EQ(queue.count(), 0);

  std::atomic<int> ended{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      EXPECT_EQ(queue.take(RequestQueue::kInfinite), 0u);
      ++ended;
    });
  }
  // A waiter that has not begun waiting yet is ended by a later reset.
  while (ended.load() < 3) {
    queue.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(ended.load(), 3);
  // A reset does not swallow later entries.
  queue.append(7);
  EXPECT_EQ(queue.take(0), 7u);

  // A taker that read the reset count before a reset does not wait past it,
  // even with an entry there; one that read it afterwards takes the entry.
  const uint64_t before = queue.resetCount();
  queue.reset();
  queue.append(8);
  EXPECT_EQ(queue.take(RequestQueue::kInfinite, before), 0u);
  EXPECT_EQ(queue.take(RequestQueue::kInfinite, queue.resetCount()), 8u);
}

TEST(RequestQueue, ConcurrentProducersAndTakersLoseNothing) {
  RequestQueue queue;
  constexpr int kPerProducer = 5000;
  std::atomic<int> taken{0};
  std::atomic<uint64_t> sum{0};
  std::vector<std::thread> threads;
  for (int p = 0; p < 2; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 1; i <= kPerProducer; ++i) queue.append(static_cast<ZemContainerHandle>(p * kPerProducer + i));
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (taken.load() < 2 * kPerProducer) {
        const ZemContainerHandle h = queue.take(5);
        if (h != 0) {
          sum += h;
          ++taken;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const uint64_t n = 2 * kPerProducer;
  EXPECT_EQ(sum.load(), n * (n + 1) / 2);
  EXPECT_EQ(queue.count(), 0);
}

}  // namespace
