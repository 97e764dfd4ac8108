// The logger's file set: where it writes, the numbered rotating log files,
// the fatal-error file with its older generation, and the logger's own
// failure reports.
#include <cstdio>
#include <cstring>

#include "logger/generic_logger.h"
#include "platform/os/os.h"
#include "platform/paths.h"

namespace {

constexpr char kDefaultDirectory[] = "D:\\Corvane\\Logs\\Pellor";
constexpr char kNoDirectory[] = "Logs";
constexpr char kDefaultFileName[] = "Current.log";
constexpr char kExtension[] = ".log";
constexpr uint32_t kFatalErrorFileLimit = 52428800;
constexpr uint32_t kMaxFatalErrors = 1000;
constexpr uint32_t kFullCheckInterval = 100;
constexpr uint32_t kHighestFileNumber = 25;

// The default directory on this machine (below the data root).
void defaultDirectory(char* out) {
  std::snprintf(out, GenericLogger::kNativePathSize, "%s", zem::nativePath(kDefaultDirectory).c_str());
}

// The absolute form with a trailing separator, for comparing directories.
void comparableDirectory(const char* directory, char* out) {
  char full[OS_FULL_PATH_SIZE];
  const char* source = osFullPathName(directory, full) ? full : directory;
  const size_t length = std::strlen(source);
  const char separator[] = {zem::pathSeparator(), '\0'};
  std::snprintf(out, OS_FULL_PATH_SIZE + 2, "%s%s", source,
                length > 0 && source[length - 1] == separator[0] ? "" : separator);
}

// Re-entry of logFatalError on the same thread (through its own fall-back or
// size check) is answered with its own line only.
thread_local int fatalErrorDepth = 0;

}  // namespace

// ---- Names

void GenericLogger::resolveDirectory(const char* directory, const char* fileName) {
  // The length limit is that of the text as given; its absolute native form
  // may be longer.
  char full[OS_FULL_PATH_SIZE];
  if (directory != nullptr && directory[0] != '\0' && strnlen(directory, kPathSize) < kPathSize &&
      osFullPathName(directory, full)) {
    std::snprintf(logDirectory, sizeof logDirectory, "%s", full);
  } else {
    std::snprintf(logDirectory, sizeof logDirectory, "%s", kNoDirectory);
  }
  std::memcpy(directoryPath, logDirectory, sizeof directoryPath);
  // The registry fall-back and the drive-letter rule of the system's own
  // platform have no counterpart here; a directory that cannot be made is
  // met again when logging starts.
  osDirectoryCreateTree(logDirectory);

  if (fileName != nullptr && fileName[0] != '\0' && std::strlen(fileName) < kFileNameSize) {
    std::snprintf(logFileName, sizeof logFileName, "%s", fileName);
    logFileName_Appended();
    return;
  }
  // Fixed names in the default directory, whatever directory was chosen.
  std::snprintf(logFileName, sizeof logFileName, "%s", kDefaultFileName);
  char fallback[kNativePathSize];
  defaultDirectory(fallback);
  const char separator = zem::pathSeparator();
  std::snprintf(currentLogFilePath, sizeof currentLogFilePath, "%s%c%s", fallback, separator, "Current.log");
  std::snprintf(numberedFilePrefix, sizeof numberedFilePrefix, "%s%c%s", fallback, separator, "Previous.log");
  std::snprintf(fatalErrorFilePath, sizeof fatalErrorFilePath, "%s%c%s", fallback, separator, "FatalError.log");
  std::snprintf(oldFatalErrorFilePath, sizeof oldFatalErrorFilePath, "%s%cold_%s", fallback, separator,
                "FatalError.log");
}

void GenericLogger::buildFilePaths() {
  char base[kFileNameSize];
  std::snprintf(base, sizeof base, "%s", logFileName);
  if (char* dot = std::strchr(base, '.')) *dot = '\0';
  const char separator = zem::pathSeparator();
  std::snprintf(currentLogFilePath, sizeof currentLogFilePath, "%s%c%s_%d%s", logDirectory, separator, base, 1,
                kExtension);
  std::snprintf(numberedFilePrefix, sizeof numberedFilePrefix, "%s%c%s_", logDirectory, separator, base);
  std::snprintf(fatalErrorFilePath, sizeof fatalErrorFilePath, "%s%c%s_FatalError%s", logDirectory, separator, base,
                kExtension);
  std::snprintf(oldFatalErrorFilePath, sizeof oldFatalErrorFilePath, "%s%cold_%s_FatalError_%s", logDirectory,
                separator, base, kExtension);
}

bool GenericLogger::numberedFilePath(uint32_t number, char* path) const {
  return std::snprintf(path, kFilePathSize, "%s%u%s", numberedFilePrefix, number, kExtension) < int(kFilePathSize);
}

void GenericLogger::logFileName_Appended() {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  buildFilePaths();
  double freeMegabytes = 0;
  if (!getFreeSpace(logDirectory, freeMegabytes)) {
    logFatalError("logFileName_Appended() : Invalid LogPath - getFreeSpace failed.\n");
  } else if (static_cast<double>((maxNumberOfLogFiles.load() + 1) * maxLogFileSizeInMegs.load()) >= freeMegabytes) {
    logFatalError(
        "logFileName_Appended() : Available disk space is nearing the upper threshold. Kindly take appropriate "
        "action.\n");
  }
}

void GenericLogger::adoptLogDirectory(const char* directory) {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  std::snprintf(logDirectory, sizeof logDirectory, "%s", directory);
  logFileName_Appended();
  initLogFiles();
}

// ---- The directory setting, shared with setDirectoryPath

void GenericLogger::copyDirectoryPath(char* out) {
  const bool taken = takeSetting(directoryPathSemaphore,
                                 "getDirectoryPath() : Updating of LogPath failed - SemaphoreTake failed\n ");
  std::memcpy(out, directoryPath, sizeof directoryPath);
  giveSetting(directoryPathSemaphore, taken,
              "getDirectoryPath() : Updating of LogPath failed - SemaphoreGive failed\n ");
}

// The same text again is not written: getDirectoryPath hands out the buffer
// itself, and the settings watcher stores the path in force on every pass.
void GenericLogger::storeDirectoryPath(const char* text) {
  const bool taken = takeSetting(directoryPathSemaphore,
                                 "setDirectoryPath() : Updating of LogPath failed - SemaphoreTake failed\n");
  if (std::strncmp(directoryPath, text, sizeof directoryPath - 1) != 0) {
    std::snprintf(directoryPath, sizeof directoryPath, "%s", text);
    directoryPathStores.fetch_add(1);
  }
  giveSetting(directoryPathSemaphore, taken,
              "setDirectoryPath() : Updating of LogPath failed - SemaphoreGive failed\n");
}

bool GenericLogger::directorySettingTouched() {
  const uint32_t stores = directoryPathStores.load();
  if (stores != directoryPathStoresSeen) {
    directoryPathStoresSeen = stores;
    directoryMayDiffer = true;
  }
  return directoryMayDiffer;
}

bool GenericLogger::directoryChanged() {
  char configured[kNativePathSize];
  copyDirectoryPath(configured);
  char wanted[OS_FULL_PATH_SIZE + 2];
  char current[OS_FULL_PATH_SIZE + 2];
  comparableDirectory(configured, wanted);
  comparableDirectory(logDirectory, current);
  // File names are case-sensitive here, so two spellings are two directories.
  directoryMayDiffer = std::strcmp(wanted, current) != 0;
  return directoryMayDiffer;
}

void GenericLogger::fallBackToDefaultDirectory(const char* message) {
  count(CREATE_DIRECTORY);
  char failed[kNativePathSize];
  std::memcpy(failed, logDirectory, sizeof failed);
  storeDirectoryPath(failed);
  defaultDirectory(logDirectory);
  logFileName_Appended();
  logMsg(LOG_LEVEL_INFO, message, failed);
  storeDirectoryPath(logDirectory);
}

// ---- Preparing and rotating the log files (under fileSetLock)

bool GenericLogger::initLogFiles() {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (!osFileExists(logDirectory) && !osDirectoryCreateTree(logDirectory)) {
    fallBackToDefaultDirectory(
        "initLogFiles(bool) : Couldn't create logfile dir (%s) so logs are moved to  Default directory\n");
  }
  if (osFileExists(currentLogFilePath)) return true;
  if (!osFileCreate(currentLogFilePath)) {
    count(CREATE_FILE);
    logFatalError("initLogFiles(bool) : Couldn't create logfile (%s)\n", currentLogFilePath);
    return false;
  }
  return true;
}

bool GenericLogger::updateCircularBufferFiles() {
  ++rotationCheckCounter;
  // Between full checks only a changed directory setting counts.
  if (rotationCheckCounter != 1 && rotationCheckCounter < kFullCheckInterval &&
      !(directorySettingTouched() && directoryChanged())) {
    return true;
  }

  rotationCheckCounter = 1;
  const uint32_t limit = getMaxLogFileSizeInBytes();
  const uint32_t size = currentLogFileSize;
  const uint32_t maximum = getMaxNumberOfLogFiles();
  if (previousMaxNumberOfLogFiles == 0) {
    // The first check only notes the highest number there can be, so that
    // the next one clears what an earlier run with more files left behind.
    previousMaxNumberOfLogFiles = kHighestFileNumber;
  } else {
    if (previousMaxNumberOfLogFiles > maximum && maximum < kHighestFileNumber) deleteSurplusFiles(maximum);
    previousMaxNumberOfLogFiles = maximum;
  }
  if (size < limit && !directoryChanged()) return true;
  return rotate();
}

void GenericLogger::deleteSurplusFiles(uint32_t maximum) {
  char path[kFilePathSize];
  for (uint32_t number = maximum + 1; number <= kHighestFileNumber; ++number) {
    numberedFilePath(number, path);
    if (!osFileExists(path)) break;
    if (!osFileDelete(path)) {
      count(DELETE_FILE);
      logFatalError("updateCircularBufferFiles(bool) : Couldn't delete (%s)\n", path);
    }
  }
}

bool GenericLogger::rotate() {
  currentLogFileSize = 0;
  if (logFile != nullptr) {
    const bool closed = std::fclose(logFile) == 0;
    logFile = nullptr;
    if (!closed) {
      logFatalError("updateCircularBufferFiles(bool) : Couldn't close Log File (%s)\n", currentLogFilePath);
      count(FILE_CLOSE);
      return false;
    }
  }
  if (directoryChanged()) {
    char previous[sizeof logDirectory];
    std::memcpy(previous, logDirectory, sizeof previous);
    copyDirectoryPath(logDirectory);
    logFileName_Appended();
    if (!initLogFiles()) {
      // No file can be made there: the set stays where it was, as it was,
      // and so does the setting, rather than losing every line from here on.
      std::memcpy(logDirectory, previous, sizeof logDirectory);
      storeDirectoryPath(previous);
      logFileName_Appended();
      logMsg(LOG_LEVEL_INFO, "IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value\n ");
      uint32_t size = 0;
      if (osGetFileSize(currentLogFilePath, &size)) currentLogFileSize = size;
      logFile = std::fopen(currentLogFilePath, "a+");
      if (logFile != nullptr) return true;
      count(FILE_OPEN);
      logFatalError("updateCircularBufferFiles(bool) : Couldn't open new Log File (%s)\n", currentLogFilePath);
      return false;
    }
  }

  const uint32_t maximum = getMaxNumberOfLogFiles();
  char from[kFilePathSize];
  char to[kFilePathSize];
  numberedFilePath(maximum, from);
  if (osFileExists(from) && !osFileDelete(from)) {
    count(DELETE_FILE);
    logFatalError("updateCircularBufferFiles(bool) : Could not delete (%s)\n", from);
    return false;
  }
  uint32_t highest = maximum;
  while (highest > 1) {
    numberedFilePath(highest, from);
    if (osFileExists(from)) break;
    --highest;
  }
  for (uint32_t number = highest; number >= 2; --number) {
    numberedFilePath(number + 1, to);
    if (osFileExists(to)) continue;
    numberedFilePath(number, from);
    if (!osFileMove(from, to)) {
      count(MOVE_FILE);
      logFatalError("updateCircularBufferFiles(bool) : Couldn't move (%s) to (%s)\n", from, to);
    }
  }

  uint32_t size = 0;
  if (!osGetFileSize(currentLogFilePath, &size)) {
    count(GET_FILE_SIZE);
    logMsg(LOG_LEVEL_INFO, "updateCircularBufferFiles(bool) : Could not get size of Log File (%s)\n",
           currentLogFilePath);
    return false;
  }
  if (size != 0) {
    numberedFilePath(2, to);
    if (!osFileMove(currentLogFilePath, to)) {
      count(MOVE_FILE);
      logFatalError("updateCircularBufferFiles(bool) : Could not move (%s) to (%s)\n", currentLogFilePath, to);
      currentLogFileSize = size;
      return false;
    }
  }
  if (!osFileExists(currentLogFilePath) && !osFileCreate(currentLogFilePath)) {
    count(CREATE_FILE);
    logFatalError("updateCircularBufferFiles(bool) : Couldn't create (%s)\n", currentLogFilePath);
    return false;
  }
  logFile = std::fopen(currentLogFilePath, "a+");
  if (logFile == nullptr) {
    count(FILE_OPEN);
    logFatalError("updateCircularBufferFiles(bool) : Couldn't open new Log File (%s)\n", currentLogFilePath);
    return false;
  }
  char zone[OS_TIME_ZONE_STRING_SIZE];
  osTimeZoneString(zone, sizeof zone);
  char line[64];
  std::snprintf(line, sizeof line, "Time Zone = %s\n", zone);
  writeTextToLogFile(line);
  return true;
}

// ---- The fatal-error file

void GenericLogger::writeTimeZoneLine(FILE* stream, const char* timeStamp, const char* levelName) {
  char zone[OS_TIME_ZONE_STRING_SIZE];
  osTimeZoneString(zone, sizeof zone);
  char text[64];
  std::snprintf(text, sizeof text, "Time Zone = %s\n", zone);
  writeLine(stream, timeStamp, levelName, text, nullptr);
}

void GenericLogger::writeBufferToFatalErrorFile(const LogBuffer* record) {
  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  FILE* file = std::fopen(fatalErrorFilePath, "a+");
  if (file == nullptr) {
    count(FILE_OPEN);
    return;
  }
  uint32_t size = 0;
  if (!osGetFileSize(fatalErrorFilePath, &size)) {
    count(GET_FILE_SIZE);
    logMsg(LOG_LEVEL_INFO,
           "writeBufferToFatalErrorFile(LogBuffer) : writeBufferToFatalErrorFile: Couldn't get size of Log File "
           "(%s)\n",
           fatalErrorFilePath);
  } else if (size == 0) {
    writeTimeZoneLine(file, record->timeStamp, record->levelName);
  }
  writeLine(file, record->timeStamp, record->levelName, record->text, nullptr);
  if (std::fclose(file) != 0) {
    count(FILE_CLOSE);
    logFatalError("writeBufferToFatalErrorFile(LogBuffer) : Couldn't close (%s) Error Code is %d\n",
                  fatalErrorFilePath, -1);
    return;
  }
  if (!osGetFileSize(fatalErrorFilePath, &size)) {
    count(GET_FILE_SIZE);
    logMsg(LOG_LEVEL_INFO, "writeBufferToFatalErrorFile(LogBuffer) : Couldn't get size of Log File (%s) \n",
           fatalErrorFilePath);
    return;
  }
  if (size <= kFatalErrorFileLimit) return;
  replaceOversizedFatalErrorFile(record);
}

void GenericLogger::replaceOversizedFatalErrorFile(const LogBuffer* record) {
  if (osFileExists(oldFatalErrorFilePath)) {
    // Make room; the oversized file moves at the next FATAL entry.
    if (!osFileDelete(oldFatalErrorFilePath)) {
      count(DELETE_FILE);
      logFatalError("writeBufferToFatalErrorFile(LogBuffer) : Couldn't delete (%s)\n", oldFatalErrorFilePath);
    }
    return;
  }
  if (!osFileMove(fatalErrorFilePath, oldFatalErrorFilePath)) {
    count(MOVE_FILE);
    logFatalError("writeBufferToFatalErrorFile(LogBuffer) : Couldn't move (%s) to (%s)\n", fatalErrorFilePath,
                  oldFatalErrorFilePath);
  }
  if (!osFileCreate(fatalErrorFilePath)) {
    count(CREATE_FILE);
    logFatalError("writeBufferToFatalErrorFile(LogBuffer) : Couldn't create (%s)\n", fatalErrorFilePath);
    return;
  }
  FILE* file = std::fopen(fatalErrorFilePath, "a+");
  if (file == nullptr) {
    count(FILE_OPEN);
    logFatalError("writeBufferToFatalErrorFile(LogBuffer): Could not open file (%s)\n", fatalErrorFilePath);
    return;
  }
  writeTimeZoneLine(file, record->timeStamp, record->levelName);
  if (std::fclose(file) != 0) {
    count(FILE_CLOSE);
    logFatalError("writeBufferToFatalErrorFile(LogBuffer) : Could not close (%s) Error Code is -> %d\n",
                  fatalErrorFilePath, -1);
  }
}

void GenericLogger::logFatalError(const char* format, ...) {
  const uint32_t number = internalFatalErrorCount.fetch_add(1) + 1;
  if (number > kMaxFatalErrors) return;
  const bool reentered = fatalErrorDepth > 0;
  struct Depth {
    Depth() { ++fatalErrorDepth; }
    ~Depth() { --fatalErrorDepth; }
  } depth;

  char timeStamp[OS_LOCAL_TIME_STRING_SIZE];
  osLocalTimeString(timeStamp, sizeof timeStamp);
  // The callers pass fixed texts with at most two paths.
  char message[2 * kFilePathSize + 512];
  if (number == kMaxFatalErrors) {
    std::snprintf(message, sizeof message, "Max internal fatal errors reached. No more errors will be logged ...\n");
  } else {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message - 1, format, arguments);
    va_end(arguments);
    const size_t length = std::strlen(message);
    if (length == 0 || message[length - 1] != '\n') std::strcat(message, "\n");
  }
  char line[sizeof message + 64];
  std::snprintf(line, sizeof line, "%s\t%s\t%s", timeStamp, "FATAL", message);
  if (ErrorReportHandler handler = errorReportHandler.load()) handler(line);

  std::lock_guard<std::recursive_mutex> files(fileSetLock);
  if (!reentered && !osFileExists(logDirectory) && !osDirectoryCreateTree(logDirectory)) {
    fallBackToDefaultDirectory(
        "logFatalError() : Couldn't create logfile dir (%s) so logs are moved to Default directory\n");
  }
  FILE* file = std::fopen(fatalErrorFilePath, "a+");
  if (file == nullptr) {
    count(FILE_OPEN);
    return;
  }
  uint32_t size = 0;
  if (!osGetFileSize(fatalErrorFilePath, &size)) {
    count(GET_FILE_SIZE);
    if (!reentered) logFatalError("logFatalError()  :  Couldn't get size of Log File (%s)\n", fatalErrorFilePath);
  } else if (size == 0) {
    writeTimeZoneLine(file, timeStamp, "INFO ");
  }
  std::fputs(line, file);
  if (std::fclose(file) != 0) count(FILE_CLOSE);
}
