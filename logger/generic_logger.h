// GenericLogger: the library's buffered logger.
//
// Any thread hands it a level and a printf-style message. logMsg() formats
// the text into a record of the logger's own fixed pool (no allocation per
// entry), stamps it and appends it to the write queue; one logging thread
// takes the records off the queue and writes one line each:
//
//   2026-12-08 20:41:57.123 0   \tINFO \tthe text\n
//   (local time, queueing delay in ms padded to four, level name, text)
//
// into a numbered, rotating set of files in one directory (B_1.log is the
// current one, older ones carry higher numbers up to the maximum), beside a
// fatal-error file that gets every FATAL entry, synchronously, and every
// failure the logger meets itself. Level, file size, number of files, echo
// on standard output, directory and thread names can change while it runs;
// at the end stopLogging() writes a usage report into the log. The logging
// thread flushes the file whenever it has emptied the queue (and every 256
// lines meanwhile); a line counts as logged once it is in the file.
//
// The logger never throws and never reports failure to the caller: its
// failures are counted and written to the fatal-error file.
//
// Threads: logMsg, logRawText, logFatalError and the settings accessors may
// be called from any thread at any time while the logger exists;
// startLogging, stopLogging and the destructor from one controlling thread.
// The object is several megabytes large (the pool); create it on the heap.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "logger/delay_metrics.h"
#include "logger/id_string_pair.h"
#include "logger/locked_pool.h"
#include "logger/log_buffer.h"
#include "logger/log_level.h"
#include "logger/logger_options.h"
#include "platform/event.h"
#include "platform/os/os_file.h"
#include "platform/os/os_semaphore.h"
#include "platform/os/os_thread.h"

class GenericLogger {
 public:
  static constexpr size_t kPoolSize = 1500;
  // A directory text as given: 256 characters and the terminator. Its
  // absolute native form (below the data root) may be longer and is kept in
  // kNativePathSize bytes.
  static constexpr size_t kPathSize = 257;
  static constexpr size_t kNativePathSize = OS_FULL_PATH_SIZE;
  static constexpr size_t kFileNameSize = 65;   // 64 characters and the terminator
  static constexpr size_t kFilePathSize = kNativePathSize + kFileNameSize + 32;

  // The failure counters of the usage report, in its order.
  enum ErrorCounter {
    FILE_OPEN,
    FILE_CLOSE,
    FILE_FLUSH,
    WRITE_BUFFER,
    CREATE_EVENT,
    SET_EVENT,
    RESET_EVENT,
    WAIT,
    SEMAPHORE_CREATE,
    SEMAPHORE_GIVE,
    SEMAPHORE_TAKE,
    SEMAPHORE_DESTROY,
    CREATE_FILE,
    CREATE_DIRECTORY,
    MOVE_FILE,
    MOVE_FILE_MULTI_PROCESS,  // a mode this system never uses
    DELETE_FILE,
    GET_FILE_SIZE,
    kErrorCounterCount
  };

  // The message counters of the usage report.
  struct MessageCounts {
    uint32_t requests;
    uint32_t rawTexts;
    uint32_t logged;
    uint32_t lost;
    uint32_t replaced;
    uint32_t truncated;
    uint32_t perLevel[kLogLevelCount];
  };

  using ErrorReportHandler = void (*)(const char* line);

  // directory: the log directory (a path text such as "D:\Corvane\Logs\Pellor"
  // or a native path; null or empty: "Logs" in the working directory).
  // fileName: the current file's name, whose part before the first "." names
  // the file set (null or empty: fixed names in the default directory).
  // The size outside 10 to 50 MiB becomes 10, the count outside 5 to 25 becomes 5.
  GenericLogger(const char* logDirectory, const char* logFileName, uint32_t logLevel, uint32_t maxLogFileSizeInMegs,
                bool appendMode, uint32_t maxNumberOfLogFiles, LoggerOptions options = {});
  ~GenericLogger();
  GenericLogger(const GenericLogger&) = delete;
  GenericLogger& operator=(const GenericLogger&) = delete;

  // ---- Core (logging and its thread)
  bool startLogging();
  void stopLogging();
  bool isLoggingStarted() const { return loggingStarted.load(); }
  __attribute__((format(printf, 3, 4))) void logMsg(uint32_t level, const char* format, ...);
  // logMsg with the text taken as it stands ("%" included), without formatting.
  void logText(uint32_t level, const char* text);
  // Written exactly as formatted: no time, level or added line end, no level filter.
  __attribute__((format(printf, 2, 3))) void logRawText(const char* format, ...);

  // ---- File set
  bool initLogFiles();
  void logFileName_Appended();
  // Reports one failure of the logger itself to the fatal-error file (at most
  // 1000 over the logger's life).
  __attribute__((format(printf, 2, 3))) void logFatalError(const char* format, ...);
  // Moves the file set to the given directory at once (the registry settings
  // do this once when they take over): the names are rebuilt there and the
  // current file is made.
  void adoptLogDirectory(const char* directory);

  // ---- Settings (each setter returns true when the request was refused)
  bool setCurrentLogLevel(uint32_t level);
  uint32_t getCurrentLogLevel();
  bool setMaxLogFileSizeInMegs(uint32_t megabytes);
  uint32_t getMaxLogFileSizeInBytes();
  bool setMaxNumberOfLogFiles(uint32_t count);
  uint32_t getMaxNumberOfLogFiles();
  void setLogToStdio(bool on);
  bool isLogToStdioOn();
  // directory: in/out, a buffer of at least kPathSize bytes. The limit of 256
  // characters applies to the text as given; the buffer gets the absolute
  // form when that fits in it, and keeps the text as given otherwise.
  bool setDirectoryPath(char* directory);
  const char* getDirectoryPath();
  bool addThreadNamePair(uint32_t threadId, const char* name);
  bool getThreadName(uint32_t threadId, const char*& name);
  bool getFreeSpace(const char* path, double& freeMegabytes);
  int IsValidPathFormat(const char* path);
  // path: in/out, as for setDirectoryPath.
  bool IsPathValid(char* path);
  void setErrorReportHandler(ErrorReportHandler handler) { errorReportHandler.store(handler); }

  // ---- Reports
  void writeUsageReport(FILE* stream);
  void writeSettings(FILE* stream);

  // ---- For reports and tests
  const char* getLogDirectory() const { return logDirectory; }
  const char* getCurrentLogFilePath() const { return currentLogFilePath; }
  const char* getFatalErrorFilePath() const { return fatalErrorFilePath; }
  uint32_t errorCount(ErrorCounter counter) const { return errorCounters[counter].load(); }
  MessageCounts messageCounts() const;
  LockedPool<LogBuffer, kPoolSize>::Statistics poolStatistics() const { return pool.statistics(); }
  uint32_t internalFatalErrors() const { return internalFatalErrorCount.load(); }
  DelayMetrics logMsgDelays;        // calling threads of logMsg
  DelayMetrics logMsgToFileDelays;  // the logging thread, per written record
  DelayMetrics logRawTextDelays;    // calling threads of logRawText

 private:
  friend struct GenericLoggerTestAccess;  // tests reach the pool and the files' lock

  struct WriteQueue {
    LogBuffer* head = nullptr;
    LogBuffer* tail = nullptr;
    uint32_t count = 0;
  };

  // core
  static uint32_t logThreadEntry(void* logger);
  void logThread();
  bool drainQueue(bool stayAwake, bool& wroteAny);
  LogBuffer* takeQueue(bool stayAwake);
  bool writeBufferToLogFile(LogBuffer* record);
  void writeTextToLogFile(const char* text);
  void closeLogFile();
  bool createDynamicConfigSemaphores();
  void destroyDynamicConfigSemaphores();
  size_t fillText(LogBuffer* record, uint32_t freeRecords, const char* format, va_list arguments, const char* plain);
  void logEntry(uint32_t level, const char* format, va_list arguments, const char* plain);
  void flushWritten(uint32_t& lines);
  void writeLine(FILE* stream, const char* timeStamp, const char* levelName, const char* text, int* written);
  void enqueue(LogBuffer* record);
  void waitForLoggingThreadEnd();
  void count(ErrorCounter counter) { errorCounters[counter].fetch_add(1, std::memory_order_relaxed); }

  // file set
  void resolveDirectory(const char* directory, const char* fileName);
  void buildFilePaths();
  bool numberedFilePath(uint32_t number, char* path) const;
  bool updateCircularBufferFiles();
  bool rotate();
  void deleteSurplusFiles(uint32_t maximum);
  void writeBufferToFatalErrorFile(const LogBuffer* record);
  void replaceOversizedFatalErrorFile(const LogBuffer* record);
  void fallBackToDefaultDirectory(const char* message);
  bool directoryChanged();
  bool directorySettingTouched();
  void copyDirectoryPath(char* out);
  void storeDirectoryPath(const char* text);
  void writeTimeZoneLine(FILE* stream, const char* timeStamp, const char* levelName);

  // settings
  // The handle is passed by reference and read only once the semaphores are
  // known to exist: settings may be read on another thread before
  // startLogging creates them.
  bool takeSetting(const OsSemaphoreHandle& semaphore, const char* takeText);
  void giveSetting(const OsSemaphoreHandle& semaphore, bool taken, const char* giveText);
  bool diskRuleAllows(uint32_t files, uint32_t megabytes, uint32_t current, uint32_t requested, const char* failText,
                      const char* thresholdText);

  // ---- State, as the usage report and the settings dump show it
  // The queue, its lock and the wake-up flag share one cache line of their
  // own, which is all a caller and the logging thread both touch when an
  // entry changes hands.
  // The lock guards writeQueue only; it lives as long as the logger, so that
  // a caller that passed the started check just before a stop still finds it.
  alignas(64) std::mutex queueLock;
  WriteQueue writeQueue;
  std::atomic<bool> wakeUpSent{false};  // the event was set since the logging thread last found the queue empty
  char logDirectory[kNativePathSize] = {};
  char logFileName[kFileNameSize] = {};
  LockedPool<LogBuffer, kPoolSize> pool;
  // Read by every call and seldom written: a cache line of their own, so that
  // what the logging thread writes for every line never takes it away from
  // the callers.
  alignas(64) std::atomic<bool> loggingStarted{false};
  std::atomic<uint32_t> currentLogLevel;
  alignas(64) std::atomic<bool> stopRequested{false};
  // Set when stopLogging has waited long enough: the logging thread ends at
  // its next empty queue even while a caller still fills a record.
  std::atomic<bool> stopNow{false};
  // Set by the stop once its own entry is queued: the logging thread ends at
  // the next empty queue.
  std::atomic<bool> finishWhenEmpty{false};
  std::atomic<bool> dynamicConfigSemaphoresCreated{false};
  const bool appendMode;
  FILE* logFile = nullptr;
  uint32_t currentLogFileSize = 0;
  std::atomic<uint32_t> maxLogFileSizeInMegs;
  std::atomic<bool> logToStdio{false};
  const bool logCallerThreadId = false;
  const bool logThreadNames = false;
  IdStringPairTable threadNames;
  std::atomic<ErrorReportHandler> errorReportHandler{nullptr};
  OsThreadId logThreadId = 0;
  OsThreadHandle logThreadHandle = nullptr;

  char currentLogFilePath[kFilePathSize] = {};
  char numberedFilePrefix[kNativePathSize + kFileNameSize + 1] = {};  // directory, separator, base name, "_"
  char fatalErrorFilePath[kFilePathSize] = {};
  char oldFatalErrorFilePath[kFilePathSize] = {};

  OsSemaphoreHandle currentLogLevelSemaphore = nullptr;
  OsSemaphoreHandle maxLogFileSizeInMegsSemaphore = nullptr;
  OsSemaphoreHandle logToStdioSemaphore = nullptr;
  OsSemaphoreHandle threadNameTableSemaphore = nullptr;
  OsSemaphoreHandle maxNumberOfLogFilesSemaphore = nullptr;
  OsSemaphoreHandle directoryPathSemaphore = nullptr;
  OsSemaphoreHandle loggingStartedSemaphore = nullptr;
  OsSemaphoreHandle loggingStoppedSemaphore = nullptr;

  alignas(64) zem::Event messageEvent{zem::Event::Reset::Auto};
  // Guards the files: the current log stream, rotation, the directory the
  // set lives in, and the fatal-error file. Taken again by the same thread
  // (a rotation writes the time-zone line; a failure inside reports itself).
  std::recursive_mutex fileSetLock;

  std::atomic<uint32_t> internalFatalErrorCount{0};
  uint32_t rotationCheckCounter = 0;
  uint32_t previousMaxNumberOfLogFiles = 0;
  std::atomic<uint32_t> maxNumberOfLogFiles;
  char directoryPath[kNativePathSize] = {};
  // Counts the stores into directoryPath, so that the check after every line
  // compares the directories only when the setting has changed since.
  std::atomic<uint32_t> directoryPathStores{0};
  uint32_t directoryPathStoresSeen = 0;  // by the file set, under fileSetLock
  bool directoryMayDiffer = false;       // until a comparison finds the two equal

  // Counted by the calling threads; kept apart from what the logging thread
  // counts, so that the two do not pull the same cache line to and fro.
  alignas(64) std::atomic<uint32_t> loggedMessageRequests{0};
  std::atomic<uint32_t> lostMessages{0};
  std::atomic<uint32_t> replacedMessages{0};
  std::atomic<uint32_t> truncatedMessages{0};
  std::atomic<uint32_t> levelCounts[kLogLevelCount] = {};
  std::atomic<uint32_t> loggedRawTexts{0};
  alignas(64) std::atomic<uint32_t> loggedMessages{0};
  std::atomic<uint32_t> errorCounters[kErrorCounterCount] = {};

  const LoggerOptions options;
};
