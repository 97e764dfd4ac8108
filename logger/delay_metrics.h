// How long one path of the logger took, as a histogram in milliseconds: a
// call count, eleven buckets, the largest delay and when it was seen.
//
// Several threads may record at once: the counts are atomic (the call count
// is the sum of the buckets, one count fewer per call), and raising the
// largest delay takes a small lock, so that it and its time stamp stay
// together.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

class DelayMetrics {
 public:
  static constexpr int kBuckets = 11;
  // Upper bounds (exclusive) of the first ten buckets; the last takes the rest.
  static constexpr uint32_t kBucketBounds[kBuckets - 1] = {10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};

  struct Snapshot {
    uint32_t callCount = 0;
    uint32_t buckets[kBuckets] = {};
    uint32_t maxDelay = 0;
    char maxTimeStamp[40] = {};
  };

  // Records one delay from two tick counts; a start after the end (the tick
  // counter wrapped) is ignored.
  void update(uint32_t startTick, uint32_t endTick);
  void reset();
  Snapshot snapshot() const;

  // The block of the usage report: title, underline and count line, then the
  // buckets and the largest delay.
  void write(FILE* stream, const char* title, const char* underline, const char* countLine) const;

 private:
  std::atomic<uint32_t> buckets_[kBuckets] = {};
  std::atomic<uint32_t> maxDelay_{0};
  mutable std::mutex maxLock_;  // guards maxTimeStamp_ and each raise of maxDelay_
  char maxTimeStamp_[40] = {};
};
