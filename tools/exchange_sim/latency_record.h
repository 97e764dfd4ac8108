// The simulator's own measure of how fast a provider answers: for each
// message, when it was queued and when a fetch delivered it; for each
// completion that names a recorded message, the time from queueing and from
// delivery to the completion's arrival. Times are the simulator's steady
// clock, so nothing outside the simulator enters the figures.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

class LatencyRecord {
 public:
  using Clock = std::chrono::steady_clock;

  void queued(int32_t ref);
  void delivered(int32_t ref);
  void completed(int32_t ref);

  // {"completions":N,"latencyUs":{"p50":..,"p99":..,"max":..},
  //  "afterDeliveryUs":{...},"open":N,"withOpenUs":{...},"spanUs":N}:
  // percentiles of the samples so far; withOpenUs adds the messages not
  // yet answered with their age, spanUs runs from the first queueing to
  // the last completion.
  nlohmann::ordered_json summary() const;

 private:
  struct Times {
    Clock::time_point queuedAt;
    Clock::time_point deliveredAt;
  };

  mutable std::mutex mutex_;
  std::unordered_map<int32_t, Times> open_;
  std::vector<int64_t> latencyUs_;
  std::vector<int64_t> afterDeliveryUs_;
  Clock::time_point firstQueued_{};
  Clock::time_point lastCompleted_{};
};
