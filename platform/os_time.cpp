#include "platform/os_time.h"

#include <cstdio>
#include <ctime>

const char* const osMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void osLocalTimeString(char* text, size_t size) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  std::snprintf(text, size, "%4d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000));
}

void osTimeZoneString(char* text, size_t size) {
  tzset();
  // timezone: seconds west of UTC in the zone's standard time.
  osTimeZoneStringForBias(static_cast<int>(timezone / 60), text, size);
}

void osTimeZoneStringForBias(int biasMinutes, char* text, size_t size) {
  const int hours = -biasMinutes / 60;
  int minutes = biasMinutes % 60;
  if (minutes < 0) minutes = -minutes;
  std::snprintf(text, size, "%+d:%d", hours, minutes);
}
