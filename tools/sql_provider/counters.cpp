#include "counters.h"

#include <algorithm>
#include <cstdio>

namespace sqlprovider {

std::string Counts::text() const {
  char median[48] = "";
  if (medianQueryMs >= 0) std::snprintf(median, sizeof median, ", median query time %.2f ms", medianQueryMs);
  return "requests " + std::to_string(requests) + ", answered from a row " + std::to_string(answeredFromRow) +
         ", not found " + std::to_string(notFound) + ", failed " + std::to_string(failed) +
         ", informational messages stored " + std::to_string(informationalStored) + median +
         "; informational messages not stored " + std::to_string(informationalNotStored) +
         ", completions refused " + std::to_string(completionsRefused) + ", items cut " + std::to_string(itemsCut);
}

void Counters::queryTook(double milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  spanTimes_.push_back(static_cast<float>(milliseconds));
}

Counts Counters::read() const {
  Counts counts;
  counts.requests = requests.load();
  counts.answeredFromRow = answeredFromRow.load();
  counts.notFound = notFound.load();
  counts.failed = failed.load();
  counts.informationalStored = informationalStored.load();
  counts.informationalNotStored = informationalNotStored.load();
  counts.completionsRefused = completionsRefused.load();
  counts.itemsCut = itemsCut.load();
  return counts;
}

Counts Counters::span() {
  const Counts now = read();
  Counts counts = now;
  counts.requests -= spanStart_.requests;
  counts.answeredFromRow -= spanStart_.answeredFromRow;
  counts.notFound -= spanStart_.notFound;
  counts.failed -= spanStart_.failed;
  counts.informationalStored -= spanStart_.informationalStored;
  counts.informationalNotStored -= spanStart_.informationalNotStored;
  counts.completionsRefused -= spanStart_.completionsRefused;
  counts.itemsCut -= spanStart_.itemsCut;
  spanStart_ = now;
  std::lock_guard<std::mutex> lock(mutex_);
  counts.medianQueryMs = 0;
  if (!spanTimes_.empty()) {
    auto middle = spanTimes_.begin() + static_cast<long>(spanTimes_.size() / 2);
    std::nth_element(spanTimes_.begin(), middle, spanTimes_.end());
    counts.medianQueryMs = *middle;
    spanTimes_.clear();
  }
  return counts;
}

}  // namespace sqlprovider
