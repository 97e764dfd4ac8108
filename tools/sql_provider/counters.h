// What sql-provider has done, counted for the line it prints every minute
// and for its last line. Safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sqlprovider {

struct Counts {
  long requests = 0;
  long answeredFromRow = 0;
  long notFound = 0;
  long failed = 0;
  long informationalStored = 0;
  long informationalNotStored = 0;
  long completionsRefused = 0;
  long itemsCut = 0;
  double medianQueryMs = -1;  // of the queries in a span; -1: not measured

  // "requests 5, answered from a row 3, ..."
  std::string text() const;
};

class Counters {
 public:
  std::atomic<long> requests{0};
  std::atomic<long> answeredFromRow{0};
  std::atomic<long> notFound{0};
  std::atomic<long> failed{0};
  std::atomic<long> informationalStored{0};
  std::atomic<long> informationalNotStored{0};
  std::atomic<long> completionsRefused{0};
  std::atomic<long> itemsCut{0};

  void queryTook(double milliseconds);
  // The counts since the last call (the first: since the start).
  Counts span();
  // The counts since the start.
  Counts total() const { return read(); }

 private:
  Counts read() const;

  Counts spanStart_;
  std::mutex mutex_;
  std::vector<float> spanTimes_;
};

}  // namespace sqlprovider
