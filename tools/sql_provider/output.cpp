#include "output.h"

#include <cstdio>

namespace sqlprovider {

void say(const std::string& line) {
  // One write of the whole line: stdio locks the stream for the call.
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

void ThrottledLine::say(const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  long held = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_ && now - last_ < std::chrono::seconds(10)) {
      ++held_;
      return;
    }
    shown_ = true;
    last_ = now;
    held = held_;
    held_ = 0;
  }
  sqlprovider::say(held == 0 ? line : line + " (and " + std::to_string(held) + " more like it before)");
}

}  // namespace sqlprovider
