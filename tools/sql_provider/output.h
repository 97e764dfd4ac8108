// What sql-provider tells its operator: one line on standard output per
// call, whole even when threads write at once (under systemd, the journal).
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace sqlprovider {

void say(const std::string& line);

// A line that can come at every request (a failing query, say): the first
// is shown, then at most one every ten seconds, telling how many like it
// were held back meanwhile.
class ThrottledLine {
 public:
  void say(const std::string& line);

 private:
  std::mutex mutex_;
  std::chrono::steady_clock::time_point last_{};
  bool shown_ = false;
  long held_ = 0;
};

}  // namespace sqlprovider
