// The usage report the logger writes into its log when it stops, and the
// dump of its settings that ends it.
#include <cstdio>

#include "logger/generic_logger.h"
#include "platform/os/os.h"

namespace {

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

// The error counters' lines, in the order of GenericLogger::ErrorCounter.
const char* const kErrorLines[GenericLogger::kErrorCounterCount] = {
    "File Open Error Count            = %lu\n",  "File Close Error Count           = %lu\n",
    "File Flush Error Count           = %lu\n",  "Write Buffer Error Count         = %lu\n",
    "Create Event Failure Count         = %lu\n", "Set Event Failure Count            = %lu\n",
    "Reset Event Failure Count          = %lu\n", "WaitForSingleObject Failure Count  = %lu\n",
    "Semaphore Create Failure Count   = %lu\n",  "Semaphore Give Failure Count     = %lu\n",
    "Semaphore Take Failure Count     = %lu\n",  "Semaphore Destroy Failure Count  = %lu\n",
    "Create File Failure Count        = %lu\n",  "Create Directory Failure Count   = %lu\n",
    "Move File Failure Count          = %lu\n",  "Move File (MP) Failure Count     = %lu\n",
    "Delete File Failure Count        = %lu\n",  "Get File Size Failure Count      = %lu\n",
};

}  // namespace

void GenericLogger::writeUsageReport(FILE* stream) {
  if (stream == nullptr) return;
  const uint32_t start = osTickCount();
  std::fprintf(stream, "\n");
  std::fprintf(stream, "---------- Logger Usage Information Start ----------\n");
  std::fprintf(stream, "\n");

  const MessageCounts counts = messageCounts();
  std::fprintf(stream, "Message Counters\n");
  std::fprintf(stream, "----------------\n");
  std::fprintf(stream, "Logged Message Request Count     = %lu\n", static_cast<unsigned long>(counts.requests));
  std::fprintf(stream, "Logged Raw Text Count            = %lu\n", static_cast<unsigned long>(counts.rawTexts));
  std::fprintf(stream, "Logged Messages Count            = %lu\n", static_cast<unsigned long>(counts.logged));
  std::fprintf(stream, "Discarded/Lost Messages Count    = %lu\n", static_cast<unsigned long>(counts.lost));
  std::fprintf(stream, "Replaced Messages Count          = %lu\n", static_cast<unsigned long>(counts.replaced));
  std::fprintf(stream, "Truncated Messages Count         = %lu\n", static_cast<unsigned long>(counts.truncated));
  std::fprintf(stream, "\n");
  if (counts.logged != 0) {
    std::fprintf(stream, "Level Message Counters\n");
    std::fprintf(stream, "----------------------\n");
    for (uint32_t level = 0; level < kLogLevelCount; ++level) {
      std::fprintf(stream, "Level %d [%s] Count = %lu\n", static_cast<int>(level), logLevelName(level),
                   static_cast<unsigned long>(counts.perLevel[level]));
    }
  }
  std::fflush(stream);

  std::fprintf(stream, "\n");
  std::fprintf(stream, "Log Buffer Pool Usage Stats\n");
  std::fprintf(stream, "---------------------------\n");
  const LockedPool<LogBuffer, kPoolSize>::Statistics statistics = pool.statistics();
  if (statistics.used) {
    std::fprintf(stream, "Num in Pool          : %lu\n", static_cast<unsigned long>(statistics.numInPool));
    std::fprintf(stream, "Currently free       : %lu\n", static_cast<unsigned long>(statistics.currentlyFree));
    std::fprintf(stream, "Currently in use     : %lu\n", static_cast<unsigned long>(statistics.currentlyInUse));
    std::fprintf(stream, "In use HI watermark  : %lu\n", static_cast<unsigned long>(statistics.inUseHiWatermark));
    std::fprintf(stream, "Get count            : %lu\n", static_cast<unsigned long>(statistics.getCount));
    std::fprintf(stream, "Free count           : %lu\n", static_cast<unsigned long>(statistics.freeCount));
  } else {
    std::fprintf(stream, "Pool not yet used ....... \n");
  }
  std::fflush(stream);

  std::fprintf(stream, "\n");
  std::fprintf(stream, "Error Counters\n");
  std::fprintf(stream, "--------------\n");
  bool anyError = false;
  for (int counter = 0; counter < kErrorCounterCount; ++counter) {
    const uint32_t value = errorCounters[counter].load();
    if (value == 0) continue;
    anyError = true;
    std::fprintf(stream, kErrorLines[counter], static_cast<unsigned long>(value));
  }
  if (!anyError) std::fprintf(stream, "No Errors encountered\n");
  std::fflush(stream);

  logMsgDelays.write(stream, "Log Message Delay Metrics -- Calling Thread\n",
                     "-------------------------------------------\n", "logMsgCallCnt         = %u\n");
  logMsgToFileDelays.write(stream, "Log Message To File Delay Metrics -- Logging Thread\n",
                           "---------------------------------------------------\n", "logMsgToFileCallCnt   = %u\n");
  logRawTextDelays.write(stream, "Log Raw Text Delay Metrics -- Calling Thread\n",
                         "-------------------------------------------\n", "logRawTextCallCnt     = %u\n");

  writeSettings(stream);

  const uint32_t end = osTickCount();
  if (end >= start) std::fprintf(stream, "Time Taken To Log Usage Info : %u ms\n", end - start);
  std::fprintf(stream, "\n");
  std::fprintf(stream, "----------- Logger Usage Information End -----------\n");
  std::fprintf(stream, "\n");
  std::fflush(stream);
}

void GenericLogger::writeSettings(FILE* stream) {
  if (stream == nullptr) return;
  std::fprintf(stream, "\n");
  std::fprintf(stream, "********** GenericLogger Settings Start **********\n");
  std::fprintf(stream, "\n");
  const bool started = loggingStarted.load();
  std::fprintf(stream, "Logging Started     = %s\n", yesNo(started));
  std::fprintf(stream, "Logging Mode        = %s\n", appendMode ? "APPEND" : "CREATE_NEW");
  std::fprintf(stream, "Max Log File Size   = %ld Megs\n", static_cast<long>(maxLogFileSizeInMegs.load()));
  std::fprintf(stream, "Max Number of Files = %ld\n", static_cast<long>(maxNumberOfLogFiles.load()));
  std::fprintf(stream, "Current Log Level   = %ld\n", static_cast<long>(currentLogLevel.load()));
  std::fprintf(stream, "Log to stdio        = %s\n", yesNo(logToStdio.load()));
  std::fprintf(stream, "Log Caller ThreadId = %s\n", yesNo(logCallerThreadId));
  std::fprintf(stream, "Log Thread Name     = %s\n", yesNo(logThreadNames));
  if (started) {
    std::fprintf(stream, "Logging Thread ID   = %ld (0x%lx)\n", static_cast<long>(logThreadId),
                 static_cast<unsigned long>(logThreadId));
    int priority = 0;
    if (osThreadPriorityGet(logThreadHandle, &priority)) {
      std::fprintf(stream, "Log Thread Priority = %d\n", priority);
    } else {
      std::fprintf(stream, "Log Thread Priority = ERROR\n");
    }
  }
  std::fprintf(stream, "\n");
  std::fprintf(stream, "External Error Report Handler  = %s\n", yesNo(errorReportHandler.load() != nullptr));
  std::fprintf(stream, "\n");
  std::fprintf(stream, "Log Levels\n");
  std::fprintf(stream, "----------\n");
  for (uint32_t level = 0; level < kLogLevelCount; ++level) {
    std::fprintf(stream, "%d ---- %s\n", static_cast<int>(level), logLevelName(level));
  }
  std::fprintf(stream, "\n");
  std::fprintf(stream, "Log Directories and Files\n");
  std::fprintf(stream, "-------------------------\n");
  std::fprintf(stream, "Log File Dir Name      = %s\n", logDirectory);
  std::fprintf(stream, "Log File Name          = %s\n", currentLogFilePath);
  std::fprintf(stream, "Fatal Error File Name  = %s\n", fatalErrorFilePath);
  std::fprintf(stream, "\n");
  std::fprintf(stream, "*********** GenericLogger Settings End ***********\n");
  std::fprintf(stream, "\n");
  std::fflush(stream);
}
