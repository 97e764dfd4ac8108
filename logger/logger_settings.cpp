// The settings a running logger lets change: each is guarded by a binary
// semaphore of its own, and checked against ranges, the free disk space and
// the path format.
//
// No semaphore is held while something that may write the fatal-error file
// runs (the free-space query, logFatalError): the logging thread reads the
// settings while it holds the file set, so the two must never wait for each
// other the other way round.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "logger/generic_logger.h"
#include "platform/os/os.h"
#include "platform/paths.h"

namespace {

constexpr uint32_t kMinFileSizeInMegs = 10;
constexpr uint32_t kMaxFileSizeInMegs = 50;
constexpr uint32_t kMinNumberOfFiles = 5;
constexpr uint32_t kMaxNumberOfFiles = 25;
// What IsValidPathFormat gives for a native absolute path ("/var/log/x"),
// which names no drive: one past the drive letters.
constexpr int kNativePathDrive = 27;

// Hands a path back in a caller's buffer of GenericLogger::kPathSize bytes
// when it fits there; a longer one leaves the caller's text as it was.
void copyIfItFits(const char* path, char* buffer) {
  const size_t length = std::strlen(path);
  if (path != buffer && length < GenericLogger::kPathSize) std::memcpy(buffer, path, length + 1);
}

}  // namespace

// ---- The guard around every accessor

bool GenericLogger::takeSetting(const OsSemaphoreHandle& semaphore, const char* takeText) {
  if (!dynamicConfigSemaphoresCreated.load()) return false;
  if (osBinarySemaphoreTake(semaphore, options.timings.settingWaitMs)) return true;
  count(SEMAPHORE_TAKE);
  logFatalError("%s", takeText);
  return false;  // carry on without it
}

void GenericLogger::giveSetting(const OsSemaphoreHandle& semaphore, bool taken, const char* giveText) {
  if (!taken) return;
  if (!osBinarySemaphoreGive(semaphore)) {  // the OS layer prints the failure
    count(SEMAPHORE_GIVE);
    logFatalError("%s", giveText);
  }
}

// ---- Level, size, number of files, echo

bool GenericLogger::setCurrentLogLevel(uint32_t level) {
  const bool taken = takeSetting(currentLogLevelSemaphore, "setCurrentLogLevel() : SemaphoreTake failed\n");
  currentLogLevel = level;
  const bool refused = currentLogLevel.load() != level;
  giveSetting(currentLogLevelSemaphore, taken, "setCurrentLogLevel() : SemaphoreGive failed\n");
  return refused;
}

uint32_t GenericLogger::getCurrentLogLevel() {
  const bool taken = takeSetting(currentLogLevelSemaphore, "getCurrentLogLevel() : SemaphoreTake failed\n");
  const uint32_t level = currentLogLevel.load();
  giveSetting(currentLogLevelSemaphore, taken, "getCurrentLogLevel() : SemaphoreGive failed\n");
  return level;
}

// Whether a file set of `files` files of `megabytes` MiB may be configured:
// when the disk has room for one file more, or when the request shrinks it.
bool GenericLogger::diskRuleAllows(uint32_t files, uint32_t megabytes, uint32_t current, uint32_t requested,
                                   const char* failText, const char* thresholdText) {
  char directory[kNativePathSize];
  copyDirectoryPath(directory);
  double freeMegabytes = 0;
  if (!getFreeSpace(directory, freeMegabytes)) {
    logMsg(LOG_LEVEL_INFO, "%s", failText);
    return false;
  }
  const double needed = static_cast<double>(static_cast<uint32_t>((files + 1) * megabytes));
  if (needed < freeMegabytes || requested < current) return true;
  if (requested > current) logMsg(LOG_LEVEL_INFO, "%s", thresholdText);
  return false;
}

bool GenericLogger::setMaxLogFileSizeInMegs(uint32_t megabytes) {
  bool accept = false;
  if (megabytes < kMinFileSizeInMegs || megabytes > kMaxFileSizeInMegs) {
    logMsg(LOG_LEVEL_INFO,
           "setMaxLogFileSizeInMegs() : the maxLogFileSizeInMegs registry key value has been restored to previous "
           "settings\n");
  } else {
    accept = diskRuleAllows(
        maxNumberOfLogFiles.load(), megabytes, maxLogFileSizeInMegs.load(), megabytes,
        "setMaxLogFileSizeInMegs() : Error in getFreeSpace.The maxNumberOfLogFiles registry key value has been "
        "restored to previous settings\n",
        "setMaxLogFileSizeInMegs() : Available disk space is nearing the upper threshold. The maxLogFileSizeInMegs "
        "registry key value has been restored to previous settings\n");
  }
  const bool taken = takeSetting(maxLogFileSizeInMegsSemaphore,
                                 "setMaxLogFileSizeInMegs() : Updating of File Size failed - SemaphoreTake failed\n");
  if (accept) maxLogFileSizeInMegs = megabytes;
  const bool refused = maxLogFileSizeInMegs.load() != megabytes;
  giveSetting(maxLogFileSizeInMegsSemaphore, taken,
              "setMaxLogFileSizeInMegs() : Updating of File Size failed - SemaphoreGive failed\n");
  return refused;
}

uint32_t GenericLogger::getMaxLogFileSizeInBytes() {
  const bool taken = takeSetting(maxLogFileSizeInMegsSemaphore,
                                 "getMaxLogFileSizeInBytes() : Updating of File Size failed - SemaphoreTake failed\n");
  const uint32_t bytes = maxLogFileSizeInMegs.load() << 20;
  giveSetting(maxLogFileSizeInMegsSemaphore, taken,
              "getMaxLogFileSizeInBytes(): Updating of File Size failed - SemaphoreGive failed\n");
  return bytes;
}

bool GenericLogger::setMaxNumberOfLogFiles(uint32_t files) {
  bool accept = false;
  if (files < kMinNumberOfFiles || files > kMaxNumberOfFiles) {
    logMsg(LOG_LEVEL_INFO,
           "setMaxNumberOfLogFiles() : the maxNumberOfLogFiles registry key value has been restored to previous "
           "settings\n");
  } else {
    accept = diskRuleAllows(
        files, maxLogFileSizeInMegs.load(), maxNumberOfLogFiles.load(), files,
        "setMaxNumberOfLogFiles() :  Error in getFreeSpace. The maxNumberOfLogFiles registry key value has been "
        "restored to previous settings\n",
        "setMaxNumberOfLogFiles() : Available disk space is nearing the upper threshold. The maxNumberOfLogFiles "
        "registry key value has been restored to previous settings\n");
  }
  const bool taken =
      takeSetting(maxNumberOfLogFilesSemaphore,
                  "setMaxNumberOfLogFiles() : Updating of number of files failed - SemaphoreTake failed\n");
  if (accept) maxNumberOfLogFiles = files;
  const bool refused = maxNumberOfLogFiles.load() != files;
  giveSetting(maxNumberOfLogFilesSemaphore, taken,
              "setMaxNumberOfLogFiles() : Updating of number of files failed - SemaphoreGive failed\n");
  return refused;
}

uint32_t GenericLogger::getMaxNumberOfLogFiles() {
  const bool taken =
      takeSetting(maxNumberOfLogFilesSemaphore,
                  "getMaxNumberOfLogFiles() : Updating of number of files failed - SemaphoreTake failed\n");
  const uint32_t files = maxNumberOfLogFiles.load();
  giveSetting(maxNumberOfLogFilesSemaphore, taken,
              "getMaxNumberOfLogFiles() : Updating of number of files failed - SemaphoreGive failed\n");
  return files;
}

void GenericLogger::setLogToStdio(bool on) {
  const bool taken = takeSetting(logToStdioSemaphore, "setLogToStdio() : SemaphoreTake failed\n");
  logToStdio = on;
  giveSetting(logToStdioSemaphore, taken, "setLogToStdio() : SemaphoreGive failed\n");
}

bool GenericLogger::isLogToStdioOn() {
  const bool taken = takeSetting(logToStdioSemaphore, "isLogToStdioOn() : SemaphoreTake failed\n");
  const bool on = logToStdio.load();
  giveSetting(logToStdioSemaphore, taken, "isLogToStdioOn() : SemaphoreGive failed\n");
  return on;
}

// ---- Thread names

bool GenericLogger::addThreadNamePair(uint32_t threadId, const char* name) {
  const bool taken = takeSetting(threadNameTableSemaphore, "addThreadNamePair() : SemaphoreTake failed\n");
  const bool added = threadNames.add(threadId, name);
  giveSetting(threadNameTableSemaphore, taken, "addThreadNamePair() : SemaphoreGive failed\n");
  return added;
}

bool GenericLogger::getThreadName(uint32_t threadId, const char*& name) {
  const bool taken = takeSetting(threadNameTableSemaphore, "getThreadName() : SemaphoreTake failed\n");
  const bool found = threadNames.find(threadId, name);
  giveSetting(threadNameTableSemaphore, taken, "getThreadName() : SemaphoreGive failed\n");
  return found;
}

// ---- The directory

// The setting may change on another thread at any time (the settings
// watcher, the logging thread's revert): each thread reads its own copy,
// taken under the setting's semaphore and kept until its next call.
const char* GenericLogger::getDirectoryPath() {
  thread_local char copy[kNativePathSize];
  copyDirectoryPath(copy);
  return copy;
}

bool GenericLogger::setDirectoryPath(char* directory) {
  if (directory == nullptr) {
    logFatalError("setDirectoryPath() : directoryLoc is NULL\n");
    return false;
  }
  // The limit of 256 characters is that of the text as given; the work is
  // done on its absolute native form, which may be longer.
  const size_t givenLength = strnlen(directory, kNativePathSize);
  char request[kNativePathSize];
  std::snprintf(request, sizeof request, "%s", directory);
  char path[kNativePathSize];
  if (givenLength == 0) {
    copyDirectoryPath(path);  // empty: keep the current directory
    copyIfItFits(path, directory);
  } else {
    std::snprintf(path, sizeof path, "%s", directory);
  }

  if (IsValidPathFormat(path) != 0) {
    char full[OS_FULL_PATH_SIZE];
    if (osFullPathName(path, full)) {
      std::memcpy(path, full, std::strlen(full) + 1);
      copyIfItFits(path, directory);
    }
    if (!osFileExists(path) && !osDirectoryCreateTree(path)) {
      count(CREATE_DIRECTORY);
      logMsg(LOG_LEVEL_INFO, "IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value\n ");
    } else {
      double freeMegabytes = 0;
      if (getFreeSpace(path, freeMegabytes)) {
        const double needed =
            static_cast<double>(static_cast<uint32_t>((maxNumberOfLogFiles.load() + 1) * maxLogFileSizeInMegs.load()));
        if (freeMegabytes < needed) {
          logMsg(LOG_LEVEL_INFO,
                 "setDirectoryPath() : Available disk space is nearing the upper threshold. The LogPath registry key "
                 "value has been restored to previous settings\n");
        } else if (givenLength > kPathSize - 1) {
          logMsg(LOG_LEVEL_INFO,
                 "setDirectoryPath() : Length of LogPath is greater than 256 characters. The LogPath registry key "
                 "value has been restored to previous settings\n");
        } else {
          storeDirectoryPath(path);
          std::snprintf(request, sizeof request, "%s", path);
        }
      }
    }
  }
  char configured[kNativePathSize];
  copyDirectoryPath(configured);
  // File names are case-sensitive here: only the same spelling is the same directory.
  return std::strcmp(request, configured) != 0;
}

// ---- Path checks

int GenericLogger::IsValidPathFormat(const char* path) {
  if (path != nullptr) {
    for (char letter = 'a'; letter <= 'z'; ++letter) {
      if (std::tolower(static_cast<unsigned char>(path[0])) == letter && path[1] == ':' && path[2] == '\\') {
        return letter - 'a' + 1;
      }
    }
    // A native absolute path; "//host" is a network path.
    if (path[0] == '/' && path[1] != '/') return kNativePathDrive;
  }
  logMsg(LOG_LEVEL_INFO,
         "IsValidPathFormat() : Invalid Path Format,Path should be in proper format eg. Directory name:\\folder name "
         "\n");
  return 0;
}

bool GenericLogger::getFreeSpace(const char* path, double& freeMegabytes) {
  if (IsValidPathFormat(path) == 0) return false;
  const std::string directory = zem::nativePath(path);
  uint64_t freeBytes = 0;
  const bool read = options.freeSpace ? options.freeSpace(directory.c_str(), freeBytes)
                                      : osDiskFreeSpace(directory.c_str(), &freeBytes);
  if (!read) {
    logFatalError("getFreeSpace() : Couldn't read disk space");
    return false;
  }
  freeMegabytes = static_cast<double>(freeBytes) / 1048576.0;
  return true;
}

bool GenericLogger::IsPathValid(char* path) {
  if (IsValidPathFormat(path) == 0) return false;
  char full[OS_FULL_PATH_SIZE];
  const char* absolute = osFullPathName(path, full) ? full : path;
  copyIfItFits(absolute, path);
  if (osFileExists(absolute) || osDirectoryCreateTree(absolute)) return true;
  count(CREATE_DIRECTORY);
  logMsg(LOG_LEVEL_INFO, "IsPathValid() : Invalid Path, the LogPath has been reverted to the previous value\n ");
  return false;
}
