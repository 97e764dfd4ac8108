// GenericLoggerRegistry: keeps a running GenericLogger in step with a key of
// the settings store.
//
// The key holds up to five values: the log level, the maximum file size in
// megabytes, the maximum number of files, the log directory and (when a name
// is given for it) whether the debug console is open. The object reads them,
// creating the key and writing the values in force for those that are
// missing, applies them through the logger's settings accessors, and writes
// back every value the logger refused, so that the store always shows what
// is in force. Once activated, a watcher thread waits for the store's
// one-shot change notification on the key and applies the values again after
// every change.
//
// Usage, as the trace facade does it:
//
//   GenericLoggerRegistry settings(RootKey::LocalMachine, "SOFTWARE\\X", "LogLevel", "LogSize",
//                                  "MaxNumLogFiles", "LogPath", nullptr);
//   settings.setLoggingRegistryKeySettings();
//   settings.activateRegistryChecking(logger);
//   logger->startLogging();
//   ...
//   settings.deactivateRegistryChecking();   // the watcher has ended when this returns
//
// Failures are printed on standard output and reported as false; nothing
// throws. A value of the wrong type (text where a number belongs) or a value
// too long to read is replaced by the value in force; the other values are
// left as the administrator wrote them. A store file that does not parse is
// never rewritten: the logger keeps its settings, the failure is printed with
// the store's own message (file and line), and the watcher goes on waiting.
//
// Threads: construction, setLoggingRegistryKeySettings, activation,
// deactivation and the dump belong to one controlling thread; the watcher
// runs beside it. The object and the logger must outlive the activation.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "logger/generic_logger.h"
#include "platform/console/generic_console.h"
#include "platform/event.h"
#include "platform/os/os_semaphore.h"
#include "platform/os/os_thread.h"
#include "platform/settings/registry_types.h"
#include "platform/settings/settings_store.h"

class GenericLoggerRegistry {
 public:
  // A stored "LogPath" is read into 256 characters and the terminator; the
  // directory in force, written back, is the logger's native form, which may
  // be longer.
  static constexpr size_t kReadablePathSize = 257;
  static constexpr size_t kPathSize = GenericLogger::kNativePathSize;
  static constexpr size_t kKeyNameSize = 1025;  // 1024 characters and the terminator
  static constexpr size_t kValueNameSize = 129;

  // Extended form: with number of files and directory. consoleSubKeyName may
  // be null (no console value); when given it is also the console's title.
  GenericLoggerRegistry(zem::RootKey hMainKey, const char* loggerRegKeyName, const char* logLevelSubKeyName,
                        const char* maxLogSizeInMegsSubKeyName, const char* maxNumberOfLogFilesSubKeyName,
                        const char* directoryPathSubKeyName, const char* consoleSubKeyName);
  // Short form: level, size and console only.
  GenericLoggerRegistry(zem::RootKey hMainKey, const char* loggerRegKeyName, const char* logLevelSubKeyName,
                        const char* maxLogSizeInMegsSubKeyName, const char* consoleSubKeyName);
  // Deactivates, then closes the console.
  ~GenericLoggerRegistry();
  GenericLoggerRegistry(const GenericLoggerRegistry&) = delete;
  GenericLoggerRegistry& operator=(const GenericLoggerRegistry&) = delete;

  // Brings the key into shape before activation: reads it, and when that
  // fails creates the key and writes every value that is missing or
  // unusable.
  bool setLoggingRegistryKeySettings();
  // Reads the values; a missing value is written with the value in force, a
  // number of the wrong type fails the read.
  bool readLoggingRegistryKeys();
  // Applies the values to the logger once, then starts the watcher.
  bool activateRegistryChecking(GenericLogger* ptrLogger);
  // Stops the watcher and waits until it has ended.
  void deactivateRegistryChecking();
  // Reads the values and applies them to the logger, writing back what it refused.
  bool updateLoggerDynamicConfig();
  // The settings dump on standard output.
  void printSettings();

  // For reports and tests.
  bool isCheckingActivated() const { return checkingActivated.load(); }
  bool isWatcherRunning() const;
  // How many changes the watcher has handled so far.
  uint32_t watcherPasses() const { return watcherPassCount.load(); }
  uint32_t getLogLevelKeySetting();
  uint32_t getMaxLogSizeInMegsKeySetting();
  uint32_t getMaxNumberOfLogFilesKeySetting();
  void getDirectoryPathKeySetting(char* out);  // kPathSize bytes

 private:
  GenericLoggerRegistry(bool extended, zem::RootKey hMainKey, const char* loggerRegKeyName,
                        const char* logLevelSubKeyName, const char* maxLogSizeInMegsSubKeyName,
                        const char* maxNumberOfLogFilesSubKeyName, const char* directoryPathSubKeyName,
                        const char* consoleSubKeyName);
  static uint32_t checkRegSettingsThread_stub(void* object);
  void checkRegSettingsThread();
  // The read of readLoggingRegistryKeys on an open key; `repair` writes
  // unusable values instead of failing on them.
  bool readValues(zem::RegistryKey& key, bool repair, const char* setFailureText);
  bool readNumber(zem::RegistryKey& key, const char* name, uint32_t& setting, uint32_t fallback, bool typeChecked,
                  bool repair, const char* readFailureText, const char* setFailureText);
  bool readDirectory(zem::RegistryKey& key, bool repair, const char* setFailureText);
  bool writeBack(zem::RegistryKey& key, const char* name, uint32_t value);
  bool applyDirectory(zem::RegistryKey& key);
  bool logDirectoryWritable(const char* directory);
  void printStoreFailure(const char* operation, const std::string& message);

  char directoryPath[kPathSize] = {};
  uint32_t fallbackLogLevel = 2;
  uint32_t fallbackMaxLogSizeInMegs = 10;
  uint32_t fallbackMaxNumberOfLogFiles = 5;
  const bool extendedSettings;
  GenericLogger* pLogger = nullptr;
  GenericConsole console;
  std::atomic<bool> checkingActivated{false};
  const bool consoleEnabled;
  OsThreadId regCheckThreadId = 0;
  OsThreadHandle regCheckThreadHandle = nullptr;
  uint32_t logLevelKeySetting = 2;
  uint32_t maxLogSizeInMegsKeySetting = 10;
  uint32_t consoleKeySetting = 0;
  uint32_t maxNumberOfLogFilesKeySetting = 5;
  char directoryPathKeySetting[kPathSize] = {};
  const zem::RootKey hMainKey;
  char loggerRegKeyName[kKeyNameSize] = {};
  char logLevelSubKeyName[kValueNameSize] = {};
  char maxLogSizeInMegsSubKeyName[kValueNameSize] = {};
  char consoleSubKeyName[kValueNameSize] = {};
  char maxNumberOfLogFilesSubKeyName[kValueNameSize] = {};
  char directoryPathSubKeyName[kValueNameSize] = {};
  OsSemaphoreHandle threadExitSemaphore = nullptr;
  bool firstUpdateDone = false;
  // Made before the watcher starts, so that a deactivation always finds them.
  std::shared_ptr<zem::Event> wakeEvent;
  zem::RegistryKey watchedKey;  // the watcher's, opened and armed by the activation
  bool watchArmed = false;
  std::atomic<bool> watcherRunning{false};
  std::atomic<uint32_t> watcherPassCount{0};

  // The settings fields above are read and written by the watcher and the
  // controlling thread; this lock keeps each read, update and dump whole.
  // The logger never calls back, so holding it around the accessors is safe.
  mutable std::recursive_mutex settingsLock;
};
