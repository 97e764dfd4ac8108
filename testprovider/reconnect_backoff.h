// The pauses between attempts to register again after the connection was
// lost: 1 s, doubling up to 10 s, back to 1 s after a success.
#pragma once

#include <algorithm>

namespace rigbench {

class ReconnectBackoff {
 public:
  static constexpr int kFirstMs = 1000;
  static constexpr int kLongestMs = 10000;

  // The pause before the next attempt.
  int next() {
    const int pause = pause_;
    pause_ = std::min(pause_ * 2, kLongestMs);
    return pause;
  }
  void reset() { pause_ = kFirstMs; }

 private:
  int pause_ = kFirstMs;
};

}  // namespace rigbench
