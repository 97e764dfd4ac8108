// The logger's core: queueing entries, the logging thread, writing lines,
// starting and stopping.
#include "logger/generic_logger.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstring>

#include "platform/fault/exception_translator.h"
#include "platform/fault/gll_se_exception.h"
#include "platform/os/os.h"

namespace {

constexpr uint32_t kLowBufferReserve = 5;
constexpr int kLongestMessage = LogBuffer::kTextSize - 2;  // 4999 characters, then the line end
constexpr int kTruncationPoint = 4980;
constexpr char kTooLongMarker[] = " .. Too Long .. \n";
constexpr char kBuffersLowText[] = "Warning: Log Buffers Low .. Log message lost ..\n";
constexpr uint32_t kFlushEvery = 256;
constexpr uint32_t kEarlyWakeCount = 256;  // queued entries that wake a collecting logging thread  // lines written before a flush while the queue keeps filling

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

uint32_t clampedOr(uint32_t value, uint32_t low, uint32_t high, uint32_t otherwise) {
  return value >= low && value <= high ? value : otherwise;
}

}  // namespace

GenericLogger::GenericLogger(const char* directory, const char* fileName, uint32_t logLevel,
                             uint32_t maxSizeInMegs, bool append, uint32_t maxFiles, LoggerOptions loggerOptions)
    : currentLogLevel(logLevel),
      appendMode(append),
      maxLogFileSizeInMegs(clampedOr(maxSizeInMegs, 10, 50, 10)),
      maxNumberOfLogFiles(clampedOr(maxFiles, 5, 25, 5)),
      options(std::move(loggerOptions)) {
  resolveDirectory(directory, fileName);
}

GenericLogger::~GenericLogger() {
  stopLogging();
  // A start that failed half-way may have left the thread running.
  waitForLoggingThreadEnd();
  for (OsSemaphoreHandle* semaphore :
       {&currentLogLevelSemaphore, &maxLogFileSizeInMegsSemaphore, &logToStdioSemaphore, &threadNameTableSemaphore,
        &maxNumberOfLogFilesSemaphore, &directoryPathSemaphore, &loggingStartedSemaphore, &loggingStoppedSemaphore}) {
    osBinarySemaphoreDestroy(*semaphore);
    *semaphore = nullptr;
  }
  if (logFile != nullptr) std::fclose(logFile);
}

GenericLogger::MessageCounts GenericLogger::messageCounts() const {
  MessageCounts counts{};
  counts.requests = loggedMessageRequests.load();
  counts.rawTexts = loggedRawTexts.load();
  counts.logged = loggedMessages.load();
  counts.lost = lostMessages.load();
  counts.replaced = replacedMessages.load();
  counts.truncated = truncatedMessages.load();
  for (uint32_t level = 0; level < kLogLevelCount; ++level) counts.perLevel[level] = levelCounts[level].load();
  return counts;
}

// ---- Entries

// Fills the text, formatted, or copied when `plain` is given, and gives its length.
size_t GenericLogger::fillText(LogBuffer* record, uint32_t freeRecords, const char* format, va_list arguments,
                               const char* plain) {
  if (freeRecords <= kLowBufferReserve) {
    replacedMessages.fetch_add(1, std::memory_order_relaxed);
    std::memcpy(record->text, kBuffersLowText, sizeof kBuffersLowText);
    return sizeof kBuffersLowText - 1;
  }
  int length = 0;
  if (plain != nullptr) {
    const size_t plainLength = strnlen(plain, kLongestMessage + 1);
    std::memcpy(record->text, plain, std::min<size_t>(plainLength, kLongestMessage));
    record->text[std::min<size_t>(plainLength, kLongestMessage)] = '\0';
    length = static_cast<int>(plainLength);
  } else {
    length = std::vsnprintf(record->text, kLongestMessage + 1, format, arguments);
  }
  if (length < 0) {
    record->text[0] = '\0';
    return 0;
  }
  if (length > kLongestMessage) {
    std::memcpy(record->text + kTruncationPoint, kTooLongMarker, sizeof kTooLongMarker);
    truncatedMessages.fetch_add(1, std::memory_order_relaxed);
    return kTruncationPoint + sizeof kTooLongMarker - 1;
  }
  return static_cast<size_t>(length);
}

void GenericLogger::enqueue(LogBuffer* record) {
  bool wakeNow = false;
  {
    std::lock_guard<std::mutex> guard(queueLock);
    record->next = nullptr;
    if (writeQueue.tail != nullptr) {
      writeQueue.tail->next = record;
    } else {
      writeQueue.head = record;
    }
    writeQueue.tail = record;
    ++writeQueue.count;
    // While the logging thread collects (see logThread), a long queue
    // still wakes it, long before the pool runs short.
    if (writeQueue.count == kEarlyWakeCount) wakeNow = true;
  }
  // One wake-up per drain is enough: the logging thread clears wakeUpSent
  // together with resetting the event, under the queue's lock, when it finds
  // the queue empty; an entry queued after that sees the flag clear and sets
  // the event again, an entry queued before it is found by that look.
  if (wakeNow || (!wakeUpSent.load(std::memory_order_relaxed) && !wakeUpSent.exchange(true))) messageEvent.set();
}

void GenericLogger::logMsg(uint32_t level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  logEntry(level, format, arguments, nullptr);
  va_end(arguments);
}

void GenericLogger::logText(uint32_t level, const char* text) {
  va_list none{};
  logEntry(level, nullptr, none, text != nullptr ? text : "");
}

void GenericLogger::logEntry(uint32_t level, const char* format, va_list arguments, const char* plain) {
  if (!loggingStarted.load()) return;
  if (level < kLogLevelCount) levelCounts[level].fetch_add(1, std::memory_order_relaxed);
  if (level > currentLogLevel.load(std::memory_order_relaxed)) return;

  const uint32_t start = osTickCount();
  loggedMessageRequests.fetch_add(1, std::memory_order_relaxed);
  uint32_t freeRecords = 0;
  LogBuffer* record = pool.get(&freeRecords);
  if (record == nullptr) {
    lostMessages.fetch_add(1, std::memory_order_relaxed);
    logMsgDelays.update(start, osTickCount());
    messageEvent.set();
    return;
  }
  record->tickCount = start;
  record->callerThreadId = osThreadSelf(nullptr);

  const size_t length = fillText(record, freeRecords, format, arguments, plain);
  if (length == 0 || record->text[length - 1] != '\n') {
    record->text[length] = '\n';
    record->text[length + 1] = '\0';
  }
  const char* levelName = logLevelName(level);
  std::memcpy(record->levelName, levelName, std::strlen(levelName) + 1);
  // The time of the call; its text is written by the logging thread, or now
  // for a FATAL entry, which goes to the fatal-error file at once.
  record->timeOfEntry = osTimeNow();
  if (level == LOG_LEVEL_FATAL) {
    osLocalTimeStringAt(record->timeOfEntry, record->timeStamp, sizeof record->timeStamp);
    record->timeOfEntry = OsTime{};
  }

  if (level == LOG_LEVEL_FATAL) writeBufferToFatalErrorFile(record);
  enqueue(record);
  logMsgDelays.update(start, osTickCount());
}

void GenericLogger::logRawText(const char* format, ...) {
  if (!loggingStarted.load()) return;
  const uint32_t start = osTickCount();
  loggedRawTexts.fetch_add(1, std::memory_order_relaxed);
  uint32_t freeRecords = 0;
  LogBuffer* record = pool.get(&freeRecords);
  if (record == nullptr) {
    lostMessages.fetch_add(1, std::memory_order_relaxed);
    logRawTextDelays.update(start, osTickCount());
    return;
  }
  record->tickCount = start;
  record->callerThreadId = osThreadSelf(nullptr);
  va_list arguments;
  va_start(arguments, format);
  fillText(record, freeRecords, format, arguments, nullptr);
  va_end(arguments);
  record->timeStamp[0] = '\0';
  record->levelName[0] = '\0';
  enqueue(record);
  logRawTextDelays.update(start, osTickCount());
}

// ---- The logging thread

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

// ---- Start and stop

bool GenericLogger::createDynamicConfigSemaphores() {
  struct Entry {
    OsSemaphoreHandle* semaphore;
    const char* failure;  // null: only counted, logging has not started yet
  };
  const Entry entries[] = {
      {&currentLogLevelSemaphore,
       "createDynamicConfigSemaphores() : osBinarySemaphoreCreate: currentLogLevelSemaphore failed\n"},
      {&maxLogFileSizeInMegsSemaphore,
       "createDynamicConfigSemaphores() : osBinarySemaphoreCreate: maxLogFileSizeInMegsSemaphore failed\n"},
      {&logToStdioSemaphore, "createDynamicConfigSemaphores() : osBinarySemaphoreCreate: logToStdioSemaphore failed\n"},
      {&threadNameTableSemaphore,
       "createDynamicConfigSemaphores() : osBinarySemaphoreCreate: threadNameTableSemaphore failed\n"},
      {&maxNumberOfLogFilesSemaphore, nullptr},
      {&directoryPathSemaphore, nullptr},
  };
  for (const Entry& entry : entries) {
    if (*entry.semaphore != nullptr) continue;  // kept from an earlier start
    if (!osBinarySemaphoreCreate(entry.semaphore, 1)) {  // the OS layer prints the failure
      count(SEMAPHORE_CREATE);
      dynamicConfigSemaphoresCreated = false;
      if (entry.failure != nullptr) logFatalError("%s", entry.failure);
      return false;
    }
  }
  dynamicConfigSemaphoresCreated = true;
  return true;
}

void GenericLogger::destroyDynamicConfigSemaphores() {
  // The accessors stop using the semaphores here. The semaphores themselves
  // stay until the logger is destroyed: a thread that is inside an accessor
  // right now may still hold one, and must not find it gone.
  dynamicConfigSemaphoresCreated = false;
}

bool GenericLogger::startLogging() {
  if (loggingStarted.load()) return false;
  if (!initLogFiles()) {
    logFatalError("startLogging() : Couldn't initialise the Log Files (construction flag enabled)\n");
    return false;
  }
  if (!createDynamicConfigSemaphores()) {
    logFatalError("startLogging() : createDynamicConfigSemaphores failed\n");
    return false;
  }
  messageEvent.reset();
  if (loggingStartedSemaphore == nullptr && !osBinarySemaphoreCreate(&loggingStartedSemaphore, 0)) {
    count(SEMAPHORE_CREATE);
    logFatalError("startLogging() : osBinarySemaphoreCreate: loggingStartedSemaphore failed\n");
    return false;
  }
  waitForLoggingThreadEnd();  // a thread left over from a start that failed later on
  stopRequested = false;
  finishWhenEmpty = false;
  stopNow = false;
  if (!osThreadCreate(logThreadEntry, this, OS_THREAD_PRIORITY_LOWEST, &logThreadId, &logThreadHandle)) {
    logFatalError("startLogging() : osThreadCreate failed\n");
    return false;
  }
  if (!osBinarySemaphoreTake(loggingStartedSemaphore, options.timings.startWaitMs)) {
    count(SEMAPHORE_TAKE);
    logFatalError("startLogging() : osBinarySemaphoreTake: loggingStartedSemaphore failed\n");
    return false;
  }

  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (logFile == nullptr) logFile = std::fopen(currentLogFilePath, "a+");
  if (logFile == nullptr) {
    count(FILE_OPEN);
    logFatalError("startLogging() : Couldn't open Log File (%s)\n", currentLogFilePath);
    return false;
  }
  uint32_t size = 0;
  if (!osGetFileSize(currentLogFilePath, &size)) {
    count(GET_FILE_SIZE);
    logFatalError("startLogging() : osGetFileSize: Couldn't get size of Log File (%s)\n", currentLogFilePath);
    size = 0;
  }
  if (size == 0) {
    char zone[OS_TIME_ZONE_STRING_SIZE];
    osTimeZoneString(zone, sizeof zone);
    char line[64];
    std::snprintf(line, sizeof line, "Time Zone = %s\n", zone);
    writeTextToLogFile(line);
  }
  currentLogFileSize = size;
  writeTextToLogFile("************** Logging Started **************\n");
  loggingStarted = true;
  return true;
}

void GenericLogger::waitForLoggingThreadEnd() {
  if (logThreadHandle == nullptr) return;
  if (!osThreadWait(logThreadHandle, 0)) {
    stopRequested = true;
    finishWhenEmpty = true;
    stopNow = true;
    messageEvent.set();
    // The thread ends at its next empty queue; only a write that never
    // returns could hold it, and the thread uses this object until it ends.
    osThreadWait(logThreadHandle, OS_WAIT_FOREVER);
  }
  osThreadClose(logThreadHandle);
  logThreadHandle = nullptr;
}

void GenericLogger::stopLogging() {
  if (!loggingStarted.load()) return;
  stopRequested = true;
  writeTextToLogFile("stopLogging: called ...\n");

  // Always queued, so that it also wakes the logging thread.
  uint32_t level = currentLogLevel.load();
  const bool raised = level < LOG_LEVEL_INFO && currentLogLevel.compare_exchange_strong(level, LOG_LEVEL_INFO);
  logMsg(LOG_LEVEL_INFO, "stopLogging()\n");
  if (raised) {
    uint32_t expected = LOG_LEVEL_INFO;
    currentLogLevel.compare_exchange_strong(expected, level);
  }
  // Only now may the logging thread end at an empty queue: had it gone by
  // stopRequested alone, an early wake-up could end it before the entry above.
  finishWhenEmpty = true;
  messageEvent.set();
  loggingStarted = false;

  if (!osBinarySemaphoreTake(loggingStoppedSemaphore, options.timings.stopWaitMs)) {
    count(SEMAPHORE_TAKE);
    writeTextToLogFile("stopLogging() : osBinarySemaphoreTake: loggingStoppedSemaphore failed\n");
  }
  // Nothing below may be released while the logging thread can still use it.
  waitForLoggingThreadEnd();
  stopRequested = false;
  destroyDynamicConfigSemaphores();

  if (!osBinarySemaphoreDestroy(loggingStartedSemaphore)) {
    count(SEMAPHORE_DESTROY);
    writeTextToLogFile("stopLogging() : osBinarySemaphoreDestroy: loggingStartedSemaphore failed\n");
  }
  loggingStartedSemaphore = nullptr;
  if (!osBinarySemaphoreDestroy(loggingStoppedSemaphore)) {
    count(SEMAPHORE_DESTROY);
    writeTextToLogFile("stopLogging() : osBinarySemaphoreDestroy: loggingStoppedSemaphore failed\n");
  }
  loggingStoppedSemaphore = nullptr;

  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  writeUsageReport(logFile);
  writeTextToLogFile("*************** Logging Ended ***************\n");
  if (logFile != nullptr && std::fclose(logFile) != 0) {
    logFile = nullptr;
    logFatalError("stopLogging() : Couldn't close Log File (%s)\n", currentLogFilePath);
    count(FILE_CLOSE);
  }
  logFile = nullptr;
}
