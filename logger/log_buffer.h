// One log entry on its way from a calling thread to the logging thread.
//
// Records live in the logger's fixed pool (locked_pool.h) and are reused;
// nothing is allocated per entry. Taking a record from the pool clears only
// what resetForReuse() clears; every writer fills the fields it uses.
#pragma once

#include <cstdint>

#include "platform/os/os_time.h"

struct LogBuffer {
  static constexpr int kTimeStampSize = 41;
  static constexpr int kLevelNameSize = 17;
  static constexpr int kTextSize = 5001;  // 4999 characters, a newline, the terminator

  LogBuffer* next;                  // link in the logger's write queue
  char timeStamp[kTimeStampSize];   // local time, then the queueing delay; empty for raw text
  char levelName[kLevelNameSize];   // level name column; empty for raw text
  char text[kTextSize];             // the last byte is always zero
  uint32_t callerThreadId;
  uint32_t tickCount;               // millisecond tick count when the entry was made
  // When the entry was made, while its timeStamp text is still to be written
  // (the logging thread writes it, to keep the caller's path short); zero
  // once the text is there, and for raw text.
  OsTime timeOfEntry;

  void resetForReuse() {
    next = nullptr;
    timeStamp[kTimeStampSize - 1] = '\0';
    levelName[kLevelNameSize - 1] = '\0';
    text[kTextSize - 1] = '\0';
    callerThreadId = 0;
    tickCount = 0;
    timeOfEntry = OsTime{};
  }
};
