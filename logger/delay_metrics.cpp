#include "logger/delay_metrics.h"

#include <cstring>

#include "platform/os/os_time.h"

void DelayMetrics::update(uint32_t startTick, uint32_t endTick) {
  if (startTick > endTick) return;
  const uint32_t delay = endTick - startTick;
  int bucket = 0;
  while (bucket < kBuckets - 1 && delay >= kBucketBounds[bucket]) ++bucket;
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  if (delay <= maxDelay_.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> guard(maxLock_);
  if (delay > maxDelay_.load(std::memory_order_relaxed)) {
    maxDelay_.store(delay, std::memory_order_relaxed);
    osLocalTimeString(maxTimeStamp_, sizeof maxTimeStamp_);
  }
}

void DelayMetrics::reset() {
  std::lock_guard<std::mutex> guard(maxLock_);
  for (std::atomic<uint32_t>& bucket : buckets_) bucket = 0;
  maxDelay_ = 0;
  maxTimeStamp_[0] = '\0';
}

DelayMetrics::Snapshot DelayMetrics::snapshot() const {
  Snapshot values;
  std::lock_guard<std::mutex> guard(maxLock_);
  for (int i = 0; i < kBuckets; ++i) {
    values.buckets[i] = buckets_[i].load();
    values.callCount += values.buckets[i];
  }
  values.maxDelay = maxDelay_.load();
  std::memcpy(values.maxTimeStamp, maxTimeStamp_, sizeof values.maxTimeStamp);
  return values;
}

void DelayMetrics::write(FILE* stream, const char* title, const char* underline, const char* countLine) const {
  static const char* const kBucketLines[kBuckets] = {
      "Delay < 10ms          = %u\n", "Delay 10 To 19ms      = %u\n", "Delay 20 To 49ms      = %u\n",
      "Delay 50 To 99ms      = %u\n", "Delay 100 To 199ms    = %u\n", "Delay 200 To 499ms    = %u\n",
      "Delay 500 To 999ms    = %u\n", "Delay 1000 To 1999ms  = %u\n", "Delay 2000 To 4999ms  = %u\n",
      "Delay 5000 To 9999ms  = %u\n", "Delay >= 10000ms      = %u\n",
  };
  const Snapshot values = snapshot();
  std::fprintf(stream, "\n");
  std::fprintf(stream, "%s", title);
  std::fprintf(stream, "%s", underline);
  std::fprintf(stream, countLine, values.callCount);
  for (int i = 0; i < kBuckets; ++i) std::fprintf(stream, kBucketLines[i], values.buckets[i]);
  std::fprintf(stream, "maxLogMsgDelay        = %u ms\n", values.maxDelay);
  std::fprintf(stream, "maxLogMsgTimeStamp    = %s\n", values.maxTimeStamp);
  std::fflush(stream);
}
