// Messages the simulator makes up by itself, for demos and benchmarks: a
// number of messages at a steady rate, a share of them informational, with
// the given item texts ("{ref}" in a text becomes the message's reference).
// It starts once a provider has registered.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/exchange_sim/sim_exchange.h"

struct TrafficOptions {
  int64_t count = 0;        // 0: none
  double ratePerSecond = 10;  // 0: as fast as the queue takes them
  double infoShare = 0;     // 0 to 1
  std::vector<std::string> items;
  int32_t firstRef = 1;
  std::optional<int32_t> providerId;
};

class TrafficGenerator {
 public:
  TrafficGenerator(SimExchange& exchange, EventStream& events, TrafficOptions options);
  ~TrafficGenerator();
  void start();
  void stop();

 private:
  void run();

  SimExchange& exchange_;
  EventStream& events_;
  const TrafficOptions options_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
