#include <windows.h>

#include <cstdio>

#include "platform/os/os_time.h"

const char* const osMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// 100-nanosecond intervals between 1601-01-01 (file times) and 1970-01-01.
constexpr int64_t kEpochOffset = 116444736000000000LL;

}  // namespace

OsTime osTimeNow() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kEpochOffset;
  return {ticks / 10000000, static_cast<int32_t>(ticks % 10000000 * 100)};
}

void osLocalTimeString(char* text, size_t size) { osLocalTimeStringAt(osTimeNow(), text, size); }

void osLocalTimeStringAt(const OsTime& time, char* text, size_t size) {
  const uint64_t ticks = static_cast<uint64_t>(time.seconds * 10000000 + time.nanoseconds / 100 + kEpochOffset);
  FILETIME utcFile{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  if (!FileTimeToSystemTime(&utcFile, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  std::snprintf(text, size, "%4d-%02d-%02d %02d:%02d:%02d.%03d", local.wYear, local.wMonth, local.wDay, local.wHour,
                local.wMinute, local.wSecond, local.wMilliseconds);
}

void osMonthTimeString(char* text, size_t size) {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  std::snprintf(text, size, "%4d %s %02d %02d:%02d:%02d.%03d", local.wYear, osMonthNames[local.wMonth], local.wDay,
                local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
}

void osTimeZoneString(char* text, size_t size) {
  // The zone's base bias, without daylight saving.
  TIME_ZONE_INFORMATION zone{};
  GetTimeZoneInformation(&zone);
  osTimeZoneStringForBias(static_cast<int>(zone.Bias), text, size);
}

void osTimeZoneStringForBias(int biasMinutes, char* text, size_t size) {
  const int hours = -biasMinutes / 60;
  int minutes = biasMinutes % 60;
  if (minutes < 0) minutes = -minutes;
  std::snprintf(text, size, "%+d:%d", hours, minutes);
}
