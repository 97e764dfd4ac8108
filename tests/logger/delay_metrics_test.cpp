// The delay histograms of the usage report.
#include "logger/delay_metrics.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(DelayMetrics, CountsEachDelayInItsBucket) {
  const struct {
    uint32_t delay;
    int bucket;
  } cases[] = {{0, 0},   {9, 0},    {10, 1},   {19, 1},   {20, 2},   {49, 2},    {50, 3},     {99, 3},
               {100, 4}, {199, 4},  {200, 5},  {499, 5},  {500, 6},  {999, 6},   {1000, 7},   {1999, 7},
               {2000, 8}, {4999, 8}, {5000, 9}, {9999, 9}, {10000, 10}, {4000000000u, 10}};
  for (const auto& c : cases) {
    DelayMetrics metrics;
    metrics.update(7, 7 + c.delay);
    const DelayMetrics::Snapshot s = metrics.snapshot();
    EXPECT_EQ(s.callCount, 1u);
    for (int b = 0; b < DelayMetrics::kBuckets; ++b) EXPECT_EQ(s.buckets[b], b == c.bucket ? 1u : 0u) << c.delay;
  }
}

TEST(DelayMetrics, IgnoresAWrappedTickAndKeepsTheLargestDelay) {
  DelayMetrics metrics;
  metrics.update(5000, 4000);
  EXPECT_EQ(metrics.snapshot().callCount, 0u) << "start after end: the tick counter wrapped";
  EXPECT_STREQ(metrics.snapshot().maxTimeStamp, "");

  metrics.update(0, 10000);
  metrics.update(0, 3);
  const DelayMetrics::Snapshot s = metrics.snapshot();
  EXPECT_EQ(s.callCount, 2u);
  EXPECT_EQ(s.buckets[10], 1u);
  EXPECT_EQ(s.maxDelay, 10000u);
  EXPECT_EQ(std::string(s.maxTimeStamp).size(), 23u) << s.maxTimeStamp;

  metrics.reset();
  EXPECT_EQ(metrics.snapshot().callCount, 0u);
  EXPECT_EQ(metrics.snapshot().maxDelay, 0u);
  EXPECT_STREQ(metrics.snapshot().maxTimeStamp, "");
}

TEST(DelayMetrics, ConcurrentUpdatesLoseNoCount) {
  DelayMetrics metrics;
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&metrics, t] {
      for (uint32_t i = 0; i < 5000; ++i) metrics.update(0, (i + t) % 300);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const DelayMetrics::Snapshot s = metrics.snapshot();
  EXPECT_EQ(s.callCount, 20000u);
  uint32_t total = 0;
  for (uint32_t bucket : s.buckets) total += bucket;
  EXPECT_EQ(total, 20000u);
  EXPECT_EQ(s.maxDelay, 299u);
}

}  // namespace
