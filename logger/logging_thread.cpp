// The logging thread: it takes the callers' queue as a whole, writes each
// record as a line of the current log file, flushes, and gives the records
// back to the pool.
#include <cxxabi.h>

#include <cstdio>
#include <cstring>

#include "logger/generic_logger.h"
#include "platform/fault/exception_translator.h"
#include "platform/fault/gll_se_exception.h"
#include "platform/os/os.h"

namespace {

constexpr uint32_t kFlushEvery = 256;  // lines written before a flush while the queue keeps filling

// Appends " %-4u" (the queueing delay) to the time stamp of a record,
// without a formatted print: the logging thread does it for every line.
void appendDelay(char (&stamp)[LogBuffer::kTimeStampSize], uint32_t delay) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + delay % 10);
    delay /= 10;
  } while (delay != 0);
  size_t at = strnlen(stamp, sizeof stamp - 1);
  const auto put = [&](char c) {
    if (at < sizeof stamp - 1) stamp[at++] = c;
  };
  put(' ');
  for (int i = count - 1; i >= 0; --i) put(digits[i]);
  for (int pad = count; pad < 4; ++pad) put(' ');  // left-aligned in four places
  stamp[at] = '\0';
}

}  // namespace

uint32_t GenericLogger::logThreadEntry(void* logger) {
  installExceptionTranslator();
  struct Remove {
    ~Remove() { removeExceptionTranslator(); }
  } remove;  // however the thread ends
  try {
    static_cast<GenericLogger*>(logger)->logThread();
  } catch (GLL_SE_Exception* exception) {
    delete exception;  // the report is in the thread's exception file; the thread ends
  } catch (abi::__forced_unwind&) {
    throw;  // osThreadExit: let the thread end
  } catch (...) {
  }
  return 0;
}

void GenericLogger::logThread() {
  if (!osBinarySemaphoreCreate(&loggingStoppedSemaphore, 0)) {
    count(SEMAPHORE_CREATE);
    logFatalError("logThread() : osBinarySemaphoreCreate: loggingStoppedSemaphore failed\n");
    return;
  }
  if (!osBinarySemaphoreGive(loggingStartedSemaphore)) {
    count(SEMAPHORE_GIVE);
    logFatalError("logThread() osBinarySemaphoreGive: loggingStartedSemaphore failed\n");
    return;
  }

  // With a write interval, the thread collects: after writing what woke it,
  // it lets the callers queue without waking it and writes again after the
  // interval, for as long as lines keep coming; an interval without lines
  // makes it quiet again, and the next line wakes it at once.
  const uint32_t interval = options.timings.writeIntervalMs;
  bool collecting = false;
  int idleWaits = 0;
  bool done = false;
  while (!done) {
    if (!messageEvent.wait(collecting ? interval : options.timings.messageWaitMs) && !collecting) {
      // A log that has been quiet for two waits is closed; the next line reopens it.
      if (++idleWaits >= 2) {
        idleWaits = 0;
        std::lock_guard<std::recursive_mutex> files(fileSetLock);
        closeLogFile();
      }
      continue;
    }
    idleWaits = 0;
    bool wrote = false;
    done = drainQueue(interval != 0, wrote);
    if (!done && interval != 0 && !wrote) done = drainQueue(false, wrote);
    collecting = interval != 0 && wrote;
  }

  if (!osBinarySemaphoreGive(loggingStoppedSemaphore)) {
    count(SEMAPHORE_GIVE);
    writeTextToLogFile("logThread() : osBinarySemaphoreGive loggingStoppedSemaphore failed\n");
  }
}

// Takes every queued record off the queue at once, oldest first; when there
// are none, null is returned and, unless the thread stays awake to collect,
// the event is reset (see enqueue).
LogBuffer* GenericLogger::takeQueue(bool stayAwake) {
  std::lock_guard<std::mutex> guard(queueLock);
  LogBuffer* records = writeQueue.head;
  if (records == nullptr && !stayAwake) {
    messageEvent.reset();
    wakeUpSent = false;
  }
  writeQueue = WriteQueue{};
  return records;
}

// Writes every queued record; true when the thread may end: the stop's own
// entry has been queued, the queue is empty, and no caller still fills a
// record (unless the stop has waited long enough for that).
bool GenericLogger::drainQueue(bool stayAwake, bool& wroteAny) {
  // Read before the queue is looked at: once it is set, the stop's entry is
  // in the queue, and the look below finds it.
  bool finishing = finishWhenEmpty.load();
  LogBuffer* records = takeQueue(stayAwake && !finishing);
  wroteAny = records != nullptr;

  // Written records go back to the pool in groups, to take its lock less often.
  constexpr size_t kFreeGroup = 32;
  LogBuffer* written[kFreeGroup];
  size_t pending = 0;
  uint32_t unflushed = 0;
  while (records != nullptr) {
    {
      std::lock_guard<std::recursive_mutex> files(fileSetLock);
      for (LogBuffer* record = records; record != nullptr;) {
        LogBuffer* next = record->next;
        const uint32_t start = osTickCount();
        if (writeBufferToLogFile(record)) {
          ++unflushed;
        } else {
          count(WRITE_BUFFER);
        }
        written[pending++] = record;
        if (pending == kFreeGroup || next == nullptr) {
          pool.freeGroup(written, pending);
          pending = 0;
        }
        logMsgToFileDelays.update(start, osTickCount());
        record = next;
      }
      if (unflushed >= kFlushEvery) flushWritten(unflushed);
    }
    finishing = finishWhenEmpty.load();
    records = takeQueue(stayAwake && !finishing);
  }
  flushWritten(unflushed);
  return finishing && (pool.currentlyInUse() == 0 || stopNow.load());
}

// The lines written since the last flush reach the file with one write call
// when the queue is empty (or after kFlushEvery lines), rather than one
// call per line; only then do they count as logged. The release pairs
// with the reader's load, so whoever sees the count also sees the file
// set as the logging thread left it.
void GenericLogger::flushWritten(uint32_t& lines) {
  if (lines == 0) return;
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (logFile != nullptr && std::fflush(logFile) != 0) count(FILE_FLUSH);
  loggedMessages.fetch_add(lines, std::memory_order_release);
  lines = 0;
}

// ---- Writing lines (under fileSetLock)

// One line: time stamp, level name and text separated by tabs, or fewer
// columns when the level name (and the time stamp) are empty.
void GenericLogger::writeLine(FILE* stream, const char* timeStamp, const char* levelName, const char* text,
                              int* written) {
  const size_t stampLength = std::strlen(timeStamp);
  const size_t levelLength = std::strlen(levelName);
  const size_t textLength = std::strlen(text);
  // Put together first and written with one call: cheaper than a formatted print.
  char line[LogBuffer::kTimeStampSize + LogBuffer::kLevelNameSize + LogBuffer::kTextSize + 2];
  size_t length = 0;
  const auto add = [&line, &length](const char* part, size_t partLength) {
    std::memcpy(line + length, part, partLength);
    length += partLength;
  };
  if (levelLength > 1) {
    add(timeStamp, stampLength);
    add("\t", 1);
    add(levelName, levelLength);
    add("\t", 1);
  } else if (stampLength > 1) {
    add(timeStamp, stampLength);
    add("\t", 1);
  }
  add(text, textLength);
  const size_t count = std::fwrite(line, 1, length, stream);
  if (written != nullptr) *written = static_cast<int>(count);
}

bool GenericLogger::writeBufferToLogFile(LogBuffer* record) {
  const uint32_t now = osTickCount();
  if (logFile == nullptr) {
    logFile = std::fopen(currentLogFilePath, "a+");
    if (logFile == nullptr) {
      count(FILE_OPEN);
      logFatalError("writeBufferToLogFile() : Couldn't open Log File (%s)\n", currentLogFilePath);
      return false;
    }
  }
  const uint32_t delay = record->tickCount > now ? 0 : now - record->tickCount;
  // The stamp is built here rather than in the record: the logging thread
  // only reads records, so a caller that takes one of them next from the pool
  // does not have to pull lines this thread has just written.
  char timeStamp[LogBuffer::kTimeStampSize];
  if (record->timeOfEntry.seconds != 0) {
    osLocalTimeStringAt(record->timeOfEntry, timeStamp, sizeof timeStamp);
  } else {
    std::memcpy(timeStamp, record->timeStamp, sizeof timeStamp);
  }
  if (timeStamp[0] != '\0') appendDelay(timeStamp, delay);
  int written = 0;
  writeLine(logFile, timeStamp, record->levelName, record->text, &written);
  if (written > 0) currentLogFileSize += static_cast<uint32_t>(written);
  // The flag is one word; its semaphore would only order this read.
  if (logToStdio.load(std::memory_order_relaxed)) {
    writeLine(stdout, timeStamp, record->levelName, record->text, nullptr);
  }
  return updateCircularBufferFiles();
}

void GenericLogger::writeTextToLogFile(const char* text) {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (logFile == nullptr) return;
  char timeStamp[OS_LOCAL_TIME_STRING_SIZE];
  osLocalTimeString(timeStamp, sizeof timeStamp);
  writeLine(logFile, timeStamp, "INFO ", text, nullptr);
  if (std::fflush(logFile) != 0) count(FILE_FLUSH);
  if (isLogToStdioOn()) writeLine(stdout, timeStamp, "INFO ", text, nullptr);
  updateCircularBufferFiles();
}

void GenericLogger::closeLogFile() {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (logFile == nullptr) return;
  if (std::fclose(logFile) != 0) {
    count(FILE_CLOSE);
    logFile = nullptr;
    logFatalError("closeLogFile() : Couldn't close Log File (%s)\n", currentLogFilePath);
  }
  logFile = nullptr;
}
