// Time texts of the OS layer. The caller supplies the buffer and its size;
// a text that would not fit is cut short, never written past the end.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t OS_LOCAL_TIME_STRING_SIZE = 24;  // "2026-12-08 20:41:57.123"
constexpr size_t OS_FILE_TIME_STRING_SIZE = 25;   // "2026 Dec 08 20:41:57.123"
constexpr size_t OS_TIME_ZONE_STRING_SIZE = 16;   // "+5:30"

// Month abbreviations by month number; entry 0 is empty.
extern const char* const osMonthNames[13];

// A moment of the wall clock, to be turned into text later.
struct OsTime {
  int64_t seconds;  // since the epoch; 0: no time taken
  int32_t nanoseconds;
};
OsTime osTimeNow();

// Current local time as "%4d-%02d-%02d %02d:%02d:%02d.%03d".
void osLocalTimeString(char* text, size_t size);
// The same text for a moment taken earlier with osTimeNow.
void osLocalTimeStringAt(const OsTime& time, char* text, size_t size);
// Current local time with the month's abbreviation, as
// "%4d %s %02d %02d:%02d:%02d.%03d" ("2026 Dec 08 20:41:57.123", at most
// OS_FILE_TIME_STRING_SIZE bytes with the terminator).
void osMonthTimeString(char* text, size_t size);
// The machine's standard offset from UTC, without daylight saving, as "%+d:%d".
void osTimeZoneString(char* text, size_t size);
// The same text for a given bias in minutes (UTC = local time + bias):
// -330 gives "+5:30", 300 gives "-5:0".
void osTimeZoneStringForBias(int biasMinutes, char* text, size_t size);
