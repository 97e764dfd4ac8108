#include "tools/exchange_sim/latency_record.h"

#include <algorithm>

namespace {

int64_t microsecondsBetween(LatencyRecord::Clock::time_point from, LatencyRecord::Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

nlohmann::ordered_json percentiles(std::vector<int64_t> samples) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  if (samples.empty()) return out;
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double share) { return samples[static_cast<size_t>(share * static_cast<double>(samples.size() - 1))]; };
  out["p50"] = at(0.50);
  out["p99"] = at(0.99);
  out["max"] = samples.back();
  return out;
}

}  // namespace

void LatencyRecord::queued(int32_t ref) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(mutex_);
  open_[ref] = Times{now, {}};
  if (firstQueued_ == Clock::time_point{}) firstQueued_ = now;
}

void LatencyRecord::delivered(int32_t ref) {
  std::lock_guard lock(mutex_);
  if (auto found = open_.find(ref); found != open_.end()) found->second.deliveredAt = Clock::now();
}

void LatencyRecord::completed(int32_t ref) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(mutex_);
  const auto found = open_.find(ref);
  if (found == open_.end()) return;
  latencyUs_.push_back(microsecondsBetween(found->second.queuedAt, now));
  lastCompleted_ = now;
  if (found->second.deliveredAt != Clock::time_point{}) {
    afterDeliveryUs_.push_back(microsecondsBetween(found->second.deliveredAt, now));
  }
  open_.erase(found);
}

nlohmann::ordered_json LatencyRecord::summary() const {
  std::lock_guard lock(mutex_);
  nlohmann::ordered_json out;
  out["completions"] = latencyUs_.size();
  out["latencyUs"] = percentiles(latencyUs_);
  out["afterDeliveryUs"] = percentiles(afterDeliveryUs_);
  // Messages still waiting count with their age so far: when a provider
  // falls behind, these are lower bounds of what it makes them wait.
  std::vector<int64_t> withOpen = latencyUs_;
  const Clock::time_point now = Clock::now();
  for (const auto& [ref, times] : open_) withOpen.push_back(microsecondsBetween(times.queuedAt, now));
  out["open"] = open_.size();
  out["withOpenUs"] = percentiles(std::move(withOpen));
  if (!latencyUs_.empty()) out["spanUs"] = microsecondsBetween(firstQueued_, lastCompleted_);
  return out;
}
