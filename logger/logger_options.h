// What a GenericLogger takes from its surroundings beyond its settings: its
// waiting times and where it learns the free disk space. The logger runs with
// the defaults; tests shorten the times and give the free space themselves.
#pragma once

#include <cstdint>
#include <functional>

struct LoggerTimings {
  uint32_t messageWaitMs = 30000;  // one wait of the logging thread for entries; two idle ones close the file
  uint32_t startWaitMs = 10000;    // startLogging waits this long for the logging thread to come up
  uint32_t stopWaitMs = 1000;      // stopLogging waits this long for the thread's stop signal
  uint32_t settingWaitMs = 1000;   // a settings accessor waits this long for its semaphore
  // 0: the logging thread is woken for each line that finds it waiting.
  // Otherwise, while lines keep coming, it writes them every writeIntervalMs
  // without being woken (a queue of 256 entries still wakes it); the first
  // line after a quiet interval wakes it at once. Fewer wake-ups, for lines
  // that reach the file up to the interval later.
  uint32_t writeIntervalMs = 0;
};

struct LoggerOptions {
  LoggerTimings timings;
  // Free bytes on the file system of a native directory path; false when it
  // cannot be read. Empty: statvfs through osDiskFreeSpace.
  std::function<bool(const char* directory, uint64_t& freeBytes)> freeSpace;
};
