#include "platform/os/os_time.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

const char* const osMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// The date and time down to the second, as last formatted on this thread.
// The logger stamps every entry, and converting to local time costs more than
// the rest of an entry together; within one second only the milliseconds change.
struct SecondText {
  time_t second = -1;
  char text[64] = {};
};
thread_local SecondText lastSecond;

}  // namespace

OsTime osTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int64_t>(now.tv_sec), static_cast<int32_t>(now.tv_nsec)};
}

void osLocalTimeString(char* text, size_t size) { osLocalTimeStringAt(osTimeNow(), text, size); }

void osLocalTimeStringAt(const OsTime& time, char* text, size_t size) {
  SecondText& cache = lastSecond;
  const time_t second = static_cast<time_t>(time.seconds);
  if (cache.second != second) {
    tm local{};
    localtime_r(&second, &local);
    std::snprintf(cache.text, sizeof cache.text, "%4d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    cache.second = second;
  }
  // The seconds' text, a point and three digits of milliseconds.
  char stamp[sizeof cache.text + 4];
  const size_t length = std::strlen(cache.text);
  std::memcpy(stamp, cache.text, length);
  const int milliseconds = static_cast<int>(time.nanoseconds / 1000000);
  stamp[length] = '.';
  stamp[length + 1] = static_cast<char>('0' + milliseconds / 100);
  stamp[length + 2] = static_cast<char>('0' + milliseconds / 10 % 10);
  stamp[length + 3] = static_cast<char>('0' + milliseconds % 10);
  if (size == 0) return;
  const size_t copied = std::min(length + 4, size - 1);
  std::memcpy(text, stamp, copied);
  text[copied] = '\0';
}

void osMonthTimeString(char* text, size_t size) {
  const OsTime now = osTimeNow();
  const time_t second = static_cast<time_t>(now.seconds);
  tm local{};
  localtime_r(&second, &local);
  const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon + 1 : 0;
  std::snprintf(text, size, "%4d %s %02d %02d:%02d:%02d.%03d", local.tm_year + 1900, osMonthNames[month], local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.nanoseconds / 1000000));
}

void osTimeZoneString(char* text, size_t size) {
  // Daylight saving moves clocks forward, so the base offset is the lower of
  // the offsets the zone uses in the two halves of this year. The zone data's
  // own mark of standard time will not do: some zones mark their winter as
  // the daylight period (a negative saving), and the C library's `timezone`
  // then gives the summer offset.
  tzset();
  const time_t now = time(nullptr);
  tm today{};
  localtime_r(&now, &today);
  long lowest = today.tm_gmtoff;
  for (int month : {0, 6}) {
    tm probe{};
    probe.tm_year = today.tm_year;
    probe.tm_mon = month;
    probe.tm_mday = 1;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    const time_t at = mktime(&probe);
    tm local{};
    if (at != static_cast<time_t>(-1) && localtime_r(&at, &local) != nullptr) lowest = std::min(lowest, local.tm_gmtoff);
  }
  osTimeZoneStringForBias(static_cast<int>(-lowest / 60), text, size);
}

void osTimeZoneStringForBias(int biasMinutes, char* text, size_t size) {
  const int hours = -biasMinutes / 60;
  int minutes = biasMinutes % 60;
  if (minutes < 0) minutes = -minutes;
  std::snprintf(text, size, "%+d:%d", hours, minutes);
}
