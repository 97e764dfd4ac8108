// The rules that change return parameters 1 to 3 from answer to answer:
// auto increment, the random number of a range, the timestamp. The toggle
// needs only the phase flag and lives with the answer building.
#pragma once

#include <QString>
#include <cstdint>
#include <ctime>
#include <random>

namespace rigbench {

// Parameter 1 with "Auto Increment": one more than the number the text
// starts with (0 without digits); 1 when that is negative or above
// 1999999999.
int32_t incrementedValue(const QString& text);

// The draws behind "Random Number": 0 to 32767, seeded with the time.
class RandomDraw {
 public:
  static constexpr int kMax = 32767;
  void seed(std::time_t now) { engine_.seed(static_cast<std::mt19937::result_type>(now)); }
  int next() { return std::uniform_int_distribution<int>(0, kMax)(engine_); }

 private:
  std::mt19937 engine_;
};

// Parameter 3 with "Random Number": `from` plus the width of the range
// scaled by draw / 32767 in single precision, truncated. Single precision
// can round past the upper bound of a wide range; the value is held at `to`.
// Requires from <= to.
int32_t randomInRange(int32_t from, int32_t to, int draw);

// Parameter 3 with "Timestamp": the local time in the C library's standard
// text form, "Wed Jun 30 21:49:08 1993\n" (25 characters).
QString timestampText(std::time_t now);

}  // namespace rigbench
